#include "tool/write/atomic_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "client/signal_safe_slots.h"
#include "client/system.h"

namespace thumbnail {
namespace {

// What a temporary name adds to the name it stands for: a dot before it and
// ".XXXXXX" after it.
constexpr size_t kTemporaryExtra = 8;

// The temporary files and folders being written, for RemoveTemporaries.
struct TemporaryPath {
  char path[PATH_MAX];
  bool folder;
};
SignalSafeSlots<TemporaryPath, 64> g_temporaries;

int RecordTemporary(const std::string& path, bool folder) {
  if (path.size() >= PATH_MAX) return -1;
  TemporaryPath temporary;
  memcpy(temporary.path, path.c_str(), path.size() + 1);
  temporary.folder = folder;
  return g_temporaries.Add(temporary);
}

class TemporaryRecord {
 public:
  explicit TemporaryRecord(const std::string& path) : slot_(RecordTemporary(path, false)) {}
  ~TemporaryRecord() { g_temporaries.Remove(slot_); }

 private:
  int slot_ = -1;
};

// A temporary folder holds only the files written into it, so removing
// them and then it needs no recursion; and only system calls, so that a
// signal handler may do it.
void RemoveFlatFolder(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) {
    alignas(dirent64) char entries[4096];
    for (ssize_t n; (n = ::getdents64(fd, entries, sizeof entries)) > 0;)
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) ::unlinkat(fd, entry->d_name, 0);
        at += entry->d_reclen;
      }
    ::close(fd);
  }
  ::rmdir(path);
}

// 0777 less the umask: the folder's read bits as the umask leaves them for
// files, and a search bit beside each.
mode_t NewFolderMode() {
  const mode_t file = NewFileMode();
  return file | (file & 0444) >> 2;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The template of mkstemp and mkdtemp for a temporary beside `path`: hidden,
// so a folder listing during the write shows no half picture. A name near
// the file system's limit gets a short temporary one, so that it fails, if
// it must, for its own length and not for the temporary's.
std::string TemporaryTemplate(const std::string& path) {
  const std::string folder = FolderOf(path), name = path.substr(folder.size());
  return folder + "." + (name.size() + kTemporaryExtra > NAME_MAX ? std::string("thumbnail") : name) + ".XXXXXX";
}

// Why no temporary could be made beside `path`, from errno.
std::string CannotWriteBeside(const std::string& path) {
  const std::string folder = FolderOf(path);
  return std::string("cannot write in ") + (folder.empty() ? "." : folder) + ": " + ErrorText(errno);
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

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode,
                         std::string* error) {
  static const mode_t usual = NewFileMode();
  if (mode == kUsualMode) mode = usual;
  std::string temporary = TemporaryTemplate(path);
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = CannotWriteBeside(path);
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

AtomicFolder::AtomicFolder(std::string path) : path_(std::move(path)) {}

AtomicFolder::~AtomicFolder() {
  if (temporary_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(temporary_, ignored);
  g_temporaries.Remove(slot_);
}

bool AtomicFolder::Open(std::string* error) {
  std::string temporary = TemporaryTemplate(path_);
  if (!::mkdtemp(temporary.data())) {
    *error = CannotWriteBeside(path_);
    return false;
  }
  temporary_ = temporary;
  slot_ = RecordTemporary(temporary_, true);
  static const mode_t mode = NewFolderMode();
  if (::chmod(temporary_.c_str(), mode) == 0) return true;
  *error = "cannot write " + path_ + ": " + ErrorText(errno);
  return false;
}

bool AtomicFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes, std::string* error) {
  const std::string path = temporary_ + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  bool written = fd >= 0 && WriteAll(fd, bytes);
  int write_error = errno;
  if (fd >= 0 && ::close(fd) != 0 && written) {
    written = false;
    write_error = errno;
  }
  if (!written) *error = "cannot write " + path_ + "/" + name + ": " + ErrorText(write_error);
  return written;
}

bool AtomicFolder::Place(std::string* error) {
  struct stat there;
  const bool replaces = ::lstat(path_.c_str(), &there) == 0;
  // An exchange swaps the two names in one step, so that at no moment is
  // there nothing, or half a track, at the path; what was there is then
  // under the temporary name, and goes with it.
  const int placed = replaces ? ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_EXCHANGE)
                              : ::rename(temporary_.c_str(), path_.c_str());
  if (placed != 0) {
    *error = "cannot write " + path_ + ": " + ErrorText(errno);
    return false;
  }
  std::error_code ignored;
  if (replaces) std::filesystem::remove_all(temporary_, ignored);
  g_temporaries.Remove(slot_);
  temporary_.clear();
  return true;
}

void RemoveTemporaries() {
  g_temporaries.ForEachLive([](int, const TemporaryPath& temporary) {
    if (temporary.folder)
      RemoveFlatFolder(temporary.path);
    else
      ::unlink(temporary.path);
  });
}

}  // namespace thumbnail
