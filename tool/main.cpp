// The `thumbnail` tool: pictures of videos, made by thumbnail-server.
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "tool/batch/batch.h"
#include "tool/batch/batch_report.h"
#include "tool/desktop/desktop_cache.h"
#include "tool/desktop/thumbnailer_mode.h"
#include "tool/inputs/input_list.h"
#include "tool/server_confinement.h"
#include "tool/server_lookup.h"
#include "tool/terminal_text.h"
#include "tool/tool_options.h"
#include "tool/tool_signals.h"
#include "tool/write/output_plan.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Complain(const std::string& complaint, int status) {
  std::fprintf(stderr, "thumbnail: %s\n", thumbnail::Printable(complaint).c_str());
  if (status == kExitUsage) std::fputs("Try 'thumbnail --help' for more information.\n", stderr);
  return status;
}

// An output that cannot be written fails every video: with --json each
// still gets its line, so that a consumer counting them loses none.
int OutputUnwritable(const std::vector<thumbnail::Job>& jobs, const std::string& error, bool json) {
  if (json)
    for (const thumbnail::Job& job : jobs)
      std::puts(thumbnail::JsonLine(job.video, {thumbnail::VideoOutcome::Status::kFailed, job.picture.path, {}, {},
                                                error})
                    .c_str());
  return Complain(error, kExitFailed);
}

// The jobs of a run: the videos' pictures where -o puts them, or the
// desktop cache's entries; a file given again is a job only reported.
int PlanJobs(const thumbnail::ToolOptions& options, std::vector<thumbnail::Job>* jobs) {
  std::vector<std::string> listed;
  std::string error;
  if (!thumbnail::ReadVideoList(options, &listed, &error)) return Complain(error, kExitUsage);
  if (options.output == thumbnail::kStandardOutput && ::isatty(STDOUT_FILENO))
    return Complain("-o - would pour the picture's bytes onto the terminal: send standard output to a file or a "
                    "program",
                    kExitUsage);
  std::string cache;
  if (options.cache) {
    cache = thumbnail::ThumbnailCacheFolder();
    if (cache.empty()) return Complain("no cache folder: neither XDG_CACHE_HOME nor HOME is set", kExitFailed);
    std::vector<std::string> files;
    if (!thumbnail::WalkFolders(listed, &files, &error)) return Complain(error, kExitFailed);
    listed = std::move(files);
  }
  std::vector<std::string> videos;
  std::vector<thumbnail::Job> repeats;
  for (thumbnail::Input& input : thumbnail::ThisRunsShare(listed, options)) {
    if (input.repeat_of.empty()) {
      videos.push_back(std::move(input.path));
    } else {
      repeats.emplace_back();
      repeats.back().video = std::move(input.path);
      repeats.back().repeat_of = std::move(input.repeat_of);
    }
  }
  if (options.cache) {
    *jobs = thumbnail::CacheJobs(videos, options.cache_size, cache);
    for (thumbnail::Job& job : *jobs) job.retry_failed = options.retry_failed;
  } else if (!thumbnail::PlanOutputs(options, videos, jobs, &error)) {
    return Complain(error, kExitUsage);
  }
  jobs->insert(jobs->end(), repeats.begin(), repeats.end());
  // The standard keeps the cache private to its user.
  if (!thumbnail::PrepareOutputFolders(*jobs, options.cache ? 0700 : 0777, &error))
    return OutputUnwritable(*jobs, error, options.json);
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
  std::string server = thumbnail::FindServer(thumbnail::ServerPlacesOfThisProcess(), thumbnail::IsRunnable);
  if (options.action == thumbnail::ToolOptions::Action::kVersion) {
    std::puts("thumbnail " THUMBNAIL_VERSION);
    std::puts(("server: " + thumbnail::ConfinementLine(server)).c_str());
    return 0;
  }
  thumbnail::CleanUpOnSignal();
  if (server.empty())
    return Complain("cannot find thumbnail-server beside this program or on PATH; THUMBNAIL_SERVER names one",
                    kExitFailed);
  if (options.thumbnailer) return thumbnail::RunThumbnailer(server, options.videos[0], options.videos[1], options.size, options.wanted);

  std::vector<thumbnail::Job> jobs;
  if (int status = PlanJobs(options, &jobs); status != 0) return status;
  thumbnail::BatchSettings settings;
  settings.server_path = server;
  settings.jobs = options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  settings.progress = !options.quiet && ::isatty(STDERR_FILENO);
  settings.json = options.json;
  settings.wanted = options.wanted;
  settings.product = options.product;
  settings.max_read = options.max_read;
  return thumbnail::RunBatch(jobs, settings) == 0 ? 0 : kExitFailed;
}
