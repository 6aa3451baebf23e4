// The lower bound for one thumbnail: the server's work done directly on
// libavformat, libavcodec and libswscale, with nothing in between. For each
// file it opens the input, visits the eight seek positions in order with a
// precise seek (key frame at or before the position, decode forward to the
// frame shown at the position), converts that frame to a bottom-up BGR24
// bitmap with 32-bit row alignment, measures its brightness, and stops at the
// first frame that is not too dark.
//
//   lower_bound [--repeat N] [--warmup N] [--threads N] FILE...
//   lower_bound [--threads N] --serve
//
// Every file is done N times in one process (after the warm-up rounds, which
// are not reported); run it with one file and --repeat 1 for the cost of a
// fresh process. With --serve the paths come from stdin, one a line, each
// answered at once, so that a driver can interleave this program with others
// under the same load. One line per grab on stdout, tab-separated:
//   file ms open_ms decode_ms convert_ms close_ms positions position_s measure WxH cpu_ms
// ms is the whole grab from open to close, cpu_ms the processor time that the
// process (all its threads) spent on it; a failed grab reports "fail".
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
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

// Converts frames to bottom-up BGR24 with one cached scaler, into one bitmap
// that it keeps from grab to grab, as a long-lived server could.
class Converter {
 public:
  // The bitmap of the frame, valid until the next call; null on failure.
  const Bitmap* Convert(const AVFrame* frame) {
    return ConvertInto(frame, bitmap_) ? &bitmap_ : nullptr;
  }

 private:
  bool ConvertInto(const AVFrame* frame, Bitmap& out) {
    const int w = frame->width;
    const int h = frame->height;
    scaler_.reset(sws_getCachedContext(scaler_.release(), w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler_) return false;
    const int* coefficients = sws_getCoefficients(frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace);
    sws_setColorspaceDetails(scaler_.get(), coefficients, frame->color_range == AVCOL_RANGE_JPEG, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    out.width = w;
    out.height = h;
    out.stride = (3 * w + 3) & ~3;
    // The SIMD converters write whole blocks past a row's end: slack at the
    // end of the memory keeps that inside the buffer.
    out.bits.resize(static_cast<size_t>(out.stride) * h + 64);
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
  Bitmap bitmap_;
};

struct Grab {
  bool ok = false;
  int positions = 0;
  int64_t position = 0;
  uint32_t measure = 0;
  int width = 0;
  int height = 0;
  Timings timings;
};

Grab GrabThumbnail(const char* path, int threads, Converter& converter) {
  Grab grab;
  auto start = Clock::now();
  auto input = std::make_unique<VideoInput>();
  const bool opened = input->Open(path, threads);
  grab.timings.open = MillisecondsSince(start);
  if (opened) {
    for (int64_t position : wire::kWalkPositions) {
      if (input->Duration() >= 0 && input->Duration() <= position) position = input->Duration() / 2;
      ++grab.positions;
      grab.position = position;
      start = Clock::now();
      const AVFrame* frame = input->FrameAt(position);
      grab.timings.decode += MillisecondsSince(start);
      start = Clock::now();
      const Bitmap* bitmap = frame ? converter.Convert(frame) : nullptr;
      grab.measure = bitmap ? BrightnessMeasure(*bitmap) : 0;
      grab.timings.convert += MillisecondsSince(start);
      grab.ok = bitmap != nullptr;
      if (bitmap) {
        grab.width = bitmap->width;
        grab.height = bitmap->height;
      }
      if (bitmap && grab.measure >= kDarkThreshold) break;
    }
  }
  start = Clock::now();
  input.reset();
  grab.timings.close = MillisecondsSince(start);
  return grab;
}

void GrabAndReport(const char* file, int threads, Converter& converter, bool report) {
  const auto start = Clock::now();
  const double cpu_start = ProcessCpuMilliseconds();
  const Grab grab = GrabThumbnail(file, threads, converter);
  const double cpu = ProcessCpuMilliseconds() - cpu_start;
  const double total = MillisecondsSince(start);
  if (!report) return;
  if (!grab.ok) {
    std::printf("%s\tfail\n", file);
  } else {
    const Timings& t = grab.timings;
    std::printf("%s\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%d\t%.3f\t%u\t%dx%d\t%.3f\n", file, total, t.open, t.decode,
                t.convert, t.close, grab.positions, grab.position / 1e7, grab.measure, grab.width, grab.height, cpu);
  }
  std::fflush(stdout);
}

int Usage() {
  std::fprintf(stderr,
               "usage: lower_bound [--repeat N] [--warmup N] [--threads N] FILE...\n"
               "       lower_bound [--threads N] --serve\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  int warmup = 0;
  int threads = 0;
  bool serve = false;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    int* option = argument == "--repeat" ? &repeat : argument == "--warmup" ? &warmup : argument == "--threads" ? &threads : nullptr;
    if (option) {
      if (++i == argc) return Usage();
      *option = std::atoi(argv[i]);
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

  Converter converter;
  if (serve) {
    std::string line(4096, '\0');
    while (std::fgets(line.data(), static_cast<int>(line.size()), stdin)) {
      std::string path = line.c_str();
      while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
      GrabAndReport(path.c_str(), threads, converter, true);
    }
    return 0;
  }
  for (int round = 0; round < warmup + repeat; ++round)
    for (const char* file : files) GrabAndReport(file, threads, converter, round >= warmup);
  return 0;
}
