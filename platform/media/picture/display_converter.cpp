#include "platform/media/picture/display_converter.h"

#include <zimg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"
#include "platform/media/picture/light_mapping.h"

namespace media {
namespace {

// libzimg reads and writes planes whose address and stride are multiples of
// this (AVX-512 builds ask for 64).
constexpr size_t kZimgAlignment = 64;

// Bands of the picture mapped side by side: no more than this many, none
// smaller than this (a thread costs more than the mapping of a small band).
constexpr int kMaxBands = 4;
constexpr int64_t kPixelsPerBand = 512 * 1024;

struct GraphDeleter {
  void operator()(zimg_filter_graph* g) const { zimg_filter_graph_free(g); }
};
using GraphPtr = std::unique_ptr<zimg_filter_graph, GraphDeleter>;

struct AlignedDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using AlignedBytes = std::unique_ptr<uint8_t, AlignedDeleter>;

AlignedBytes AllocateAligned(size_t size) {
  size = (std::max<size_t>(size, 1) + kZimgAlignment - 1) / kZimgAlignment * kZimgAlignment;
  return AlignedBytes(static_cast<uint8_t*>(std::aligned_alloc(kZimgAlignment, size)));
}

bool IsHdrTransfer(AVColorTransferCharacteristic t) {
  return t == AVCOL_TRC_SMPTE2084 || t == AVCOL_TRC_ARIB_STD_B67;
}

bool IsWideGamut(AVColorPrimaries p) {
  return p == AVCOL_PRI_BT2020 || p == AVCOL_PRI_SMPTE431 || p == AVCOL_PRI_SMPTE432;
}

bool HasColour(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d && d->nb_components >= 3 && !(d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL));
}

bool IsRgb(const AVPixFmtDescriptor* d) { return d->flags & AV_PIX_FMT_FLAG_RGB; }

// A planar layout libzimg reads as it is: a plane for each of the three
// components, little-endian, low bits, 8 to 16 bits in one or two bytes.
bool ZimgReads(const AVPixFmtDescriptor* d) {
  const uint64_t refused = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL;
  if (!(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & refused) || d->nb_components < 3) return false;
  for (int i = 0; i < 3; ++i) {
    const AVComponentDescriptor& c = d->comp[i];
    if (c.shift != 0 || c.offset != 0 || c.depth != d->comp[0].depth || c.depth < 8 || c.depth > 16 ||
        c.step != (c.depth > 8 ? 2 : 1))
      return false;
  }
  return d->comp[0].plane != d->comp[1].plane && d->comp[1].plane != d->comp[2].plane &&
         d->comp[0].plane != d->comp[2].plane;
}

bool Aligned(const PictureView& v, int planes) {
  for (int p = 0; p < planes; ++p)
    if (reinterpret_cast<uintptr_t>(v.data[p]) % kZimgAlignment || v.linesize[p] % kZimgAlignment) return false;
  return true;
}

// libzimg numbers matrices, transfers and primaries as H.273 does, like
// FFmpeg, and implements every value a resolved description holds.
zimg_matrix_coefficients_e Matrix(const PictureColour& c) { return static_cast<zimg_matrix_coefficients_e>(c.matrix); }

zimg_transfer_characteristics_e Transfer(const PictureColour& c) {
  return static_cast<zimg_transfer_characteristics_e>(c.transfer);
}

zimg_color_primaries_e Primaries(const PictureColour& c) { return static_cast<zimg_color_primaries_e>(c.primaries); }

zimg_chroma_location_e Siting(AVChromaLocation siting) {
  switch (siting) {
    case AVCHROMA_LOC_CENTER:
      return ZIMG_CHROMA_CENTER;
    case AVCHROMA_LOC_TOPLEFT:
      return ZIMG_CHROMA_TOP_LEFT;
    case AVCHROMA_LOC_TOP:
      return ZIMG_CHROMA_TOP;
    case AVCHROMA_LOC_BOTTOMLEFT:
      return ZIMG_CHROMA_BOTTOM_LEFT;
    case AVCHROMA_LOC_BOTTOM:
      return ZIMG_CHROMA_BOTTOM;
    default:
      return ZIMG_CHROMA_LEFT;  // AVCHROMA_LOC_LEFT: a resolved siting is one of these six
  }
}

// Where libzimg hands over each finished row of linear light.
struct RowSink {
  const LightMapping* mapping;
  const zimg_image_buffer* rows;
  uint8_t* top;
  ptrdiff_t stride;

