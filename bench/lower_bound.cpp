// The lower bound for what the server does: its work done directly on
// libavformat, libavcodec, libswscale and libzimg, with nothing in between.
//
// A thumbnail: for each file it opens the input, visits the eight seek
// positions in order with a precise seek (key frame at or before the
// position, decode forward to the frame shown at the position), converts that
// frame to a bottom-up BGR24 bitmap with 32-bit row alignment, measures its
// brightness, and stops at the first frame that is not too dark. Then it
// sends the bitmap's rows, top row first, through a pipe to a thread that
// reads and discards them, as every request of the server ends. PQ and HLG
// pictures are converted through linear light by libzimg with a plain curve
// (BT.709, clipped at reference white), not by libswscale's matrix alone, so
// that the cost of seeing an HDR picture at all is in the bound and what lies
// above it is ours.
//
// Sprites (--sprites INTERVAL_S EDGE): one open; for each position 0,
// INTERVAL_S, 2 x INTERVAL_S ... before the end, a seek to the key frame at or
// before it, that one packet decoded alone (sent, the decoder drained and
// flushed), scaled with libswscale to a tile whose longer edge is EDGE, in
// BGR24, placed in a sheet of 10 x 10 tiles. The sheets' JPEG encoding is
// timed apart, so that the frames' bound and the pictures' are both seen.
//
//   lower_bound [--repeat N] [--warmup N] [--threads N] FILE...
//   lower_bound [--threads N] --serve
//   lower_bound [--threads N] --sprites INTERVAL_S EDGE FILE
//
// Every file is done N times in one process (after the warm-up rounds, which
// are not reported); run it with one file and --repeat 1 for the cost of a
// fresh process. With --serve the paths come from stdin, one a line, each
// answered at once, so that a driver can interleave this program with others
// under the same load. One line per grab on stdout, tab-separated:
//   file ms open_ms decode_ms convert_ms close_ms positions position_s measure WxH cpu_ms send_ms
// ms is the whole grab from open to close, cpu_ms the processor time that the
// process (all its threads) spent on it, send_ms the rows' way through the
// pipe; a failed grab reports "fail".
// For sprites, one line:
//   file tiles sheets tile_WxH frames_ms encode_ms cpu_ms open_ms decode_ms scale_ms
// frames_ms is the open, the seeks, the decoding and the scaling, without the
// JPEG encoding of the sheets (encode_ms); cpu_ms covers both.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zimg.h>

#include <cerrno>
#include <cstdio>
// jpeglib.h needs stdio's types first.
#include <jpeglib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/server_timing.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ProcessCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

constexpr AVRational kMediaTime = {1, 10000000};
constexpr uint32_t kDarkThreshold = 70;

struct CloseInput {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct FreeCodec {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FreeFrame {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreePacket {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FreeScaler {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using FramePtr = std::unique_ptr<AVFrame, FreeFrame>;

// One bottom-up 24-bit bitmap as a DIB section holds it: rows padded to a
// multiple of 4 bytes, the bottom row first in memory.
struct Bitmap {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<uint8_t> bits;
};

// The darkness rule of the frame selection, as the grabber applies it: h runs
// of 3w bytes from the start of the pixel memory, row padding not skipped,
// three times each run's byte sum divided by the width, averaged over the
// runs.
uint32_t BrightnessMeasure(const Bitmap& bitmap) {
  const uint32_t w = static_cast<uint32_t>(bitmap.width);
  const uint32_t h = static_cast<uint32_t>(bitmap.height);
  if (bitmap.height <= 0 || bitmap.width <= 0) return 0;
  const uint8_t* run = bitmap.bits.data();
  uint32_t total = 0;
  for (uint32_t y = 0; y < h; ++y, run += 3 * w) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 3 * w; ++i) sum += run[i];
    total += 3 * (sum / w);
  }
  return total / h;
}

struct Timings {
  double open = 0;
  double decode = 0;
  double convert = 0;
  double close = 0;
};

// The decoder of one file's video stream, positioned by precise seeks.
class VideoInput {
 public:
  // Opens the file and the decoder of its best video stream; every other
  // stream is discarded at the demuxer. threads 0 picks the count by size.
  bool Open(const char* path, int threads) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path, nullptr, nullptr) < 0) return false;
    format_.reset(raw);
    if (avformat_find_stream_info(format_.get(), nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    stream_index_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_index_ < 0 || !decoder) return false;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
      if (static_cast<int>(i) != stream_index_) format_->streams[i]->discard = AVDISCARD_ALL;
    stream_ = format_->streams[stream_index_];

    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream_->codecpar) < 0) return false;
    codec_->pkt_timebase = stream_->time_base;
    // The server's choice: one thread decodes a single frame faster up to
    // 1080p; above that one thread per core, at most four.
    const int64_t pixels = int64_t{stream_->codecpar->width} * stream_->codecpar->height;
    codec_->thread_count = threads > 0 ? threads : (pixels > 1920 * 1088 ? std::clamp(av_cpu_count(), 1, 4) : 1);
    if (avcodec_open2(codec_.get(), decoder, nullptr) < 0) return false;

