// The `thumbnail` tool: pictures of videos, made by thumbnail-server.
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "client/batch.h"
#include "client/desktop_cache.h"
#include "client/input_list.h"
#include "client/output_plan.h"
#include "client/server_lookup.h"
#include "client/terminal_text.h"
#include "client/thumbnailer_mode.h"
#include "client/tool_options.h"
#include "client/tool_signals.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Complain(const std::string& complaint, int status) {
  std::fprintf(stderr, "thumbnail: %s\n", thumbnail::Printable(complaint).c_str());
  if (status == kExitUsage) std::fputs("Try 'thumbnail --help' for more information.\n", stderr);
  return status;
}

// The jobs of a run: the videos' pictures where -o puts them, or the
// desktop cache's entries.
int PlanJobs(const thumbnail::ToolOptions& options, std::vector<thumbnail::Job>* jobs) {
  std::vector<std::string> listed;
  std::string error;
  if (!thumbnail::ReadVideoList(options, &listed, &error)) return Complain(error, kExitFailed);
  if (options.cache) {
    std::string cache = thumbnail::ThumbnailCacheFolder();
    if (cache.empty()) return Complain("no cache folder: neither XDG_CACHE_HOME nor HOME is set", kExitFailed);
    std::vector<std::string> files;
    if (!thumbnail::WalkFolders(listed, &files, &error)) return Complain(error, kExitFailed);
    *jobs = thumbnail::CacheJobs(thumbnail::ThisRunsShare(files, options), options.cache_size, cache);
    // The standard keeps the cache private to its user.
    if (!thumbnail::PrepareOutputFolders(*jobs, 0700, &error)) return Complain(error, kExitFailed);
    return 0;
  }
  std::vector<std::string> videos = thumbnail::ThisRunsShare(listed, options);
  if (!thumbnail::PlanOutputs(options, videos, jobs, &error)) return Complain(error, kExitUsage);
  if (!thumbnail::PrepareOutputFolders(*jobs, 0777, &error)) return Complain(error, kExitFailed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  thumbnail::ToolOptions options;
  std::string error;
  if (!thumbnail::ParseToolOptions(argc, argv, &options, &error)) return Complain(error, kExitUsage);
  if (options.action == thumbnail::ToolOptions::Action::kHelp) {
    std::fputs(thumbnail::UsageText().c_str(), stdout);
    return 0;
  }
  if (options.action == thumbnail::ToolOptions::Action::kVersion) {
    std::puts("thumbnail " THUMBNAIL_VERSION);
    return 0;
  }
  thumbnail::CleanUpOnSignal();
  std::string server = thumbnail::FindServer(thumbnail::ServerPlacesOfThisProcess(), thumbnail::IsRunnable);
  if (server.empty())
    return Complain("cannot find thumbnail-server beside this program or on PATH; THUMBNAIL_SERVER names one",
                    kExitFailed);
  if (options.thumbnailer) return thumbnail::RunThumbnailer(server, options.videos[0], options.videos[1], options.size);

  std::vector<thumbnail::Job> jobs;
  if (int status = PlanJobs(options, &jobs); status != 0) return status;
  thumbnail::BatchSettings settings;
  settings.server_path = server;
  settings.jobs = options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  settings.progress = !options.quiet && ::isatty(STDERR_FILENO);
  settings.json = options.json;
  settings.position = options.position;
  return thumbnail::RunBatch(jobs, settings) == 0 ? 0 : kExitFailed;
}
