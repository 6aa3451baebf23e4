#include "server/command_handlers.h"

#include <array>

#include "protocol/messages.h"

namespace {

template <typename... Entries>
constexpr std::array<CommandHandler, 256> TableOf(wire::CommandList<Entries...>) {
  std::array<CommandHandler, 256> table{};
  ((table[Entries::byte] = &Handle<Entries::byte>), ...);
  return table;
}

constexpr std::array<CommandHandler, 256> kHandlers = TableOf(wire::Commands{});

}  // namespace

CommandHandler HandlerOf(uint8_t command) { return kHandlers[command]; }
