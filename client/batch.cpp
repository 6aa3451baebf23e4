#include "client/batch.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "client/batch_report.h"
#include "client/thumbnail_job.h"

namespace thumbnail {

int RunBatch(const std::vector<Job>& jobs, const BatchSettings& settings) {
  BatchReport report(static_cast<int>(jobs.size()), settings.progress);
  std::atomic<size_t> next{0};
  auto work = [&] {
    ThumbnailClient client(ClientOptions{settings.server_path});
    for (size_t i; (i = next.fetch_add(1)) < jobs.size();) {
      const Job& job = jobs[i];
      report.Started(job.video);
      std::string error = job.refused;
      bool ok = error.empty() &&
                MakeThumbnail(client, job.video, PictureOutput{job.output, job.format, settings.longer_edge, true, {}}, &error);
      report.Finished(job.video, ok, error);
    }
  };
  size_t workers = std::min<size_t>(static_cast<size_t>(std::max(settings.jobs, 1)), jobs.size());
  std::vector<std::thread> threads;
  for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  return report.failed();
}

}  // namespace thumbnail