    start_ = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    duration_ = format_->duration != AV_NOPTS_VALUE ? av_rescale_q(format_->duration, AV_TIME_BASE_Q, kMediaTime) : -1;
    const AVRational rate = av_guess_frame_rate(format_.get(), stream_, nullptr);
    frame_duration_ = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), kMediaTime) : 400000;
    packet_.reset(av_packet_alloc());
    current_.reset(av_frame_alloc());
    next_.reset(av_frame_alloc());
    return packet_ && current_ && next_;
  }

  // The file's duration in 100 ns units, or -1 when it is not known.
  int64_t Duration() const { return duration_; }

  // The key frame at or before position (100 ns units from the file's
  // start), decoded alone: its packet is sent, the decoder drained and then
  // flushed, so that no packet after it is read. Null when there is none.
  const AVFrame* KeyFrameAtOrBefore(int64_t position) {
    if (!SeekBefore(position, 0)) return nullptr;
    for (;;) {
      if (av_read_frame(format_.get(), packet_.get()) < 0) return nullptr;
      if (packet_->stream_index == stream_index_ && (packet_->flags & AV_PKT_FLAG_KEY)) break;
      av_packet_unref(packet_.get());
    }
    const bool sent = avcodec_send_packet(codec_.get(), packet_.get()) >= 0;
    av_packet_unref(packet_.get());
    avcodec_send_packet(codec_.get(), nullptr);
    // The first frame out is the key frame's; a decoder that still held
    // another would hand it over later in the drain.
    bool decoded = false;
    while (avcodec_receive_frame(codec_.get(), decoded ? next_.get() : current_.get()) == 0) {
      if (decoded) av_frame_unref(next_.get());
      decoded = true;
    }
    avcodec_flush_buffers(codec_.get());
    return sent && decoded ? current_.get() : nullptr;
  }

  // The frame shown at position (100 ns units from the file's start): the
  // last frame whose presentation time is at or before it, or the last frame
  // of the stream when the stream ends first. Null when there is none.
  const AVFrame* FrameAt(int64_t position) {
    if (have_current_) {
      const int64_t shown = Relative(current_.get());
      if (shown <= position && position < shown + Length(current_.get())) return current_.get();
    }
    const bool forward = have_current_ && !draining_ && Relative(current_.get()) < position && KeyFrameBehind(position);
    if (!forward && !SeekBefore(position, 0)) return nullptr;
    bool first = !forward;
    bool from_start = false;
    int64_t backoff = 10000000;
    for (;;) {
      const Step step = NextFrame();
      if (step == Step::kEnd) return have_current_ ? current_.get() : nullptr;
      if (step == Step::kError) return nullptr;
      const int64_t shown = Relative(next_.get());
      if (first && shown > position && !from_start) {
        // The demuxer landed after the position (transport streams do): go
        // further back, to the start of the file at the most.
        from_start = position - backoff <= 0;
        if (!SeekBefore(position, backoff)) return nullptr;
        backoff *= 2;
        continue;
      }
      first = false;
      av_frame_unref(current_.get());
      av_frame_move_ref(current_.get(), next_.get());
      have_current_ = true;
      if (position < shown + Length(current_.get())) return current_.get();
    }
  }

 private:
  enum class Step { kFrame, kEnd, kError };

  int64_t Relative(const AVFrame* frame) const {
    const int64_t pts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    return pts == AV_NOPTS_VALUE ? 0 : av_rescale_q(pts - start_, stream_->time_base, kMediaTime);
  }
  int64_t Length(const AVFrame* frame) const {
    return frame->pkt_duration > 0 ? av_rescale_q(frame->pkt_duration, stream_->time_base, kMediaTime) : frame_duration_;
  }

  // Whether the key frame at or before position lies at or behind the packets
  // already fed to the decoder, so that decoding on reaches the position
  // sooner than a seek would. Without an index the answer is no.
  bool KeyFrameBehind(int64_t position) const {
    if (last_dts_ == AV_NOPTS_VALUE) return false;
    const int64_t target = start_ + av_rescale_q(position, kMediaTime, stream_->time_base);
    const int index = av_index_search_timestamp(stream_, target, AVSEEK_FLAG_BACKWARD);
    if (index < 0) return false;
    const AVIndexEntry* entry = avformat_index_get_entry(stream_, index);
    return entry && entry->timestamp <= last_dts_;
  }

  // Seeks to the key frame at or before position minus backoff; a target
  // before the start goes to byte 0, where the first key frame is.
  bool SeekBefore(int64_t position, int64_t backoff) {
    const int64_t wanted = position - backoff;
    int result;
    if (wanted <= 0 && backoff > 0) {
      result = av_seek_frame(format_.get(), stream_index_, 0, AVSEEK_FLAG_BYTE);
    } else {
      const int64_t target = start_ + av_rescale_q(wanted, kMediaTime, stream_->time_base);
      result = av_seek_frame(format_.get(), stream_index_, target, AVSEEK_FLAG_BACKWARD);
    }
    if (result < 0) return false;
    avcodec_flush_buffers(codec_.get());
    need_key_ = true;
    draining_ = false;
    have_current_ = false;
    last_dts_ = AV_NOPTS_VALUE;
    return true;
  }

  // The next decoded frame into next_, reading packets as the decoder asks.
  Step NextFrame() {
    for (;;) {
      const int received = avcodec_receive_frame(codec_.get(), next_.get());
      if (received == 0) return Step::kFrame;
      if (received == AVERROR_EOF) return Step::kEnd;
      if (received != AVERROR(EAGAIN)) return Step::kError;
      if (draining_) return Step::kEnd;
      if (av_read_frame(format_.get(), packet_.get()) < 0) {
        draining_ = true;
        avcodec_send_packet(codec_.get(), nullptr);
        continue;
      }
      const bool wanted = packet_->stream_index == stream_index_ && (!need_key_ || (packet_->flags & AV_PKT_FLAG_KEY));
      if (wanted) {
        need_key_ = false;
        if (packet_->dts != AV_NOPTS_VALUE) last_dts_ = packet_->dts;
        // A packet the decoder refuses is damaged; the next one may decode.
        avcodec_send_packet(codec_.get(), packet_.get());
      }
      av_packet_unref(packet_.get());
    }
  }

  // Declared so that the decoder dies before the input it reads from.
  std::unique_ptr<AVFormatContext, CloseInput> format_;
  std::unique_ptr<AVCodecContext, FreeCodec> codec_;
  std::unique_ptr<AVPacket, FreePacket> packet_;
  FramePtr current_;
  FramePtr next_;
  AVStream* stream_ = nullptr;
  int stream_index_ = -1;
  int64_t start_ = 0;
  int64_t duration_ = -1;
  int64_t frame_duration_ = 0;
  int64_t last_dts_ = AV_NOPTS_VALUE;
  bool have_current_ = false;
  bool need_key_ = true;
  bool draining_ = false;
};

