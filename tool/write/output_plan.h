// Where the tool writes the picture of each video.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tool/picture_pipeline.h"
#include "tool/tool_options.h"

namespace thumbnail {

// The picture path that stands for standard output.
inline const std::string kStandardOutput = "-";

// When a picture already there is kept instead of being made again.
enum class KeepPicture {
  kNever,
  kNewerThanVideo,  // --skip-existing
  kSameMTime,       // a desktop cache entry whose Thumb::MTime is the video's
};

struct Job {
  std::string video;
  PictureOutput picture;
  KeepPicture keep = KeepPicture::kNever;
  // Where a failure is recorded, as the desktop cache wants; empty for none.
  std::string failure_record;
  // A current failure record does not stop the video being tried again.
  bool retry_failed = false;
  // An earlier job that writes the same picture, -1 for none. Such jobs run
  // one after the other, and the first that succeeds keeps the picture.
  int same_picture_as = -1;
  // A file already at the picture's path may be replaced though this tool
  // did not make it (never an input of the run).
  bool replace_any = false;
  // The path by which this run already does the same file: this job is
  // only reported, not run.
  std::string repeat_of;
};

// One job per video. -o is a picture for the single video when it has a
// picture extension (or is a file already there, or -); else a folder.
// Pictures in a folder are named after their videos' whole file names, the
// format's extension added (film.mp4.png; film.png with --strip-extension),
// under the folders of the videos' paths with --tree. Sprite folders are
// named so with .sprites added, and -o is the folder of one when it ends
// in .sprites. False with a complaint in *error for a picture name without
// a known format, or a single picture for several videos, or a -f that
// contradicts the extension of -o's picture, or a file's name for sprites.
bool PlanOutputs(const ToolOptions& options, const std::vector<std::string>& videos, std::vector<Job>* jobs,
                 std::string* error);

// Makes the folders the pictures and failure records go into (those made
// get `mode`, less the umask) and checks that they take new files, so that
// an output that cannot be written is found before any video is decoded.
// False with the reason in *error.
bool PrepareOutputFolders(const std::vector<Job>& jobs, mode_t mode, std::string* error);

}  // namespace thumbnail
