#include "tool/write/atomic_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client/signal_safe_slots.h"
#include "client/system.h"

namespace thumbnail {
namespace {

// What a temporary name adds to the name it stands for: a dot before it and
// ".XXXXXX" after it.
constexpr size_t kTemporaryExtra = 8;

// The temporary files being written, for RemoveTemporaries.
struct TemporaryPath {
  char path[PATH_MAX];
};
SignalSafeSlots<TemporaryPath, 64> g_temporaries;

class TemporaryRecord {
 public:
  explicit TemporaryRecord(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    TemporaryPath temporary;
    memcpy(temporary.path, path.c_str(), path.size() + 1);
    slot_ = g_temporaries.Add(temporary);
  }
  ~TemporaryRecord() { g_temporaries.Remove(slot_); }

 private:
  int slot_ = -1;
};


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

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode,
                         std::string* error) {
  static const mode_t usual = NewFileMode();
  if (mode == kUsualMode) mode = usual;
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Hidden, so a folder listing during the write shows no half picture. A
  // name near the file system's limit gets a short temporary one, so that
  // it fails, if it must, for its own length and not for the temporary's.
  std::string temporary =
      folder + "." + (name.size() + kTemporaryExtra > NAME_MAX ? std::string("thumbnail") : name) + ".XXXXXX";
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

bool WriteFileInPlace(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    *error = "cannot write " + path + ": " + ErrorText(errno);
    return false;
  }
  const bool written = WriteAll(fd, bytes);
  const int write_error = errno;
  if (::close(fd) == 0 && written) return true;
  *error = "cannot write " + path + ": " + ErrorText(written ? errno : write_error);
  return false;
}

bool WriteStandardOutput(const std::vector<uint8_t>& bytes, std::string* error) {
  if (WriteAll(STDOUT_FILENO, bytes)) return true;
  *error = std::string("cannot write to standard output: ") + ErrorText(errno);
  return false;
}

void RemoveTemporaries() {
  g_temporaries.ForEachLive([](int, const TemporaryPath& temporary) { ::unlink(temporary.path); });
}

}  // namespace thumbnail