// libzimg reads and writes planes whose address and stride are multiples of
// this (its AVX-512 code asks for 64).
constexpr int kZimgAlignment = 64;

// Reference white, 203 cd/m², is 1.0 of the linear light.
constexpr double kReferenceWhite = 203.0;

// Bands of a picture converted side by side: no more than this many, none
// smaller than this, the server's rule.
constexpr int kMaxBands = 4;
constexpr int64_t kPixelsPerBand = 512 * 1024;

struct FreeGraph {
  void operator()(zimg_filter_graph* graph) const { zimg_filter_graph_free(graph); }
};
struct FreeAligned {
  void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using AlignedBytes = std::unique_ptr<uint8_t, FreeAligned>;

AlignedBytes AllocateAligned(size_t size) {
  size = (std::max<size_t>(size, 1) + kZimgAlignment - 1) / kZimgAlignment * kZimgAlignment;
  return AlignedBytes(static_cast<uint8_t*>(std::aligned_alloc(kZimgAlignment, size)));
}

bool IsHdr(const AVFrame* frame) {
  return frame->color_trc == AVCOL_TRC_SMPTE2084 || frame->color_trc == AVCOL_TRC_ARIB_STD_B67;
}

// libzimg's description of a planar YUV frame of 8 to 16 bits, little-endian;
// false for any other layout. libzimg numbers matrices, transfers and
// primaries as FFmpeg does; an HDR frame that leaves them out is BT.2020.
bool DescribeForZimg(const AVFrame* frame, zimg_image_format* in) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  const uint64_t refused = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_RGB |
                           AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM;
  if (!d || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & refused) || d->nb_components < 3) return false;
  const int depth = d->comp[0].depth;
  for (int i = 0; i < 3; ++i)
    if (d->comp[i].plane != i || d->comp[i].shift || d->comp[i].depth != depth || depth < 8 || depth > 16) return false;
  zimg_image_format_default(in, ZIMG_API_VERSION);
  in->width = static_cast<unsigned>(frame->width);
  in->height = static_cast<unsigned>(frame->height);
  in->pixel_type = depth > 8 ? ZIMG_PIXEL_WORD : ZIMG_PIXEL_BYTE;
  in->subsample_w = d->log2_chroma_w;
  in->subsample_h = d->log2_chroma_h;
  in->color_family = ZIMG_COLOR_YUV;
  in->matrix_coefficients = frame->colorspace == AVCOL_SPC_UNSPECIFIED
                                ? ZIMG_MATRIX_BT2020_NCL
                                : static_cast<zimg_matrix_coefficients_e>(frame->colorspace);
  in->transfer_characteristics = static_cast<zimg_transfer_characteristics_e>(frame->color_trc);
  in->color_primaries = frame->color_primaries == AVCOL_PRI_UNSPECIFIED
                            ? ZIMG_PRIMARIES_BT2020
                            : static_cast<zimg_color_primaries_e>(frame->color_primaries);
  in->depth = static_cast<unsigned>(depth);
  in->pixel_range = frame->color_range == AVCOL_RANGE_JPEG ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
  return true;
}

