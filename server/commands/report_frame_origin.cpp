// Command 9: where the frame of the last thumbnail request came from and its
// time.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kGetFrameOrigin>(CommandContext& context) {
  DebugTrace("TThumbnailServer::ReportFrameOrigin\n");
  Answer(context.Channel, wire::FrameOriginReply{context.State.LastOrigin, context.State.LastFrameMs});
}
