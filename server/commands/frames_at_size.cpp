// Command 10: opens a frames request. The file is opened here, through a
// graph that scales every picture within the edge asked before converting
// its colours; the reply says how many frames command 11 will give and what
// the video is. A walk (kFirstBrightFrame) chooses its one frame here, as
// command 7 does.
#include <algorithm>

#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

namespace {

constexpr LONGLONG kUnitsPerMs = 10000;

// Opens the file as the request asks: 1 on success, as the thumbnailer
// answers.
int Open(TDirectShowThumbnailer& thumbnailer, const wire::FramesRequest& request) {
  thumbnailer.LongerEdge = request.longerEdge;
  thumbnailer.PreferCover = (request.kind & wire::kPreferCover) != 0;
  if (!(request.mode & wire::kFirstBrightFrame)) return thumbnailer.OpenFile(request.path.c_str());
  if (!request.positions.empty()) {
    const uint32_t value = request.positions[0];
    thumbnailer.Start = (request.kind & wire::kKindMask) == wire::kMillionthsOfDuration
                            ? WalkStart{true, value}
                            : WalkStart{false, LONGLONG{value} * kUnitsPerMs};
  }
  return thumbnailer.ThumbnailFile(request.path.c_str());
}

wire::FramesReply Opened(TDirectShowThumbnailer& thumbnailer, const FramesPlan& plan) {
  wire::FramesReply reply;
  reply.result = 1;
  reply.count = static_cast<uint32_t>(plan.steps.size());
  const LONGLONG duration = thumbnailer.Duration();
  if (duration >= 0) reply.durationMs = static_cast<uint32_t>(std::min<LONGLONG>(duration / kUnitsPerMs, 0xFFFFFFFE));
  reply.width = static_cast<uint32_t>(std::max<LONG>(thumbnailer.ShownWidth, 0));
  reply.height = static_cast<uint32_t>(std::max<LONG>(thumbnailer.ShownHeight, 0));
  char video[kMaxCodecNameBytes], audio[kMaxCodecNameBytes];
  thumbnailer.CodecNames(video, audio, sizeof video);
  reply.videoCodec = video;
  reply.audioCodec = audio;
  return reply;
}

}  // namespace

template <>
void Handle<wire::kFramesAtSize>(CommandContext& context) {
  CommandChannel& channel = context.Channel;
  ServerState& state = context.State;
  state.BeginRequest();
  DebugTrace("TThumbnailServer::FramesAtSize\n");

  PipeFields pipe(channel);
  wire::FramesRequest request;
  // The parent left in the middle of the request: nothing to answer.
  if (!request.Read(pipe) || channel.Ended()) return;
  DebugTrace("Reading %s\n", request.path.c_str());
  state.FixedSize = false;
  state.ThumbnailFailed = false;
  state.RequestedWidth = state.RequestedHeight = 0;
  state.Thumbnailer = std::make_unique<TDirectShowThumbnailer>();
  TDirectShowThumbnailer& thumbnailer = *state.Thumbnailer;

  // No frame for the parent: 0 alone, and the request closes.
  auto answerNone = [&] {
    Answer(channel, wire::FramesReply{});
    state.EndThumbnail();
  };
  if (!FramesPlan::Acceptable(request)) {
    channel.DropHandedFile();
    state.KeepReason(wire::kBadRequest);
    return answerNone();
  }
  // 260 bytes without a NUL are a path cut short; opening the cut path could
  // open another file.
  const bool pathComplete = request.path.size() < wire::kMaxStringBytes;
  if (!state.MayOpen(request.path)) {
    channel.DropHandedFile();
    return answerNone();
  }
  const int opened = pathComplete ? Open(thumbnailer, request) : 0;
  state.KeepOutcome(pathComplete, opened == 1, channel.LastReadTally().budgetSpent);
  // The file is open (or failed); a handed one that was not taken goes now.
  channel.DropHandedFile();
  if (opened != 1) return answerNone();

  FramesPlan plan;
  if (request.mode & wire::kFirstBrightFrame) {
    // The walk chose its frame: the one step serves it.
    plan.steps = {{thumbnailer.FramePosition, 0}};
    plan.haveFrame = true;
  } else if (thumbnailer.FromCover) {
    // A cover is one picture, whatever the positions.
    plan.steps = {{0, 0}};
  } else if (!plan.Resolve(request, thumbnailer.Duration())) {
    state.KeepReason(wire::kBadRequest);
    return answerNone();
  }
  Answer(channel, Opened(thumbnailer, plan));
  state.Frames = std::move(plan);
  DebugTrace("TThumbnailServer::FramesAtSize done\n");
}