// Where libzimg hands over each finished row of its ring: into the bitmap's
// row, interleaved as blue, green, red.
struct RowInterleave {
  const zimg_image_buffer* ring;
  Bitmap* out;
  int first;  // the band's first row in the picture

  static int Pack(void* user, unsigned i, unsigned left, unsigned right) {
    const auto* self = static_cast<RowInterleave*>(user);
    const uint8_t* plane[3];
    for (int p = 0; p < 3; ++p) {
      const auto& b = self->ring->plane[p];
      plane[p] = static_cast<const uint8_t*>(b.data) + static_cast<ptrdiff_t>(i & b.mask) * b.stride;
    }
    const int y = self->first + static_cast<int>(i);
    uint8_t* row = self->out->bits.data() + static_cast<size_t>(self->out->stride) * (self->out->height - 1 - y);
    for (unsigned x = left; x < right; ++x) {
      row[3 * x] = plane[2][x];
      row[3 * x + 1] = plane[1][x];
      row[3 * x + 2] = plane[0][x];
    }
    return 0;
  }
};

// Rows [first, last) of the frame described by `in`, through linear light,
// clipped at reference white, as 8-bit BT.709 into the bitmap.
bool ConvertBand(const AVFrame* frame, const zimg_image_format& in, int first, int last, Bitmap& out) {
  zimg_image_format source = in;
  source.active_region.left = 0;
  source.active_region.top = first;
  source.active_region.width = in.width;
  source.active_region.height = last - first;
  zimg_image_format target = in;
  target.height = static_cast<unsigned>(last - first);
  target.pixel_type = ZIMG_PIXEL_BYTE;
  target.subsample_w = target.subsample_h = 0;
  target.color_family = ZIMG_COLOR_RGB;
  target.matrix_coefficients = ZIMG_MATRIX_RGB;
  target.transfer_characteristics = ZIMG_TRANSFER_BT709;
  target.color_primaries = ZIMG_PRIMARIES_BT709;
  target.depth = 8;
  target.pixel_range = ZIMG_RANGE_FULL;

  zimg_graph_builder_params params;
  zimg_graph_builder_params_default(&params, ZIMG_API_VERSION);
  params.nominal_peak_luminance = kReferenceWhite;
  params.allow_approximate_gamma = 1;
  std::unique_ptr<zimg_filter_graph, FreeGraph> graph(zimg_filter_graph_build(&source, &target, &params));
  size_t tmp_size = 0;
  unsigned lines = 0;
  if (!graph || zimg_filter_graph_get_tmp_size(graph.get(), &tmp_size) != ZIMG_ERROR_SUCCESS ||
      zimg_filter_graph_get_output_buffering(graph.get(), &lines) != ZIMG_ERROR_SUCCESS)
    return false;
  // The 8-bit rows pass through a ring of a few lines on their way into the
  // bitmap.
  unsigned ring = target.height;
  unsigned mask = ZIMG_BUFFER_MAX;
  if (lines != ZIMG_BUFFER_MAX && lines < target.height) {
    for (ring = 1; ring < lines;) ring <<= 1;
    mask = ring - 1;
  }
  const ptrdiff_t stride = (target.width + kZimgAlignment - 1) / kZimgAlignment * kZimgAlignment;
  AlignedBytes rows = AllocateAligned(3 * ring * static_cast<size_t>(stride));
  AlignedBytes tmp = AllocateAligned(tmp_size);
  if (!rows || !tmp) return false;
  zimg_image_buffer_const src{};
  src.version = ZIMG_API_VERSION;
  for (int p = 0; p < 3; ++p) {
    src.plane[p].data = frame->data[p];
    src.plane[p].stride = frame->linesize[p];
    src.plane[p].mask = ZIMG_BUFFER_MAX;
  }
  zimg_image_buffer dst{};
  dst.version = ZIMG_API_VERSION;
  for (int p = 0; p < 3; ++p) {
    dst.plane[p].data = rows.get() + p * ring * stride;
    dst.plane[p].stride = stride;
    dst.plane[p].mask = mask;
  }
  RowInterleave sink{&dst, &out, first};
  return zimg_filter_graph_process(graph.get(), &src, &dst, tmp.get(), nullptr, nullptr, &RowInterleave::Pack,
                                   &sink) == ZIMG_ERROR_SUCCESS;
}