  static int Pack(void* user, unsigned i, unsigned left, unsigned right) {
    auto* sink = static_cast<RowSink*>(user);
    const float* plane[3];
    for (int p = 0; p < 3; ++p) {
      const auto& b = sink->rows->plane[p];
      plane[p] = reinterpret_cast<const float*>(static_cast<const uint8_t*>(b.data) +
                                                static_cast<ptrdiff_t>(i & b.mask) * b.stride) +
                 left;
    }
    uint8_t* out = sink->top + static_cast<ptrdiff_t>(i) * sink->stride + static_cast<ptrdiff_t>(left) * 3;
    sink->mapping->MapRow(plane[0], plane[1], plane[2], right - left, out);
    return 0;
  }
};

// Output rows [first, last) of the picture `in` shown as `out` (width and
// height of the whole picture), through linear light and `mapping`, written
// as BGR from `top` on, `stride` bytes apart.
bool MapBand(const PictureView& src, const zimg_image_format& in, const zimg_image_format& whole,
             const LightMapping& mapping, int first, int last, uint8_t* top, ptrdiff_t stride) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(src.format);
  zimg_image_format source = in;
  const double scale = static_cast<double>(in.height) / whole.height;
  source.active_region.top = first * scale;
  source.active_region.height = (last - first) * scale;
  source.active_region.left = 0;
  source.active_region.width = in.width;
  zimg_image_format out = whole;
  out.height = static_cast<unsigned>(last - first);
  const unsigned width = out.width, height = out.height;

  zimg_graph_builder_params params;
  zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
  params.nominal_peak_luminance = kReferenceWhite;
  params.allow_approximate_gamma = 1;
  GraphPtr graph(zimg_filter_graph_build(&source, &out, &params));
  if (!graph) return false;
  size_t tmpSize = 0;
  unsigned lines = 0;
  if (zimg_filter_graph_get_tmp_size(graph.get(), &tmpSize) != ZIMG_ERROR_SUCCESS ||
      zimg_filter_graph_get_output_buffering(graph.get(), &lines) != ZIMG_ERROR_SUCCESS)
    return false;
  // The linear rows live in a ring of a few lines: the mapping packs each
  // into the 24-bit rows as soon as it is done.
  unsigned ring = height;
  unsigned mask = ZIMG_BUFFER_MAX;
  if (lines != ZIMG_BUFFER_MAX && lines < height) {
    ring = 1;
    while (ring < lines) ring <<= 1;
    mask = ring - 1;
  }
  const ptrdiff_t floatStride = static_cast<ptrdiff_t>(
      (static_cast<size_t>(width) * sizeof(float) + kZimgAlignment - 1) / kZimgAlignment * kZimgAlignment);
  AlignedBytes linear = AllocateAligned(3 * ring * static_cast<size_t>(floatStride));
  AlignedBytes tmp = AllocateAligned(tmpSize);
  if (!linear || !tmp) return false;

  zimg_image_buffer_const srcBuffer{};
  srcBuffer.version = ZIMG_API_VERSION;
  for (int p = 0; p < 3; ++p) {
    const int plane = d->comp[p].plane;
    srcBuffer.plane[p].data = src.data[plane];
    srcBuffer.plane[p].stride = src.linesize[plane];
    srcBuffer.plane[p].mask = ZIMG_BUFFER_MAX;
  }
  zimg_image_buffer dstBuffer{};
  dstBuffer.version = ZIMG_API_VERSION;
  for (int p = 0; p < 3; ++p) {
    dstBuffer.plane[p].data = linear.get() + static_cast<ptrdiff_t>(p) * ring * floatStride;
    dstBuffer.plane[p].stride = floatStride;
    dstBuffer.plane[p].mask = mask;
  }
  RowSink sink{&mapping, &dstBuffer, top, stride};
  return zimg_filter_graph_process(graph.get(), &srcBuffer, &dstBuffer, tmp.get(), nullptr, nullptr, &RowSink::Pack,
                                   &sink) == ZIMG_ERROR_SUCCESS;
}

}  // namespace

ColourRoute RouteOf(const PictureView& picture) {
  if (!HasColour(picture.format)) return ColourRoute::kDirect;
  if (IsHdrTransfer(picture.colour.transfer)) return ColourRoute::kHdr;
  if (IsWideGamut(picture.colour.primaries)) return ColourRoute::kWideGamut;
  return ColourRoute::kDirect;
}

