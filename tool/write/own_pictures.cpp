#include "tool/write/own_pictures.h"

#include <sys/stat.h>

#include <filesystem>

#include "tool/encode/picture_formats.h"
#include "tool/encode/sprite_track_files.h"

namespace thumbnail {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool CarriesToolMark(const std::string& path) {
  ImageFormat format;
  PictureSize size;
  bool marked = false;
  return ReadPictureHead(path, &format, &size, &marked) && marked;
}

// Whether an input of the run lies anywhere under `folder`.
bool HoldsAnInput(const std::string& folder, const InputFiles& inputs) {
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    if (inputs.Contains(it->path().string())) return true;
  return false;
}

}  // namespace

InputFiles::InputFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) files_.insert({st.st_dev, st.st_ino});
  }
}

bool InputFiles::Contains(const std::string& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && files_.count({st.st_dev, st.st_ino}) != 0;
}

bool MayWritePicture(const std::string& video, const std::string& picture, bool replace_any, const InputFiles& inputs,
                     std::string* why) {
  struct stat there, of_video;
  if (::lstat(picture.c_str(), &there) != 0) return true;
  if (::stat(video.c_str(), &of_video) == 0 && SameFile(there, of_video)) {
    *why = "its picture " + picture + " would replace the video itself";
    return false;
  }
  if (inputs.Contains(picture)) {
    *why = "its picture " + picture + " would replace another input of this run";
    return false;
  }
  if (replace_any || CarriesToolMark(picture)) return true;
  *why = "its picture " + picture + " would replace a file this tool did not make (--force replaces it)";
  return false;
}

bool MayWriteSpriteFolder(const std::string& video, const std::string& folder, bool replace_any,
                          const InputFiles& inputs, std::string* why) {
  struct stat there;
  if (::lstat(folder.c_str(), &there) != 0) return true;
  if (!S_ISDIR(there.st_mode)) return MayWritePicture(video, folder, replace_any, inputs, why);
  if (HoldsAnInput(folder, inputs)) {
    *why = "its sprite folder " + folder + " would replace a folder that holds an input of this run";
    return false;
  }
  if (replace_any || IsOwnSpriteFolder(folder)) return true;
  *why = "its sprite folder " + folder + " would replace a folder this tool did not make (--force replaces it)";
  return false;
}

}  // namespace thumbnail
