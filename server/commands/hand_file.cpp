// Command 12: the parent hands the next request's file over on its socket.
// The answer says whether the server holds it; what failed is kept for
// command 8 too, so that a parent that goes on to the request anyway learns
// why it found no file.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

namespace {

wire::Reason ReasonOf(HandOver handOver) {
  switch (handOver) {
    case HandOver::kHeld:
      return wire::kNoFailure;
    case HandOver::kNotRegularFile:
    case HandOver::kNotReadable:
      return wire::kUnreadable;
    case HandOver::kNothing:
    case HandOver::kSeveral:
    case HandOver::kCutShort:
      break;
  }
  return wire::kNotHandedOver;
}

}  // namespace

template <>
void Handle<wire::kHandFile>(CommandContext& context) {
  DebugTrace("TThumbnailServer::HandFile\n");
  PipeFields pipe(context.Channel);
  wire::HandFileRequest request;
  if (!request.Read(pipe) || context.Channel.Ended()) return;
  const wire::Reason reason = ReasonOf(context.Channel.ReceiveFile(request.budget));
  if (reason != wire::kNoFailure) context.State.KeepReason(reason);
  Answer(context.Channel, wire::HandFileReply{reason});
}
