// Owning pointers for FFmpeg objects, each with its named deleter.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace media {

struct FormatContextDeleter {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsContextDeleter {
  void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct IoContextDeleter {
  // The buffer may have been replaced by FFmpeg; free whichever it holds now.
  void operator()(AVIOContext* p) const {
    if (p) av_freep(&p->buffer);
    avio_context_free(&p);
  }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

}  // namespace media