bool DisplayConverter::ThroughLight(const PictureView& picture, int width, int height, uint8_t* top,
                                    ptrdiff_t stride) {
  PictureView src = picture;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(src.format);
  if (!d) return false;
  // Packed, semi-planar and big-endian layouts are first spread over planes
  // of 16 bits, which keeps every value; so are planes libzimg cannot address.
  FramePtr spread;
  if (!ZimgReads(d) || !Aligned(src, 3)) {
    AVPixelFormat wide = IsRgb(d) ? AV_PIX_FMT_GBRP16LE : AV_PIX_FMT_YUV444P16LE;
    if (ZimgReads(d)) wide = src.format;  // only misaligned: copied as it is
    spread.reset(av_frame_alloc());
    if (!spread) return false;
    spread->format = wide;
    spread->width = src.width;
    spread->height = src.height;
    if (av_frame_get_buffer(spread.get(), kZimgAlignment) < 0) return false;
    if (wide == src.format) {
      av_image_copy(spread->data, spread->linesize, src.data, src.linesize, wide, src.width, src.height);
    } else if (!repack_.Convert(src, wide, src.width, src.height, spread->data, spread->linesize)) {
      return false;
    }
    src = ViewOfFrame(*spread, src.colour);
    d = av_pix_fmt_desc_get(src.format);
    if (!Aligned(src, 3)) return false;
  }
  const PictureColour& c = src.colour;
  const bool rgb = IsRgb(d);
  const int depth = d->comp[0].depth;

  zimg_image_format in;
  zimg_image_format_default(&in, ZIMG_API_VERSION);
  in.width = static_cast<unsigned>(src.width);
  in.height = static_cast<unsigned>(src.height);
  in.pixel_type = depth > 8 ? ZIMG_PIXEL_WORD : ZIMG_PIXEL_BYTE;
  in.subsample_w = d->log2_chroma_w;
  in.subsample_h = d->log2_chroma_h;
  in.color_family = rgb ? ZIMG_COLOR_RGB : ZIMG_COLOR_YUV;
  in.matrix_coefficients = rgb ? ZIMG_MATRIX_RGB : Matrix(c);
  in.transfer_characteristics = Transfer(c);
  in.color_primaries = Primaries(c);
  in.depth = static_cast<unsigned>(depth);
  in.pixel_range = rgb || c.range == AVCOL_RANGE_JPEG ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
  in.chroma_location = Siting(c.siting);

  zimg_image_format out = in;
  out.width = static_cast<unsigned>(width);
  out.height = static_cast<unsigned>(height);
  out.pixel_type = ZIMG_PIXEL_FLOAT;
  out.subsample_w = out.subsample_h = 0;
  out.color_family = ZIMG_COLOR_RGB;
  out.matrix_coefficients = ZIMG_MATRIX_RGB;
  out.transfer_characteristics = ZIMG_TRANSFER_LINEAR;
  out.color_primaries = ZIMG_PRIMARIES_BT709;
  out.depth = 32;
  out.pixel_range = ZIMG_RANGE_FULL;

  // Large pictures are mapped in bands side by side, one per processor: the
  // mapping is a long chain of arithmetic per pixel. Each band reads the
  // whole source (its filters see past the band's edges), so the bands join
  // without a seam.
  const int64_t pixels = static_cast<int64_t>(width) * height;
  const int bands = static_cast<int>(std::clamp<int64_t>(
      std::min<int64_t>(av_cpu_count(), pixels / kPixelsPerBand), 1, std::min(kMaxBands, height)));
  const LightMapping mapping(c.peakLuminance / kReferenceWhite);
  std::vector<std::thread> helpers;
  std::vector<char> done(static_cast<size_t>(bands), 0);
  for (int b = 0; b < bands; ++b) {
    const int first = static_cast<int>(static_cast<int64_t>(height) * b / bands);
    const int last = static_cast<int>(static_cast<int64_t>(height) * (b + 1) / bands);
    auto render = [&, b, first, last] {
      done[b] = MapBand(src, in, out, mapping, first, last, top + static_cast<ptrdiff_t>(first) * stride, stride);
    };
    if (b + 1 < bands) {
      try {
        helpers.emplace_back(render);
        continue;
      } catch (const std::system_error&) {
        // No thread to be had: this one does the band.
      }
    }
    render();
  }
  for (std::thread& t : helpers) t.join();
  return std::all_of(done.begin(), done.end(), [](char ok) { return ok != 0; });
}

bool DisplayConverter::ToDib(const PictureView& src, int width, int height, uint8_t* dib) {
  if (RouteOf(src) != ColourRoute::kDirect && DibGeometryAcceptable(width, height, 24) && src.width > 0 &&
      src.height > 0) {
    const size_t stride = DibStride(width, 24);
    // The mapping writes the pixels of each row.
    ClearDibPadding(dib, width, static_cast<size_t>(height));
    // The DIB's top row is its last.
    uint8_t* top = dib + (static_cast<size_t>(height) - 1) * stride;
    if (ThroughLight(src, width, height, top, -static_cast<ptrdiff_t>(stride))) return true;
  }
  // Colours libzimg cannot take are still shown, as libswscale sees them.
  return direct_.ConvertToDib(src, width, height, dib);
}

FramePtr DisplayConverter::ToBgrFrame(const PictureView& src, int width, int height) {
  FramePtr frame;
  if (RouteOf(src) != ColourRoute::kDirect && width > 0 && height > 0 && src.width > 0 && src.height > 0) {
    frame.reset(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_BGR24;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    if (!ThroughLight(src, width, height, frame->data[0], frame->linesize[0])) frame.reset();
  }
  if (!frame) frame = direct_.ConvertToFrame(src, AV_PIX_FMT_BGR24, width, height);
  if (!frame) return nullptr;
  frame->colorspace = AVCOL_SPC_RGB;
  frame->color_range = AVCOL_RANGE_JPEG;
  frame->color_trc = AVCOL_TRC_BT709;
  frame->color_primaries = AVCOL_PRI_BT709;
  return frame;
}

}  // namespace media
