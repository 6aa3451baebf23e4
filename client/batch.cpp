#include "client/batch.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "client/batch_report.h"
#include "client/desktop_cache.h"
#include "client/kept_picture.h"
#include "client/processor_share.h"
#include "client/thumbnail_job.h"

namespace thumbnail {
namespace {

VideoOutcome Failed(const Job& job, std::string reason) {
  return {VideoOutcome::Status::kFailed, job.picture.path, {}, {}, std::move(reason)};
}

VideoOutcome Run(ThumbnailClient& client, const Job& job, const Position& where) {
  switch (KeptPicture(job)) {
    case Kept::kCurrent:
      return {VideoOutcome::Status::kKept, job.picture.path, {}, {}, ""};
    case Kept::kKnownFailure:
      return Failed(job, "failed before, and has not changed since");
    case Kept::kNo:
      break;
  }
  ThumbnailOutcome made = MakeThumbnail(client, job.video, job.picture, where);
  if (made.ok) return {VideoOutcome::Status::kWritten, job.picture.path, made.size, made.origin, ""};
  std::string error;
  if (!job.failure_record.empty() && !RecordFailure(job, made.request, made.error, &error))
    made.error += "; and its failure record: " + error;
  return Failed(job, made.error);
}

}  // namespace

int RunBatch(const std::vector<Job>& jobs, const BatchSettings& settings) {
  // Each group is a job and the later ones that write its picture.
  std::vector<std::vector<size_t>> groups;
  std::vector<size_t> group_of(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    int first = jobs[i].same_picture_as;
    if (first < 0) {
      group_of[i] = groups.size();
      groups.push_back({i});
    } else {
      group_of[i] = group_of[static_cast<size_t>(first)];
      groups[group_of[i]].push_back(i);
    }
  }

  BatchReport report(static_cast<int>(jobs.size()), settings.progress, settings.json);
  std::atomic<size_t> next{0};
  size_t workers = std::min<size_t>(static_cast<size_t>(std::max(settings.jobs, 1)), groups.size());
  auto work = [&](size_t worker) {
    const ProcessorShareScope share(worker, workers);
    ThumbnailClient client(ClientOptions{settings.server_path});
    for (size_t g; (g = next.fetch_add(1)) < groups.size();) {
      const Job* holder = nullptr;
      for (size_t i : groups[g]) {
        const Job& job = jobs[i];
        report.Started(job.video);
        VideoOutcome outcome =
            holder ? Failed(job, "its picture " + job.picture.path + " is that of " + holder->video +
                                     " (--tree keeps both)")
                   : Run(client, job, settings.position);
        if (outcome.status != VideoOutcome::Status::kFailed) holder = &job;
        report.Finished(job.video, outcome);
      }
    }
  };
  std::vector<std::thread> threads;
  for (size_t i = 1; i < workers; ++i) threads.emplace_back(work, i);
  work(0);
  for (std::thread& thread : threads) thread.join();
  return report.failed();
}

}  // namespace thumbnail
