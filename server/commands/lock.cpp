// Command 13: the parent will hand every file over from now on, and the
// server stops being able to open any. A path after this is refused with
// kPathRefused, even where the lock itself could not be made, so a parent
// gets the same answers on every kernel.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kLock>(CommandContext& context) {
  DebugTrace("TThumbnailServer::Lock\n");
  context.State.Locked = true;
  const LockResult lock = context.Channel.LockFileAccess();
  Answer(context.Channel, wire::LockReply{lock.locked ? 1u : 0u, static_cast<uint32_t>(lock.landlockAbi)});
}
