#include "client/output_plan.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <map>

#include "client/system.h"

namespace thumbnail {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string PictureName(const std::string& video, ImageFormat format) {
  size_t slash = video.find_last_not_of('/');
  std::string base = slash == std::string::npos ? video : video.substr(0, slash + 1);
  base = base.substr(base.rfind('/') == std::string::npos ? 0 : base.rfind('/') + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base + FormatExtension(format);
}

}  // namespace

bool PlanOutputs(const ToolOptions& options, std::vector<Job>* jobs, std::string* error) {
  jobs->clear();
  const std::string& output = options.output;
  bool to_folder = output.empty() || output.back() == '/' || IsFolder(output) || options.videos.size() > 1;
  if (!to_folder) {
    Job job{options.videos[0], output, options.format, ""};
    if (!options.format_given && !FormatFromName(output, &job.format)) {
      *error = "cannot tell the picture format of " + output + " (use .png, .jpg or .bmp)";
      return false;
    }
    jobs->push_back(job);
    return true;
  }

  ImageFormat unused;
  if (!output.empty() && !IsFolder(output)) {
    if (FormatFromName(output, &unused)) {
      *error = "-o " + output + " names one picture, but there are " + std::to_string(options.videos.size()) +
               " videos";
      return false;
    }
    if (::mkdir(output.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = "cannot make the folder " + output + ": " + ErrorText(errno);
      return false;
    }
  }
  std::string folder = output.empty() ? "" : (output.back() == '/' ? output : output + "/");
  std::map<std::string, std::string> writer_of;
  for (const std::string& video : options.videos) {
    Job job{video, folder + PictureName(video, options.format), options.format, ""};
    auto [first, fresh] = writer_of.emplace(job.output, video);
    if (!fresh) job.refused = "its picture " + job.output + " would replace that of " + first->second;
    jobs->push_back(job);
  }
  return true;
}

}  // namespace thumbnail
