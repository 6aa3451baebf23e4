// Output files that appear whole or not at all.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace thumbnail {

// The mode that stands for the usual one: 0666 less the umask.
constexpr mode_t kUsualMode = static_cast<mode_t>(-1);

// Writes `bytes` to a temporary file beside `path` and renames it to `path`
// once it is complete, so `path` never holds a partial file and keeps its
// old contents when the write fails. The new file gets `mode`. False with a
// reason in *error; no temporary file is left behind either way.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode,
                         std::string* error);

// Writes `bytes` into the file that is already at `path`, replacing what it
// holds, for a reader that keeps that very file open (a desktop thumbnailer
// makes the output file and reads it through its own descriptor, so a new
// file renamed over it would go unseen). False with a reason in *error.
bool WriteFileInPlace(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

// Writes all of `bytes` to standard output. False with a reason in *error.
bool WriteStandardOutput(const std::vector<uint8_t>& bytes, std::string* error);

// A folder that appears whole or not at all: filled under a temporary name
// beside `path`, then swapped in one step with what is at `path` (a folder
// or a file), which is then removed. Until it is in place it is removed
// when the object dies, or by RemoveTemporaries.
class AtomicFolder {
 public:
  explicit AtomicFolder(std::string path);
  ~AtomicFolder();
  AtomicFolder(const AtomicFolder&) = delete;
  AtomicFolder& operator=(const AtomicFolder&) = delete;

  // Makes the temporary folder. False with a reason in *error.
  bool Open(std::string* error);
  // A new file in the folder. False with a reason in *error.
  bool Write(const std::string& name, const std::vector<uint8_t>& bytes, std::string* error);
  // Puts the folder at `path`. False with a reason in *error; what was
  // there stays then.
  bool Place(std::string* error);

 private:
  std::string path_;
  std::string temporary_;  // empty when there is none
  int slot_ = -1;          // its record for RemoveTemporaries
};

// Removes the temporary files and folders of the writes in progress. Safe
// in a signal handler.
void RemoveTemporaries();

}  // namespace thumbnail
