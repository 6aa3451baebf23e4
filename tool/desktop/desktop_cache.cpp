#include "tool/desktop/desktop_cache.h"

#include <cstdlib>
#include <filesystem>

#include "tool/desktop/video_types.h"
#include "tool/inputs/file_uri.h"
#include "tool/inputs/md5.h"
#include "tool/write/atomic_file.h"
#include "tool/write/own_pictures.h"

namespace thumbnail {
namespace {

// The fail folder is named for the program and its version, so that a newer
// version tries the files an older one failed on again.
constexpr const char* kFailFolder = "fail/thumbnail-" THUMBNAIL_VERSION;

bool Hidden(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

bool WalkFolder(const std::string& folder, std::vector<std::string>* files, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code code;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, code);
  for (; !code && it != fs::recursive_directory_iterator(); it.increment(code)) {
    if (Hidden(it->path())) {
      if (it->is_directory(code)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(code) && HasVideoExtension(it->path().filename().string())) files->push_back(it->path().string());
  }
  if (code) {
    *error = "cannot read the folder " + folder + ": " + code.message();
    return false;
  }
  return true;
}

Job CacheJob(const std::string& path, const CacheSize& size, const std::string& cache_folder) {
  namespace fs = std::filesystem;
  std::string absolute = fs::absolute(path).lexically_normal().string();
  std::string uri = FileUri(absolute);
  std::string name = Md5Hex(uri) + ".png";
  Job job;
  job.video = path;
  job.picture.path = cache_folder + "/" + size.name + "/" + name;
  job.picture.longer_edge = size.edge;
  job.picture.enlarge = false;
  job.picture.private_file = true;
  struct stat st {};
  ::stat(path.c_str(), &st);
  job.picture.text = DesktopThumbnailText(uri, st);
  job.keep = KeepPicture::kSameMTime;
  // Entries are thumbnails, whoever made them: one that is out of date goes.
  job.replace_any = true;
  job.failure_record = cache_folder + "/" + kFailFolder + "/" + name;
  return job;
}

}  // namespace

std::string ThumbnailCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && cache[0] == '/') return std::string(cache) + "/thumbnails";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.cache/thumbnails";
  return "";
}

std::vector<PngText> DesktopThumbnailText(const std::string& uri, const struct stat& st) {
  return {{"Thumb::URI", uri},
          {"Thumb::MTime", std::to_string(static_cast<long long>(st.st_mtime))},
          {"Thumb::Size", std::to_string(static_cast<long long>(st.st_size))},
          {"Software", SoftwareName()}};
}

bool WalkFolders(const std::vector<std::string>& paths, std::vector<std::string>* files, std::string* error) {
  files->clear();
  for (const std::string& path : paths) {
    std::error_code code;
    if (!std::filesystem::is_directory(path, code)) {
      files->push_back(path);
    } else if (!WalkFolder(path, files, error)) {
      return false;
    }
  }
  return true;
}

std::vector<Job> CacheJobs(const std::vector<std::string>& videos, const CacheSize& size,
                           const std::string& cache_folder) {
  std::vector<Job> jobs;
  for (const std::string& video : videos) jobs.push_back(CacheJob(video, size, cache_folder));
  return jobs;
}

bool RecordFailure(const Job& job, Failure why, const std::string& reason, std::string* error) {
  // Only what the file itself caused is recorded: trying it again before it
  // changes would fail the same way.
  switch (why) {
    case Failure::kNotMedia:
    case Failure::kNoVideoStream:
    case Failure::kCodecUnavailable:
    case Failure::kEncrypted:
    case Failure::kDamaged:
    case Failure::kTooLarge:
    case Failure::kServerCrashed:
    case Failure::kTimedOut:
      break;
    default:
      return true;
  }
  // The record is an image too, the smallest there is, carrying the same
  // chunks as the thumbnail it stands for and, in a key of our own, why:
  // a user who finds it can tell a damaged file from a missing codec.
  Frame pixel{1, 1, {0, 0, 0}};
  std::vector<PngText> text = job.picture.text;
  text.push_back({kFailureKey, reason});
  std::vector<uint8_t> bytes;
  return EncodeImage(FormatNamed("png"), pixel, {90, text}, &bytes, error) &&
         WriteFileAtomically(job.failure_record, bytes, 0600, error);
}

}  // namespace thumbnail
