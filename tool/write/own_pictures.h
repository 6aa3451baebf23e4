// The files the tool may replace: where nothing is yet, where a picture or a
// sprite folder of its own is (every picture it writes carries its mark: see
// picture_formats.h; so do a sprite folder's cues), and, with --force or in
// the desktop cache, anything but an input of the run. A user's file that happens to have a picture's
// name (film.jpg beside film.mp4 with --strip-extension) is never replaced
// unasked, and an input never at all.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace thumbnail {

// The files given as inputs of a run, by device and inode.
class InputFiles {
 public:
  explicit InputFiles(const std::vector<std::string>& paths);
  bool Contains(const std::string& path) const;

 private:
  std::set<std::pair<dev_t, ino_t>> files_;
};

// Whether the picture of `video` may go to `picture`. False with the reason
// in *why.
bool MayWritePicture(const std::string& video, const std::string& picture, bool replace_any, const InputFiles& inputs,
                     std::string* why);

// Whether the sprite folder of `video` may go to `folder`, replacing what
// is there: a sprite folder of the tool's own, and with `replace_any` any
// file or folder that is not an input and holds none.
bool MayWriteSpriteFolder(const std::string& video, const std::string& folder, bool replace_any,
                          const InputFiles& inputs, std::string* why);

}  // namespace thumbnail