bool ZimgAligned(const AVFrame* frame) {
  for (int p = 0; p < 3; ++p)
    if (reinterpret_cast<uintptr_t>(frame->data[p]) % kZimgAlignment || frame->linesize[p] % kZimgAlignment)
      return false;
  return true;
}

// Converts frames to bottom-up BGR24 with one cached scaler, into one bitmap
// that it keeps from grab to grab, as a long-lived server could.
class Converter {
 public:
  // The bitmap of the frame, valid until the next call; null on failure.
  const Bitmap* Convert(const AVFrame* frame) {
    Shape(frame->width, frame->height, bitmap_);
    const bool done = (IsHdr(frame) && ThroughLight(frame, bitmap_)) || ConvertInto(frame, bitmap_);
    return done ? &bitmap_ : nullptr;
  }

 private:
  static void Shape(int width, int height, Bitmap& out) {
    out.width = width;
    out.height = height;
    out.stride = (3 * width + 3) & ~3;
    // The SIMD converters write whole blocks past a row's end: slack at the
    // end of the memory keeps that inside the buffer.
    out.bits.resize(static_cast<size_t>(out.stride) * height + 64);
  }

  // PQ and HLG through libzimg, in bands side by side; false for a layout
  // libzimg does not read, which libswscale then converts.
  bool ThroughLight(const AVFrame* frame, Bitmap& out) {
    zimg_image_format in;
    if (!DescribeForZimg(frame, &in)) return false;
    if (!ZimgAligned(frame)) {
      // Decoders hand out aligned frames; a copy covers the ones that do not.
      aligned_.reset(av_frame_alloc());
      if (!aligned_) return false;
      aligned_->format = frame->format;
      aligned_->width = frame->width;
      aligned_->height = frame->height;
      if (av_frame_get_buffer(aligned_.get(), kZimgAlignment) < 0 || av_frame_copy(aligned_.get(), frame) < 0)
        return false;
      frame = aligned_.get();
    }
    const int h = frame->height;
    const int64_t pixels = int64_t{frame->width} * h;
    const int bands = static_cast<int>(std::clamp<int64_t>(
        std::min<int64_t>(av_cpu_count(), pixels / kPixelsPerBand), 1, std::min(kMaxBands, h)));
    std::vector<std::thread> helpers;
    std::vector<char> done(static_cast<size_t>(bands), 0);
    for (int b = 0; b < bands; ++b) {
      const int first = static_cast<int>(int64_t{h} * b / bands);
      const int last = static_cast<int>(int64_t{h} * (b + 1) / bands);
      auto band = [&, b, first, last] { done[b] = ConvertBand(frame, in, first, last, out); };
      if (b + 1 < bands) {
        helpers.emplace_back(band);
      } else {
        band();
      }
    }
    for (std::thread& helper : helpers) helper.join();
    return std::all_of(done.begin(), done.end(), [](char ok) { return ok != 0; });
  }

