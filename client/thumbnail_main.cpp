// The `thumbnail` tool: pictures of videos, made by thumbnail-server.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "client/atomic_file.h"
#include "client/batch.h"
#include "client/output_plan.h"
#include "client/system.h"
#include "client/thumbnailer_mode.h"
#include "client/tool_options.h"

namespace {

constexpr int kExitUsage = 2;

// The server lives beside the tool, in the build folder and once installed;
// THUMBNAIL_SERVER names another one.
std::string ServerPath() {
  if (const char* chosen = std::getenv("THUMBNAIL_SERVER"); chosen && *chosen) return chosen;
  const std::string self = thumbnail::OwnExecutablePath();
  if (self.empty()) return "thumbnail-server";
  return self.substr(0, self.rfind('/') + 1) + "thumbnail-server";
}

int Usage(const std::string& complaint) {
  std::fprintf(stderr, "thumbnail: %s\n%s", complaint.c_str(), thumbnail::UsageText().c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  thumbnail::ToolOptions options;
  std::string error;
  if (!thumbnail::ParseToolOptions(argc, argv, &options, &error)) return Usage(error);
  if (options.action == thumbnail::ToolOptions::Action::kHelp) {
    std::fputs(thumbnail::UsageText().c_str(), stdout);
    return 0;
  }
  if (options.action == thumbnail::ToolOptions::Action::kVersion) {
    std::puts("thumbnail " THUMBNAIL_VERSION);
    return 0;
  }
  thumbnail::RemoveTemporariesOnSignal();
  if (options.thumbnailer)
    return thumbnail::RunThumbnailer(ServerPath(), options.videos[0], options.videos[1], options.size);

  std::vector<thumbnail::Job> jobs;
  if (!thumbnail::PlanOutputs(options, &jobs, &error)) return Usage(error);
  thumbnail::BatchSettings settings;
  settings.server_path = ServerPath();
  settings.jobs = options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  settings.longer_edge = options.size;
  settings.progress = !options.quiet && ::isatty(STDERR_FILENO);
  return thumbnail::RunBatch(jobs, settings) == 0 ? 0 : 1;
}
