#include "client/image_scale.h"

#include <cmath>
#include <cstring>
#include <memory>

extern "C" {
#include <libswscale/swscale.h>
}

namespace thumbnail {
namespace {

// libswscale's vector code reads and writes whole blocks past the end of
// tightly packed rows, so both sides get a padded stride and spare rows.
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

  int in_stride = PaddedStride(in.width);
  std::vector<uint8_t> source(static_cast<size_t>(in_stride) * (in.height + kSpareRows));
  for (int y = 0; y < in.height; ++y)
    std::memcpy(&source[static_cast<size_t>(y) * in_stride], &in.bgr[static_cast<size_t>(y) * in.width * 3],
                static_cast<size_t>(in.width) * 3);
  int out_stride = PaddedStride(width);
  std::vector<uint8_t> target(static_cast<size_t>(out_stride) * (height + kSpareRows));
  const uint8_t* source_planes[1] = {source.data()};
  uint8_t* target_planes[1] = {target.data()};
  if (sws_scale(context.get(), source_planes, &in_stride, 0, in.height, target_planes, &out_stride) != height)
    return false;

  out->width = width;
  out->height = height;
  out->bgr.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    std::memcpy(&out->bgr[static_cast<size_t>(y) * width * 3], &target[static_cast<size_t>(y) * out_stride],
                static_cast<size_t>(width) * 3);
  return true;
}

}  // namespace thumbnail