  bool ConvertInto(const AVFrame* frame, Bitmap& out) {
    const int w = frame->width;
    const int h = frame->height;
    scaler_.reset(sws_getCachedContext(scaler_.release(), w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler_) return false;
    const int* coefficients = sws_getCoefficients(frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace);
    sws_setColorspaceDetails(scaler_.get(), coefficients, frame->color_range == AVCOL_RANGE_JPEG, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    // Top row last in memory: start at the last row and step backwards. A
    // row's overshoot would land on the row above it, already written, so
    // widths that are not a multiple of 16 go through a top-down buffer.
    if (w % 16 == 0) {
      uint8_t* planes[4] = {out.bits.data() + static_cast<size_t>(out.stride) * (h - 1), nullptr, nullptr, nullptr};
      int strides[4] = {-out.stride, 0, 0, 0};
      return sws_scale(scaler_.get(), frame->data, frame->linesize, 0, h, planes, strides) == h;
    }
    scratch_.resize(static_cast<size_t>(out.stride) * h + 64);
    uint8_t* planes[4] = {scratch_.data(), nullptr, nullptr, nullptr};
    int strides[4] = {out.stride, 0, 0, 0};
    if (sws_scale(scaler_.get(), frame->data, frame->linesize, 0, h, planes, strides) != h) return false;
    for (int y = 0; y < h; ++y)
      std::memcpy(out.bits.data() + static_cast<size_t>(out.stride) * (h - 1 - y),
                  scratch_.data() + static_cast<size_t>(out.stride) * y, static_cast<size_t>(out.stride));
    return true;
  }

  std::unique_ptr<SwsContext, FreeScaler> scaler_;
  std::vector<uint8_t> scratch_;
  FramePtr aligned_;
  Bitmap bitmap_;
};

// The way out of every request: the frame's rows, top row first, each
// 3 x width bytes without padding, written into a pipe (widened as the server
// widens its own) that a thread reads and discards as the parent would.
class RowPipe {
 public:
  RowPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    read_ = ends[0];
    write_ = ends[1];
    reader_ = std::thread([fd = read_] {
      std::vector<char> sink(1 << 16);
      for (;;) {
        const ssize_t got = read(fd, sink.data(), sink.size());
        if (got == 0 || (got < 0 && errno != EINTR)) return;
      }
    });
  }
  ~RowPipe() {
    if (write_ >= 0) close(write_);
    if (reader_.joinable()) reader_.join();
    if (read_ >= 0) close(read_);
  }
  RowPipe(const RowPipe&) = delete;
  RowPipe& operator=(const RowPipe&) = delete;

  // False when the pipe could not be made or a write failed.
  bool Send(const Bitmap& bitmap) {
    if (write_ < 0) return false;
    const size_t row = static_cast<size_t>(bitmap.width) * 3;
    std::vector<iovec> rows(static_cast<size_t>(bitmap.height));
    for (int y = 0; y < bitmap.height; ++y)
      rows[y] = {const_cast<uint8_t*>(bitmap.bits.data()) + static_cast<size_t>(bitmap.stride) * (bitmap.height - 1 - y),
                 row};
    // As many rows a call as the kernel takes; a short write resumes inside
    // its row.
    for (size_t next = 0; next < rows.size();) {
      const int count = static_cast<int>(std::min<size_t>(rows.size() - next, IOV_MAX));
      ssize_t written = writev(write_, &rows[next], count);
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return false;
      while (next < rows.size() && static_cast<size_t>(written) >= rows[next].iov_len) {
        written -= static_cast<ssize_t>(rows[next].iov_len);
        ++next;
      }
      if (written > 0) {
        rows[next].iov_base = static_cast<uint8_t*>(rows[next].iov_base) + written;
        rows[next].iov_len -= static_cast<size_t>(written);
      }
    }
    return true;
  }

 private:
  int read_ = -1;
  int write_ = -1;
  std::thread reader_;
};

struct Grab {
  bool ok = false;
  int positions = 0;
  int64_t position = 0;
  uint32_t measure = 0;
  int width = 0;
  int height = 0;
  double send = 0;
  Timings timings;
};

Grab GrabThumbnail(const char* path, int threads, Converter& converter, RowPipe& pipe) {
  Grab grab;
  auto start = Clock::now();
  auto input = std::make_unique<VideoInput>();
  const bool opened = input->Open(path, threads);
  grab.timings.open = MillisecondsSince(start);
  const Bitmap* bitmap = nullptr;
  if (opened) {
    for (int64_t position : wire::kWalkPositions) {
      if (input->Duration() >= 0 && input->Duration() <= position) position = input->Duration() / 2;
      ++grab.positions;
      grab.position = position;
      start = Clock::now();
      const AVFrame* frame = input->FrameAt(position);
      grab.timings.decode += MillisecondsSince(start);
      start = Clock::now();
      bitmap = frame ? converter.Convert(frame) : nullptr;
      grab.measure = bitmap ? BrightnessMeasure(*bitmap) : 0;
      grab.timings.convert += MillisecondsSince(start);
      if (bitmap) {
        grab.width = bitmap->width;
        grab.height = bitmap->height;
      }
      if (bitmap && grab.measure >= kDarkThreshold) break;
    }
  }
  start = Clock::now();
  grab.ok = bitmap && pipe.Send(*bitmap);
  grab.send = MillisecondsSince(start);
  start = Clock::now();
  input.reset();
  grab.timings.close = MillisecondsSince(start);
  return grab;
}

void GrabAndReport(const char* file, int threads, Converter& converter, RowPipe& pipe, bool report) {
  const auto start = Clock::now();
  const double cpu_start = ProcessCpuMilliseconds();
  const Grab grab = GrabThumbnail(file, threads, converter, pipe);
  const double cpu = ProcessCpuMilliseconds() - cpu_start;
  const double total = MillisecondsSince(start);
  if (!report) return;
  if (!grab.ok) {
    std::printf("%s\tfail\n", file);
  } else {
    const Timings& t = grab.timings;
    std::printf("%s\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%d\t%.3f\t%u\t%dx%d\t%.3f\t%.3f\n", file, total, t.open, t.decode,
                t.convert, t.close, grab.positions, grab.position / 1e7, grab.measure, grab.width, grab.height, cpu,
                grab.send);
  }
  std::fflush(stdout);
}

// A sprite sheet is this many tiles across and down.
constexpr int kSheetColumns = 10;
constexpr int kSheetRows = 10;
// The tool's default JPEG quality.
constexpr int kJpegQuality = 90;

// The JPEG of a BGR24 picture, top row first, `stride` bytes a row, into out,
// by libjpeg-turbo as the tool encodes its pictures. libjpeg's own error
// handler ends the program: here only a failed allocation reaches it.
void EncodeJpeg(const uint8_t* top, int width, int height, int stride, std::vector<uint8_t>& out) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kJpegQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(top) + static_cast<size_t>(stride) * info.next_scanline;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  out.assign(buffer, buffer + size);
  std::free(buffer);
}

