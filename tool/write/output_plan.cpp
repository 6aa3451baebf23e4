#include "tool/write/output_plan.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "client/system.h"
#include "tool/encode/sprite_track_files.h"

namespace thumbnail {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string LastName(const std::string& path) {
  std::string trimmed = path.substr(0, path.find_last_not_of('/') + 1);
  return trimmed.substr(trimmed.rfind('/') == std::string::npos ? 0 : trimmed.rfind('/') + 1);
}

bool HasExtension(const std::string& path) {
  std::string name = LastName(path);
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot > 0;
}

bool MakesSprites(const ToolOptions& options) { return options.product.kind == Product::Kind::kSprites; }

// A picture's name, or a sprite folder's: the video's with the extension of
// the picture's format, or .sprites, added.
std::string PictureName(const std::string& video, const ToolOptions& options) {
  std::string base = LastName(video);
  size_t dot = base.rfind('.');
  if (options.strip_extension && dot != std::string::npos && dot > 0) base.resize(dot);
  return base + (MakesSprites(options) ? kSpriteFolderExtension : FormatExtension(options.format));
}

// The folders of the video's path, to repeat under the output folder: the
// path cleaned, without its root and without the '..' that would climb out.
std::string MirroredFolders(const std::string& video) {
  std::filesystem::path folders = std::filesystem::path(video).lexically_normal().parent_path().relative_path();
  std::string mirrored;
  for (const auto& part : folders)
    if (part != ".." && part != "." && !part.empty()) mirrored += part.string() + "/";
  return mirrored;
}

Job PictureJob(const ToolOptions& options, const std::string& video, std::string path, ImageFormat format) {
  Job job;
  job.video = video;
  job.picture.path = std::move(path);
  job.picture.format = format;
  job.picture.longer_edge = options.size;
  job.picture.quality = options.quality;
  job.keep = options.skip_existing ? KeepPicture::kNewerThanVideo : KeepPicture::kNever;
  job.replace_any = options.force;
  return job;
}

// The pictures, or sprite folders, of `videos` in the folder -o names.
void PlanFolder(const ToolOptions& options, const std::vector<std::string>& videos, std::vector<Job>* jobs) {
  const std::string& output = options.output;
  std::string folder = output.empty() || output.back() == '/' ? output : output + "/";
  std::map<std::string, int> writer_of;
  for (const std::string& video : videos) {
    std::string path = folder + (options.tree ? MirroredFolders(video) : "") + PictureName(video, options);
    Job job = PictureJob(options, video, path, options.format);
    // A name made of the video's whole name and a picture extension
    // (film.mp4.png) is a thumbnail's, made by this tool before its pictures
    // carried a mark, or by another thumbnailer: it is no user's own file.
    // Sprite folders came with their mark, so only the tool's own is
    // replaced unasked.
    job.replace_any = job.replace_any || (!options.strip_extension && !MakesSprites(options));
    auto [first, fresh] = writer_of.emplace(path, static_cast<int>(jobs->size()));
    if (!fresh) job.same_picture_as = first->second;
    jobs->push_back(job);
  }
}

// -o for sprite folders: a folder for them, or, ending in .sprites, the one
// folder of a single video.
bool PlanSpriteFolders(const ToolOptions& options, const std::vector<std::string>& videos, std::vector<Job>* jobs,
                       std::string* error) {
  const std::string& output = options.output;
  const std::string extension = kSpriteFolderExtension;
  if (!options.tree && output.size() > extension.size() &&
      output.compare(output.size() - extension.size(), extension.size(), extension) == 0) {
    if (videos.size() != 1) {
      *error = "-o " + output + " names one sprite folder, but there are " + std::to_string(videos.size()) +
               " videos (end a folder in /)";
      return false;
    }
    jobs->push_back(PictureJob(options, videos[0], output, options.format));
    return true;
  }
  ImageFormat named;
  if (!output.empty() && output.back() != '/' && !IsFolder(output) &&
      (FormatFromName(output, &named) || Exists(output))) {
    *error = "-o " + output + " names a file, but --sprites writes a folder for each video (-o FOLDER/, or -o " +
             "NAME.sprites for one video)";
    return false;
  }
  PlanFolder(options, videos, jobs);
  return true;
}

// mkdir -p.
bool MakeFolders(const std::string& folder, mode_t mode, std::string* error) {
  std::string made;
  for (size_t at = 0; at != std::string::npos;) {
    size_t slash = folder.find('/', at + 1);
    made = folder.substr(0, slash);
    at = slash;
    if (made.empty() || made.back() == '/' || IsFolder(made)) continue;
    // A file in the way is found by the next step, or by the write check.
    if (::mkdir(made.c_str(), mode) != 0 && errno != EEXIST) {
      *error = "cannot make the folder " + made + ": " + ErrorText(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

bool PlanOutputs(const ToolOptions& options, const std::vector<std::string>& videos, std::vector<Job>* jobs,
                 std::string* error) {
  jobs->clear();
  if (MakesSprites(options)) return PlanSpriteFolders(options, videos, jobs, error);
  const std::string& output = options.output;
  if (output == kStandardOutput) {
    if (videos.size() != 1) {
      *error = "-o - writes one picture, but there are " + std::to_string(videos.size()) + " videos";
      return false;
    }
    jobs->push_back(PictureJob(options, videos[0], output, options.format));
    return true;
  }
  ImageFormat format = options.format;
  bool names_picture = FormatFromName(output, &format) || (Exists(output) && !IsFolder(output));
  bool to_folder = output.empty() || output.back() == '/' || IsFolder(output) ||
                   (!HasExtension(output) && !Exists(output)) || videos.size() > 1 || options.tree;
  if (!to_folder) {
    // The picture's own extension chooses its format; a -f that says
    // otherwise would write one format under another's name.
    ImageFormat named = format;
    bool has_format = FormatFromName(output, &named);
    if (has_format && options.format_given && named != options.format) {
      *error = std::string("-f ") + FormatName(options.format) + " contradicts the extension of " + output;
      return false;
    }
    if (!has_format && !options.format_given) {
      *error = "cannot tell the picture format of " + output + " (give it the extension of " +
               FormatNames() + ", or end a folder in /)";
      return false;
    }
    jobs->push_back(PictureJob(options, videos[0], output, has_format ? named : options.format));
    return true;
  }
  if (names_picture && !output.empty() && output.back() != '/' && !IsFolder(output)) {
    *error = "-o " + output + " names one picture, but there are " + std::to_string(videos.size()) +
             " videos (end a folder in /)";
    return false;
  }
  PlanFolder(options, videos, jobs);
  return true;
}

bool PrepareOutputFolders(const std::vector<Job>& jobs, mode_t mode, std::string* error) {
  std::set<std::string> folders;
  auto add_folder_of = [&](const std::string& path) {
    size_t slash = path.rfind('/');
    folders.insert(slash == std::string::npos ? "." : path.substr(0, slash + 1));
  };
  for (const Job& job : jobs) {
    if (!job.picture.path.empty() && job.picture.path != kStandardOutput) add_folder_of(job.picture.path);
    if (!job.failure_record.empty()) add_folder_of(job.failure_record);
  }
  for (const std::string& folder : folders) {
    if (!MakeFolders(folder, mode, error)) return false;
    if (::access(folder.c_str(), W_OK) != 0) {
      *error = "cannot write in " + folder + ": " + ErrorText(errno);
      return false;
    }
  }
  return true;
}

}  // namespace thumbnail
