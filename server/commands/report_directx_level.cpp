// Command 6: the DirectX level the machine offers and whether a filter graph
// can be made.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kGetDirectXLevel>(CommandContext& context) {
  CommandChannel& channel = context.Channel;
  if (channel.WritePipe == 0 || channel.ReplyEvent == 0) return;
  BYTE filterGraphAvailable = 0;
  const DWORD level = context.Probe.Probe(&filterGraphAvailable);
  DebugTrace("Write 6\n");
  Answer(channel, wire::DirectXLevelReply{level, filterGraphAvailable});
}
