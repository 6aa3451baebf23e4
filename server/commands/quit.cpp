// Command 1: the parent is done; the server ends after this poll.
#include "protocol/messages.h"
#include "server/command_handlers.h"

template <>
void Handle<wire::kQuit>(CommandContext& context) {
  context.State.Quit = true;
}
