#include "client/thumbnailer_mode.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "client/file_uri.h"
#include "client/thumbnail_job.h"
#include "client/system.h"

namespace thumbnail {
namespace {

int Fail(const std::string& input, const std::string& reason) {
  std::fprintf(stderr, "thumbnail: %s: %s\n", input.c_str(), reason.c_str());
  return 1;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* cwd = ::getcwd(nullptr, 0);
  std::string absolute = cwd ? std::string(cwd) + "/" + path : path;
  ::free(cwd);
  return absolute;
}

}  // namespace

int RunThumbnailer(const std::string& server_path, const std::string& input, const std::string& output, int size) {
  std::string path;
  if (!PathFromArgument(input, &path)) return Fail(input, "not a local file URI");
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    return Fail(input, errno == ENOENT || errno == ENOTDIR ? "no such file" : ErrorText(errno));
  // The URI names the original as the file manager knows it; a plain path
  // is turned into the URI the thumbnail standard keys thumbnails by.
  std::string uri = path == input ? FileUri(Absolute(path)) : input;
  PictureOutput picture{output, ImageFormat::kPng, size, false,
                   {{"Thumb::URI", uri},
                    {"Thumb::MTime", std::to_string(static_cast<long long>(st.st_mtime))},
                    {"Thumb::Size", std::to_string(static_cast<long long>(st.st_size))},
                    {"Software", "thumbnail " THUMBNAIL_VERSION}}};
  ThumbnailClient client(ClientOptions{server_path});
  std::string error;
  if (!MakeThumbnail(client, path, picture, &error)) return Fail(input, error);
  return 0;
}

}  // namespace thumbnail
