// Command 14: what the last request read of its file.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kGetReadTally>(CommandContext& context) {
  DebugTrace("TThumbnailServer::ReportReadTally\n");
  const ReadTally tally = context.Channel.LastReadTally();
  Answer(context.Channel, wire::ReadTallyReply{static_cast<uint32_t>(tally.bytes),
                                               static_cast<uint32_t>(tally.bytes >> 32), tally.seeks,
                                               tally.budgetSpent ? 1u : 0u});
}
