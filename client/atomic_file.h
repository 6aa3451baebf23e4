// Output files that appear whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace thumbnail {

// Writes `bytes` to a temporary file beside `path` and renames it to `path`
// once it is complete, so `path` never holds a partial file and keeps its
// old contents when the write fails. The new file gets the usual mode
// (0666 less the umask). False with a reason in *error; no temporary file is
// left behind either way.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files of writes in
// progress before the program ends by the signal as it would have.
void RemoveTemporariesOnSignal();

}  // namespace thumbnail
