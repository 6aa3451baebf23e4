// Commands 2 and 7: open a thumbnail request. The grab runs here; the reply
// gives the frame's size (or, for a fixed size, the size asked for before the
// grab), and what the grab gave is kept for commands 8 and 9.
#include <optional>

#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

namespace {

void OpenRequest(CommandContext& context, uint8_t command) {
  CommandChannel& channel = context.Channel;
  ServerState& state = context.State;
  state.BeginRequest();
  DebugTrace("TThumbnailServer::ThumbnailFile\n");

  PipeFields pipe(channel);
  wire::ThumbnailRequest request = wire::ThumbnailRequest::Of(command);
  request.Read(pipe);
  if (!pipe.stringTaken()) return;
  const char* path = request.path.c_str();
  DebugTrace("Reading %s\n", path);
  state.RequestedWidth = request.width;
  state.RequestedHeight = request.height;
  std::optional<WalkStart> start;
  bool preferCover = false;
  if (request.position) {
    const auto [kind, value] = *request.position;
    start = (kind & wire::kKindMask) == wire::kMillionthsOfDuration ? WalkStart{true, value}
                                                                    : WalkStart{false, LONGLONG{value} * 10000};
    preferCover = (kind & wire::kPreferCover) != 0;
  }
  // The parent left in the middle of the request: nothing to answer.
  if (channel.Ended()) return;
  state.ThumbnailFailed = false;
  state.FixedSize = false;
  // 260 bytes without a NUL are a path cut short; opening the cut path could
  // open another file.
  const bool pathComplete = request.path.size() < wire::kMaxStringBytes;
  const bool mayOpen = state.MayOpen(request.path);
  auto grab = [&] {
    // A locked server refuses a path before anything is made for it.
    if (!mayOpen) {
      channel.DropHandedFile();
      return 0;
    }
    state.Thumbnailer = std::make_unique<TDirectShowThumbnailer>();
    state.Thumbnailer->Start = start;
    state.Thumbnailer->PreferCover = preferCover;
    const int result = pathComplete ? state.Thumbnailer->ThumbnailFile(path) : 0;
    state.KeepOutcome(pathComplete, result == 1, channel.LastReadTally().budgetSpent);
    // A file handed over for this request is this request's alone.
    channel.DropHandedFile();
    // Only the frame is served from here on: the graph, its decoders and
    // their pictures go now, within this request, rather than when the next
    // one starts or while rows are sent.
    state.Thumbnailer->ReleaseGraph();
    return result;
  };

  if (state.RequestedWidth > 0 && state.RequestedHeight > 0) {
    state.FixedSize = true;
    DebugTrace("Write 1\n");
    wire::ThumbnailReply::Frame(static_cast<DWORD>(state.RequestedWidth), static_cast<DWORD>(state.RequestedHeight))
        .Write(pipe);
    channel.SignalReply();
    // The parent has its answer; a failed grab now only turns the rows black.
    if (grab() != 1) state.ThumbnailFailed = true;
    return;
  }

  if (grab() == 1) {
    DebugTrace("Thumbnailer->ThumbnailFile Ok\n");
    DebugTrace("Write 2\n");
    const BITMAPINFOHEADER& frame = state.Thumbnailer->BitmapInfo.bmiHeader;
    wire::ThumbnailReply::Frame(static_cast<DWORD>(frame.biWidth), static_cast<DWORD>(frame.biHeight),
                                frame.biBitCount)
        .Write(pipe);
  } else {
    DebugTrace("Thumbnailer->ThumbnailFile Failed\n");
    DebugTrace("Write 3\n");
    wire::ThumbnailReply{}.Write(pipe);
    state.EndThumbnail();
  }
  channel.SignalReply();
  DebugTrace("TThumbnailServer::ThumbnailFile done\n");
}

}  // namespace

template <>
void Handle<wire::kThumbnailFile>(CommandContext& context) {
  OpenRequest(context, wire::kThumbnailFile);
}

template <>
void Handle<wire::kThumbnailFileAt>(CommandContext& context) {
  OpenRequest(context, wire::kThumbnailFileAt);
}
