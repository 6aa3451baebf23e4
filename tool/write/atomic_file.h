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

// Removes the temporary files of the writes in progress. Safe in a signal
// handler.
void RemoveTemporaries();

}  // namespace thumbnail