struct Sprites {
  bool ok = false;
  int tiles = 0;
  int sheets = 0;
  int tile_width = 0;
  int tile_height = 0;
  double open = 0;
  double decode = 0;
  double scale = 0;
  double encode = 0;
};

// The tile of a width x height picture whose longer edge is `edge`.
void TileSize(int width, int height, int edge, Sprites& sprites) {
  const bool wide = width >= height;
  const int shorter = static_cast<int>((int64_t{wide ? height : width} * edge + (wide ? width : height) / 2) /
                                       (wide ? width : height));
  sprites.tile_width = wide ? edge : std::max(shorter, 1);
  sprites.tile_height = wide ? std::max(shorter, 1) : edge;
}

Sprites MakeSprites(const char* path, int threads, int64_t interval, int edge) {
  Sprites sprites;
  auto start = Clock::now();
  VideoInput input;
  const bool opened = input.Open(path, threads) && input.Duration() > 0;
  sprites.open = MillisecondsSince(start);
  if (!opened) return sprites;
  std::unique_ptr<SwsContext, FreeScaler> scaler;
  std::vector<uint8_t> tile;
  std::vector<uint8_t> sheet;
  std::vector<uint8_t> jpeg;
  int tile_row = 0;
  int sheet_row = 0;
  // The sheet's filled rows of tiles; a last sheet that is not full is cut
  // after its last row.
  auto encode_sheet = [&](int tiles) {
    const auto began = Clock::now();
    const int rows = (tiles + kSheetColumns - 1) / kSheetColumns;
    EncodeJpeg(sheet.data(), kSheetColumns * sprites.tile_width, rows * sprites.tile_height, sheet_row, jpeg);
    sprites.encode += MillisecondsSince(began);
    ++sprites.sheets;
  };
  for (int64_t position = 0; position < input.Duration(); position += interval) {
    start = Clock::now();
    const AVFrame* frame = input.KeyFrameAtOrBefore(position);
    sprites.decode += MillisecondsSince(start);
    if (!frame) return sprites;
    start = Clock::now();
    if (sprites.tiles == 0) {
      TileSize(frame->width, frame->height, edge, sprites);
      tile_row = 3 * sprites.tile_width;
      sheet_row = kSheetColumns * tile_row;
      // Slack after the last row: the SIMD converters write whole blocks.
      tile.resize(static_cast<size_t>(tile_row) * sprites.tile_height + 64);
      sheet.assign(static_cast<size_t>(sheet_row) * kSheetRows * sprites.tile_height, 0);
    }
    scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height,
                                      static_cast<AVPixelFormat>(frame->format), sprites.tile_width,
                                      sprites.tile_height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    uint8_t* planes[4] = {tile.data(), nullptr, nullptr, nullptr};
    int strides[4] = {tile_row, 0, 0, 0};
    if (!scaler ||
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) != sprites.tile_height)
      return sprites;
    // Scaled apart and then placed, so that no converter's overshoot lands
    // on a neighbouring tile already placed.
    const int slot = sprites.tiles % (kSheetColumns * kSheetRows);
    uint8_t* corner = sheet.data() + static_cast<size_t>(slot / kSheetColumns) * sprites.tile_height * sheet_row +
                      static_cast<size_t>(slot % kSheetColumns) * tile_row;
    for (int y = 0; y < sprites.tile_height; ++y)
      std::memcpy(corner + static_cast<size_t>(y) * sheet_row, tile.data() + static_cast<size_t>(y) * tile_row,
                  static_cast<size_t>(tile_row));
    sprites.scale += MillisecondsSince(start);
    if (++sprites.tiles % (kSheetColumns * kSheetRows) == 0) encode_sheet(kSheetColumns * kSheetRows);
  }
  if (sprites.tiles % (kSheetColumns * kSheetRows)) encode_sheet(sprites.tiles % (kSheetColumns * kSheetRows));
  sprites.ok = sprites.tiles > 0;
  return sprites;
}

