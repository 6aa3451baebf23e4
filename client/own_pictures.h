// The files the tool may replace. Every picture it writes carries its mark
// (a PNG's Software text, a JPEG's comment, a BMP's reserved header bytes),
// so that a later run can tell a picture of its own, which it makes again,
// from a user's file that happens to have the picture's name (film.jpg beside
// film.mp4 with --strip-extension), which it must never replace.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace thumbnail {

// What a PNG's Software text chunk and a JPEG's comment begin with.
constexpr char kMarkPrefix[] = "thumbnail ";
// "thumbnail VERSION".
const char* SoftwareName();
// The four reserved bytes of a BMP file header the tool writes.
constexpr char kBmpMark[4] = {'t', 'h', 'm', 'b'};

// True when the file at `path` is a picture this tool wrote.
bool CarriesToolMark(const std::string& path);

// The files given as inputs of a run, by device and inode.
class InputFiles {
 public:
  explicit InputFiles(const std::vector<std::string>& paths);
  bool Contains(const std::string& path) const;

 private:
  std::set<std::pair<dev_t, ino_t>> files_;
};

// Whether the picture of `video` may go to `picture`: where nothing is yet,
// where a picture of this tool's is, or anywhere but on an input when
// `replace_any` (--force, or the desktop cache, whose entries are all
// thumbnails). False with the reason in *why.
bool MayWritePicture(const std::string& video, const std::string& picture, bool replace_any, const InputFiles& inputs,
                     std::string* why);

}  // namespace thumbnail
