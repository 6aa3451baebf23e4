#include "tool/desktop/thumbnailer_mode.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "client/system.h"
#include "tool/desktop/desktop_cache.h"
#include "tool/inputs/file_uri.h"
#include "tool/picture_pipeline.h"
#include "tool/terminal_text.h"
#include "tool/write/own_pictures.h"

namespace thumbnail {
namespace {

// A file manager asks for a whole folder at once, often on network storage.
// A sound video needs its index and the stretch around one key frame: a few
// mebibytes, tens for the index of a long film. A file that needs more is
// damaged, oddly made or hostile, and reading on would cost a user on a slow
// share (10 MB/s) its folder's seconds, where a failed thumbnail costs
// nothing; 64 MiB stays within the server's ten seconds there.
constexpr uint64_t kDesktopReadBudget = uint64_t{64} << 20;

int Fail(const std::string& input, const std::string& reason) {
  std::fprintf(stderr, "thumbnail: %s: %s\n", Printable(input).c_str(), Printable(reason).c_str());
  return 1;
}

}  // namespace

int RunThumbnailer(const std::string& server_path, const std::string& input, const std::string& output, int size,
                   const FrameWanted& wanted) {
  std::string path;
  if (!PathFromArgument(input, &path)) return Fail(input, "not a local file URI");
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return Fail(input, errno == ENOENT || errno == ENOTDIR ? "no such file" : ErrorText(errno));
  // The URI names the original as the file manager knows it; a plain path
  // is turned into the URI the thumbnail standard keys thumbnails by.
  std::string uri = path == input ? FileUri(std::filesystem::absolute(path).lexically_normal().string()) : input;
  PictureOutput picture;
  picture.path = output;
  picture.longer_edge = size;
  picture.enlarge = false;
  picture.text = DesktopThumbnailText(uri, st);
  // A consumer that made the output file itself (XFCE's tumbler) reads it
  // through the descriptor it holds: the picture goes into that file.
  struct stat existing;
  picture.in_place = ::lstat(output.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  // The file the consumer names is its own to fill, but never the video.
  std::string refused;
  if (!MayWritePicture(path, output, true, InputFiles({path}), &refused)) return Fail(input, refused);
  ClientOptions options{server_path};
  options.max_read_bytes = kDesktopReadBudget;
  ThumbnailClient client(std::move(options));
  ThumbnailOutcome made = MakeThumbnail(client, path, picture, wanted);
  return made.ok ? 0 : Fail(input, made.error);
}

}  // namespace thumbnail
