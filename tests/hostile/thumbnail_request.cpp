#include "tests/hostile/thumbnail_request.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {

// Rows fetched of a picture too large to fetch whole.
constexpr uint32_t kFewRows = 4;

// A server that has ended must show as a failed write, not kill the test.
const bool kBrokenPipesFailWrites = [] { return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();

// A missing reply: the server ended, or it is stuck.
RequestOutcome Missing(ServerProcess& server) {
  RequestOutcome outcome;
  outcome.kind = server.WaitExit(kPastTheWatchdogMs) >= 0 ? RequestOutcome::kServerEnded : RequestOutcome::kStuck;
  return outcome;
}

}  // namespace

const char* KindName(RequestOutcome::Kind kind) {
  switch (kind) {
    case RequestOutcome::kPicture:
      return "picture";
    case RequestOutcome::kFailed:
      return "failed";
    case RequestOutcome::kServerEnded:
      return "server ended";
    case RequestOutcome::kStuck:
      return "stuck";
    case RequestOutcome::kMalformed:
      return "malformed";
  }
  return "?";
}

RequestOutcome RequestThumbnail(ServerProcess& server, const std::string& path, int32_t width, int32_t height,
                                size_t maxBytes) {
  using wire::ChannelResult;
  wire::ParentChannel& channel = server.channel();
  const auto deadline = ServerProcess::In(kPastTheWatchdogMs);
  const wire::ThumbnailRequest request{path, width, height, std::nullopt};
  wire::ThumbnailReply reply;
  if (channel.Send(request, deadline) != ChannelResult::kOk || channel.Receive(&reply, deadline) != ChannelResult::kOk)
    return Missing(server);
  RequestOutcome outcome;
  if (reply.result == 0) {
    outcome.kind = channel.AwaitReplyEnd(deadline) == ChannelResult::kOk ? RequestOutcome::kFailed
                                                                         : RequestOutcome::kMalformed;
    return outcome;
  }
  outcome.width = static_cast<int32_t>(reply.width);
  outcome.height = static_cast<int32_t>(reply.height);
  if (reply.result != 1 || reply.bits != 24 || outcome.width <= 0 || outcome.height <= 0 ||
      (request.fixedSize() && (outcome.width != width || outcome.height != height)) ||
      channel.AwaitReplyEnd(deadline) != ChannelResult::kOk) {
    outcome.kind = RequestOutcome::kMalformed;
    return outcome;
  }

  // In a fixed-size request the grab runs now; the rows follow it.
  const size_t rowBytes = static_cast<size_t>(outcome.width) * 3;
  const uint32_t rows = rowBytes * static_cast<size_t>(outcome.height) <= maxBytes
                            ? static_cast<uint32_t>(outcome.height)
                            : std::min<uint32_t>(kFewRows, static_cast<uint32_t>(outcome.height));
  const auto rowsDeadline = ServerProcess::In(kPastTheWatchdogMs);
  std::vector<uint8_t> pixels(rowBytes * rows);
  if (channel.Send(wire::GetLinesRequest{0, rows}, rowsDeadline) != ChannelResult::kOk ||
      channel.ReceiveRows(pixels.data(), pixels.size(), rowsDeadline) != ChannelResult::kOk)
    return Missing(server);
  if (channel.AwaitReplyEnd(rowsDeadline) != ChannelResult::kOk) {
    outcome.kind = RequestOutcome::kMalformed;
    return outcome;
  }
  outcome.rows = std::move(pixels);
  // No reply; a fixed-size request whose frame came out at another size
  // ends the server here.
  channel.Send(wire::EndThumbnailRequest{}, rowsDeadline);
  outcome.kind = RequestOutcome::kPicture;
  return outcome;
}

bool ServerAnswersStatus(ServerProcess& server) {
  wire::StatusReply status{0};
  return server.channel().Ask(wire::StatusRequest{}, &status, ServerProcess::In(kPastTheWatchdogMs)) ==
             wire::ChannelResult::kOk &&
         status.status == 1;
}

std::vector<std::string> UnderStrace(const std::string& trace, const std::string& calls) {
  constexpr const char* kStrace = "/usr/bin/strace";
  if (::access(kStrace, X_OK) != 0) return {};
  std::vector<std::string> wrapper = {kStrace, "-f", "-qq", "-o", trace, "-e", "trace=" + calls};
#if defined(__SANITIZE_ADDRESS__)
  wrapper.insert(wrapper.end(), {"-E", "ASAN_OPTIONS=detect_leaks=0"});
#endif
  return wrapper;
}

int OpenDescriptors(int pid) {
  DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count;
}

long ResidentKib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}
