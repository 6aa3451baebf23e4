// Command 5: the parent asks whether the server is up.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kGetStatus>(CommandContext& context) {
  DebugTrace("TThumbnailServer::GetStatus\n");
  DebugTrace("Write 5\n");
  Answer(context.Channel, wire::StatusReply{});
}
