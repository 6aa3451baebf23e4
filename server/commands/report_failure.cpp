// Command 8: why the last thumbnail request failed and the codec it names.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kGetFailure>(CommandContext& context) {
  DebugTrace("TThumbnailServer::ReportFailure\n");
  Answer(context.Channel, wire::FailureReply{context.State.LastReason, context.State.LastCodec});
}