int SpritesAndReport(const char* file, int threads, double interval_s, int edge) {
  const double cpu_start = ProcessCpuMilliseconds();
  const auto start = Clock::now();
  const Sprites sprites = MakeSprites(file, threads, static_cast<int64_t>(interval_s * 1e7), edge);
  const double total = MillisecondsSince(start);
  const double cpu = ProcessCpuMilliseconds() - cpu_start;
  if (!sprites.ok) {
    std::printf("%s\tfail\n", file);
    return 1;
  }
  std::printf("%s\t%d\t%d\t%dx%d\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\n", file, sprites.tiles, sprites.sheets,
              sprites.tile_width, sprites.tile_height, total - sprites.encode, sprites.encode, cpu, sprites.open,
              sprites.decode, sprites.scale);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: lower_bound [--repeat N] [--warmup N] [--threads N] FILE...\n"
               "       lower_bound [--threads N] --serve\n"
               "       lower_bound [--threads N] --sprites INTERVAL_S EDGE FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  int warmup = 0;
  int threads = 0;
  bool serve = false;
  double interval_s = 0;
  int edge = 0;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    int* option = argument == "--repeat" ? &repeat : argument == "--warmup" ? &warmup : argument == "--threads" ? &threads : nullptr;
    if (option) {
      if (++i == argc) return Usage();
      *option = std::atoi(argv[i]);
    } else if (argument == "--sprites") {
      if (i + 2 >= argc) return Usage();
      interval_s = std::atof(argv[++i]);
      edge = std::atoi(argv[++i]);
      if (interval_s <= 0 || edge < 1) return Usage();
    } else if (argument == "--serve") {
      serve = true;
    } else if (argument.starts_with("--")) {
      return Usage();
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty() != serve || repeat < 1 || warmup < 0 || threads < 0) return Usage();
  av_log_set_level(AV_LOG_QUIET);
  if (edge > 0) return files.size() == 1 ? SpritesAndReport(files[0], threads, interval_s, edge) : Usage();

  Converter converter;
  RowPipe pipe;
  if (serve) {
    std::string line(4096, '\0');
    while (std::fgets(line.data(), static_cast<int>(line.size()), stdin)) {
      std::string path = line.c_str();
      while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
      GrabAndReport(path.c_str(), threads, converter, pipe, true);
    }
    return 0;
  }
  for (int round = 0; round < warmup + repeat; ++round)
    for (const char* file : files) GrabAndReport(file, threads, converter, pipe, round >= warmup);
  return 0;
}
