#include "client/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "client/system.h"

namespace thumbnail {
namespace {

// The temporary files being written, for the signal handler, which may
// touch nothing but lock-free state: a slot is claimed, filled, then marked
// live; the handler removes the live ones.
enum SlotState { kFree, kClaimed, kLive };
struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
constexpr int kSlots = 64;
Slot g_slots[kSlots];

class TemporaryRecord {
 public:
  explicit TemporaryRecord(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    for (Slot& slot : g_slots) {
      int expected = kFree;
      if (slot.state.compare_exchange_strong(expected, kClaimed)) {
        memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.state.store(kLive);
        slot_ = &slot;
        return;
      }
    }
  }
  ~TemporaryRecord() {
    if (slot_) slot_->state.store(kFree);
  }

 private:
  Slot* slot_ = nullptr;
};

void RemoveAndReraise(int signal_number) {
  for (Slot& slot : g_slots)
    if (slot.state.load() == kLive) ::unlink(slot.path);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  static const mode_t mode = NewFileMode();
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Hidden, so a folder listing during the write shows no half picture.
  std::string temporary = folder + "." + name + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = std::string("cannot write in ") + (folder.empty() ? "." : folder) + ": " + ErrorText(errno);
    return false;
  }
  TemporaryRecord record(temporary);
  bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes);
  int write_error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    write_error = errno;
  }
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  if (written) write_error = errno;
  ::unlink(temporary.c_str());
  *error = std::string("cannot write ") + path + ": " + ErrorText(write_error);
  return false;
}

void RemoveTemporariesOnSignal() {
  struct sigaction action {};
  action.sa_handler = RemoveAndReraise;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

}  // namespace thumbnail
