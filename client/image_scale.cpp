#include "client/image_scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

extern "C" {
#include <libswscale/swscale.h>
}

namespace thumbnail {
namespace {

// libswscale's vector code reads and writes whole blocks past the end of
// tightly packed rows, so the rows it cannot read in place and the picture it
// writes get a padded stride and spare rows.
constexpr int kStrideAlign = 64;
constexpr int kSpareRows = 2;

int PaddedStride(int width) { return (width * 3 + kStrideAlign - 1) / kStrideAlign * kStrideAlign; }

struct SwsDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

}  // namespace

PictureSize FitLongerEdge(int width, int height, int longer_edge, bool enlarge) {
  if (longer_edge <= 0 || width <= 0 || height <= 0) return {width, height};
  if (!enlarge && longer_edge >= width && longer_edge >= height) return {width, height};
  auto shorter = [&](int edge, int other) {
    long scaled = std::lround(static_cast<double>(edge) * longer_edge / other);
    return static_cast<int>(scaled < 1 ? 1 : scaled);
  };
  if (width >= height) return {longer_edge, shorter(height, width)};
  return {shorter(width, height), longer_edge};
}

bool ScaleFrame(const Frame& in, int width, int height, Frame* out) {
  if (width == in.width && height == in.height) {
    *out = in;
    return true;
  }
  bool shrinking = static_cast<long>(width) * height < static_cast<long>(in.width) * in.height;
  std::unique_ptr<SwsContext, SwsDeleter> context(
      sws_getContext(in.width, in.height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_BGR24,
                     (shrinking ? SWS_AREA : SWS_BICUBIC) | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
  if (!context) return false;

  // The rows are scaled where they lie in the frame, which spares a copy of
  // it (a hundred megabytes for an 8K frame), but for two kinds of row, read
  // from a padded copy as a second slice: the last, since libswscale reads a
  // little past a row's end, which for the last row is not the frame's; and
  // every row of an odd width, since for rows at odd addresses libswscale
  // rounds each row's last pixel another way.
  const int in_stride = in.width * 3;
  const int copied = in.width % 2 ? in.height : 1;
  const int in_place = in.height - copied;
  const int copy_stride = PaddedStride(in.width);
  std::vector<uint8_t> copy(static_cast<size_t>(copy_stride) * (copied + kSpareRows));
  for (int y = 0; y < copied; ++y)
    std::memcpy(&copy[static_cast<size_t>(y) * copy_stride], &in.bgr[static_cast<size_t>(in_place + y) * in_stride],
                static_cast<size_t>(in_stride));
  int out_stride = PaddedStride(width);
  std::vector<uint8_t> target(static_cast<size_t>(out_stride) * (height + kSpareRows));
  uint8_t* target_planes[1] = {target.data()};
  const uint8_t* rows[1] = {in.bgr.data()};
  const uint8_t* copied_rows[1] = {copy.data()};
  int done = in_place > 0 ? sws_scale(context.get(), rows, &in_stride, 0, in_place, target_planes, &out_stride) : 0;
  done += sws_scale(context.get(), copied_rows, &copy_stride, in_place, copied, target_planes, &out_stride);
  if (done != height) return false;

  out->width = width;
  out->height = height;
  out->bgr.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    std::memcpy(&out->bgr[static_cast<size_t>(y) * width * 3], &target[static_cast<size_t>(y) * out_stride],
                static_cast<size_t>(width) * 3);
  return true;
}

bool FitIntoFrame(const Frame& in, int width, int height, Frame* out) {
  // The edge that meets the box first takes its length; the other follows
  // the frame's aspect, rounded, at least one pixel and at most the box.
  const auto follow = [](int edge, int other, int box, int box_other) {
    long length = std::lround(static_cast<double>(edge) * box_other / other);
    return static_cast<int>(std::clamp<long>(length, 1, box));
  };
  const bool wider = static_cast<long>(in.width) * height >= static_cast<long>(width) * in.height;
  const PictureSize fitted = wider ? PictureSize{width, follow(in.height, in.width, height, width)}
                                   : PictureSize{follow(in.width, in.height, width, height), height};
  Frame scaled;
  if (!ScaleFrame(in, fitted.width, fitted.height, &scaled)) return false;
  out->width = width;
  out->height = height;
  out->bgr.assign(static_cast<size_t>(width) * height * 3, 0);
  const int left = (width - fitted.width) / 2, top = (height - fitted.height) / 2;
  for (int y = 0; y < fitted.height; ++y)
    std::memcpy(&out->bgr[(static_cast<size_t>(top + y) * width + left) * 3],
                &scaled.bgr[static_cast<size_t>(y) * fitted.width * 3], static_cast<size_t>(fitted.width) * 3);
  return true;
}

}  // namespace thumbnail
