// The freedesktop.org thumbnail cache, filled directly: an entry is
// thumbnails/<size>/<MD5 of the file's URI>.png under $XDG_CACHE_HOME (or
// ~/.cache), a PNG of mode 0600 with the Thumb::URI, Thumb::MTime,
// Thumb::Size and Software text chunks. A file that cannot be thumbnailed
// gets a record under thumbnails/fail/<software>/, so that desktops do not
// try it again until it changes.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "client/thumbnail_client.h"
#include "tool/write/output_plan.h"

namespace thumbnail {

// $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails. Empty when neither
// variable is set.
std::string ThumbnailCacheFolder();

// The text chunks of a thumbnail of the file with `uri` and `st`.
std::vector<PngText> DesktopThumbnailText(const std::string& uri, const struct stat& st);

// Each path given that is no folder, and each file with a video extension
// under the folders given (hidden ones left out). False with the reason in
// *error when a folder cannot be read.
bool WalkFolders(const std::vector<std::string>& paths, std::vector<std::string>* files, std::string* error);

// One job per video, its entry keyed by the video's absolute path.
std::vector<Job> CacheJobs(const std::vector<std::string>& videos, const CacheSize& size,
                           const std::string& cache_folder);

// The text key of a failure record that holds the sentence of its reason.
constexpr const char* kFailureKey = "X-Thumbnail::Failure";

// Writes the failure record of `job` when its video is at fault (the server
// read it and found no picture, or broke on it), `reason` in it. False with
// the reason in *error when the record cannot be written.
bool RecordFailure(const Job& job, Failure why, const std::string& reason, std::string* error);

}  // namespace thumbnail
