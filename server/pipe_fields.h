// The command channel as the fields messages are made of: arguments come off
// the command pipe one field at a time, as the server always reads them, and
// reply values go out one write each.
#pragma once

#include <string>
#include <string_view>

#include "protocol/fields.h"
#include "server/command_channel.h"

class PipeFields final : public wire::FieldSource, public wire::FieldSink {
 public:
  explicit PipeFields(CommandChannel& channel) : channel_(channel) {}

  // False once the command pipe has ended: the server then quits.
  bool Number(uint32_t* value) override;
  bool String(std::string* text) override;
  // Through WriteDword; the string with its NUL in one write.
  void Number(uint32_t value) override;
  void String(std::string_view text) override;

  // Whether a string came whole off the pipe (its NUL, or the limit).
  bool stringTaken() const { return stringTaken_; }

 private:
  CommandChannel& channel_;
  bool stringTaken_ = false;
};

// Writes a reply's values and sets the reply event after them, the way every
// command that answers with values ends.
template <typename Reply>
void Answer(CommandChannel& channel, const Reply& reply) {
  PipeFields pipe(channel);
  reply.Write(pipe);
  channel.SignalReply();
}
