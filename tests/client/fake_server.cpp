// A stand-in for thumbnail-server that the client tests start in its place,
// to break in ways the real one cannot be made to on purpose. The way is
// chosen by THUMBNAIL_FAKE_MODE:
//   serve  (default) answers every command with a 4 x 2 frame; a path
//          ending in ".bad" is not a video (its reason: no known format);
//          takes a position (command 7) as command 2, and gives a frames request
//          (command 10) a frame a position, every 1000 ms of 4 s for an
//          interval, each at its position; ends after THUMBNAIL_FAKE_IDLE_MS
//          (default: the server's idle limit) without a command, leaving what waits unread,
//          as the real server does
//   crash  ends with exit code 0, as the real crash filter does, on a
//          thumbnail request
//   hang   takes a thumbnail request and never answers
//   huge   answers a thumbnail request with a frame too large to be real
//   extra  answers a status request with one byte too many
// Files handed over (command 12) are known by the name their descriptor
// has; an empty path in a request is the last one handed over.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "protocol/server_timing.h"

namespace {

int command_fd = 3, reply_fd = 4, event_fd = 5, files_fd = 6;

bool ReadAll(void* buffer, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    ssize_t n = ::read(command_fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The command pipe as fields; a pipe that ends in the middle of a command
// ends the fake, as it does the real server.
class CommandFields final : public wire::FieldSource {
 public:
  bool Number(uint32_t* value) override {
    uint8_t b[wire::kNumberBytes] = {};
    if (!ReadAll(b, sizeof b)) ::_exit(0);
    *value = wire::DecodeNumber(b);
    return true;
  }
  bool String(std::string* text) override {
    text->clear();
    char c;
    while (text->size() < wire::kMaxStringBytes && ReadAll(&c, 1) && c) *text += c;
    return true;
  }
};

void Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(reply_fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) ::_exit(0);
    done += static_cast<size_t>(n);
  }
}

// A reply and its event.
template <typename Message>
void Reply(const Message& reply, const std::vector<uint8_t>& tail = {}) {
  std::vector<uint8_t> bytes = wire::EncodeReply(reply);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  Write(bytes);
  uint64_t one = 1;
  if (::write(event_fd, &one, sizeof one) != sizeof one) ::_exit(0);
}

// The name of the file in the hand-over message waiting on the socket,
// empty when none came.
std::string TakeHandedName() {
  char byte;
  iovec iov{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  msghdr message{};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  if (::recvmsg(files_fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) < 0) return "";
  cmsghdr* c = CMSG_FIRSTHDR(&message);
  if (!c || c->cmsg_type != SCM_RIGHTS) return "";
  int fd;
  std::copy_n(CMSG_DATA(c), sizeof fd, reinterpret_cast<unsigned char*>(&fd));
  char name[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof name);
  ::close(fd);
  return n > 0 ? std::string(name, static_cast<size_t>(n)) : "";
}

}  // namespace

int main() {
  const char* chosen = std::getenv("THUMBNAIL_FAKE_MODE");
  std::string mode = chosen ? chosen : "serve";
  const char* idle = std::getenv("THUMBNAIL_FAKE_IDLE_MS");
  int idle_ms = idle ? std::atoi(idle) : static_cast<int>(wire::kIdleLimitMs);
  CommandFields fields;
  uint32_t width = 4, height = 2;
  uint32_t frames = 0, taken = 0, every = 0;
  std::string handed;
  for (;;) {
    pollfd waiting{command_fd, POLLIN, 0};
    if (::poll(&waiting, 1, idle_ms) <= 0) return 0;
    uint8_t command;
    if (!ReadAll(&command, 1)) return 0;
    switch (command) {
      case wire::kQuit:
        return 0;
      case wire::kThumbnailFile:
      case wire::kThumbnailFileAt: {
        wire::ThumbnailRequest request = wire::ThumbnailRequest::Of(command);
        request.Read(fields);
        if (mode == "crash") ::_exit(0);
        if (mode == "hang") ::pause();
        if (mode == "huge") {
          Reply(wire::ThumbnailReply::Frame(70000, 70000));
          break;
        }
        const std::string& path = request.path.empty() ? handed : request.path;
        if (!request.fixedSize() && path.size() > 4 && path.compare(path.size() - 4, 4, ".bad") == 0) {
          Reply(wire::ThumbnailReply{});
          break;
        }
        width = request.fixedSize() ? static_cast<uint32_t>(request.width) : 4;
        height = request.fixedSize() ? static_cast<uint32_t>(request.height) : 2;
        Reply(wire::ThumbnailReply::Frame(width, height));
        break;
      }
      case wire::kFramesAtSize: {
        wire::FramesRequest request;
        request.Read(fields);
        if (mode == "crash") ::_exit(0);
        if (mode == "hang") ::pause();
        const std::string& path = request.path.empty() ? handed : request.path;
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bad") == 0) {
          Reply(wire::FramesReply{});
          break;
        }
        constexpr uint32_t kDurationMs = 4000;
        const bool interval = (request.kind & wire::kKindMask) == wire::kIntervalMs;
        every = interval ? request.positions.at(0) : 0;
        frames = interval ? (kDurationMs - 1) / every + 1 : std::max<uint32_t>(request.positions.size(), 1);
        taken = 0;
        width = mode == "huge" ? 70000 : 4;
        height = mode == "huge" ? 70000 : 2;
        Reply(wire::FramesReply{1, frames, kDurationMs, 4, 2, "h264", "aac"});
        break;
      }
      case wire::kNextFrame: {
        if (taken == frames) {
          Reply(wire::NextFrameReply{});
          break;
        }
        Reply(wire::NextFrameReply{wire::kFrameFollows, taken, wire::kVideoFrame, every * taken + 300, width, height});
        ++taken;
        break;
      }
      case wire::kGetLines: {
        wire::GetLinesRequest lines;
        lines.Read(fields);
        std::vector<uint8_t> rows;
        for (uint32_t r = lines.first; r < lines.first + lines.count; ++r)
          for (uint32_t i = 0; i < width * 3; ++i) rows.push_back(static_cast<uint8_t>(r * 16 + i));
        Reply(wire::NoReply{}, rows);
        break;
      }
      case wire::kGetStatus:
        Reply(wire::StatusReply{}, mode == "extra" ? std::vector<uint8_t>{0} : std::vector<uint8_t>{});
        break;
      case wire::kGetDirectXLevel:
        Reply(wire::DirectXLevelReply{0x0800, 1});
        break;
      case wire::kGetFailure:
        Reply(wire::FailureReply{wire::kNotMedia, ""});
        break;
      case wire::kGetFrameOrigin:
        Reply(wire::FrameOriginReply{wire::kVideoFrame, 300});
        break;
      case wire::kHandFile: {
        wire::HandFileRequest request;
        request.Read(fields);
        handed = TakeHandedName();
        Reply(wire::HandFileReply{handed.empty() ? wire::kNotHandedOver : wire::kNoFailure});
        break;
      }
      case wire::kLock:
        Reply(wire::LockReply{1, 0});
        break;
      case wire::kGetReadTally:
        Reply(wire::ReadTallyReply{});
        break;
      default:
        break;
    }
  }
}
