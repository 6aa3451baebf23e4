// The server's commands, one handler each, found by command byte in a table
// built from wire::Commands. A handler is defined in its command's own file
// under server/commands/ and works only on what its context hands it, so it
// can run without a server around it.
#pragma once

#include <cstdint>

#include "server/command_channel.h"
#include "server/directx_probe.h"
#include "server/server_state.h"

struct CommandContext {
  CommandChannel& Channel;
  ServerState& State;
  DirectXLevelProbe& Probe;
};

using CommandHandler = void (*)(CommandContext& context);

// The handler of one command byte: reads the command's arguments from the
// channel, acts, and answers. Every byte in wire::Commands has one.
template <uint8_t kCommand>
void Handle(CommandContext& context);

// The handler of a command byte; null for a byte the server ignores.
CommandHandler HandlerOf(uint8_t command);
