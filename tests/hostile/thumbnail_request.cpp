#include "tests/hostile/thumbnail_request.h"

#include <dirent.h>
#include <signal.h>

#include <fstream>
#include <optional>

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
  std::vector<uint8_t> command{wire::kThumbnailFile};
  wire::AppendString(&command, path);
  wire::AppendNumber(&command, static_cast<uint32_t>(width));
  wire::AppendNumber(&command, static_cast<uint32_t>(height));
  if (!server.Write(command)) return Missing(server);

  std::optional<uint32_t> result = server.ReadDword(kPastTheWatchdogMs);
  if (!result) return Missing(server);
  RequestOutcome outcome;
  if (*result == 0) {
    outcome.kind = server.WaitEvent(kPastTheWatchdogMs) == 1 ? RequestOutcome::kFailed : RequestOutcome::kMalformed;
    return outcome;
  }
  std::optional<std::vector<uint8_t>> size = server.Read(12, kPastTheWatchdogMs);
  if (!size) return Missing(server);
  auto at = [&](int i) { return wire::DecodeNumber(size->data() + i); };
  outcome.width = static_cast<int32_t>(at(0));
  outcome.height = static_cast<int32_t>(at(4));
  const bool fixed = width > 0 && height > 0;
  if (*result != 1 || at(8) != 24 || outcome.width <= 0 || outcome.height <= 0 ||
      (fixed && (outcome.width != width || outcome.height != height)) || server.WaitEvent(kPastTheWatchdogMs) != 1) {
    outcome.kind = RequestOutcome::kMalformed;
    return outcome;
  }

  // In a fixed-size request the grab runs now; the rows follow it.
  const size_t rowBytes = static_cast<size_t>(outcome.width) * 3;
  const uint32_t rows = rowBytes * static_cast<size_t>(outcome.height) <= maxBytes
                            ? static_cast<uint32_t>(outcome.height)
                            : std::min<uint32_t>(kFewRows, static_cast<uint32_t>(outcome.height));
  std::vector<uint8_t> getLines{wire::kGetLines};
  wire::AppendNumber(&getLines, 0);
  wire::AppendNumber(&getLines, rows);
  if (!server.Write(getLines)) return Missing(server);
  std::optional<std::vector<uint8_t>> pixels = server.Read(rowBytes * rows, kPastTheWatchdogMs);
  if (!pixels) return Missing(server);
  if (server.WaitEvent(kPastTheWatchdogMs) != 1) {
    outcome.kind = RequestOutcome::kMalformed;
    return outcome;
  }
  outcome.rows = std::move(*pixels);
  // No reply; a fixed-size request whose frame came out at another size
  // ends the server here.
  server.WriteByte(wire::kEndThumbnail);
  outcome.kind = RequestOutcome::kPicture;
  return outcome;
}

bool ServerAnswersStatus(ServerProcess& server) {
  if (!server.WriteByte(wire::kGetStatus)) return false;
  std::optional<uint32_t> status = server.ReadDword(kPastTheWatchdogMs);
  return status && *status == 1 && server.WaitEvent(kPastTheWatchdogMs) == 1;
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
