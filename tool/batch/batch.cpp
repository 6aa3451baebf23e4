#include "tool/batch/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "tool/batch/batch_report.h"
#include "tool/batch/processor_share.h"
#include "tool/desktop/desktop_cache.h"
#include "tool/picture_pipeline.h"
#include "tool/sheet_pipeline.h"
#include "tool/sprite_pipeline.h"
#include "tool/write/kept_picture.h"
#include "tool/write/own_pictures.h"

namespace thumbnail {
namespace {

VideoOutcome Failed(const Job& job, std::string reason) {
  return {VideoOutcome::Status::kFailed, job.picture.path, {}, {}, std::move(reason)};
}

VideoOutcome Skipped(const Job& job, std::string reason) {
  return {VideoOutcome::Status::kSkipped, job.picture.path, {}, {}, std::move(reason)};
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The library's reason, with what the tool can add: the way to the videos
// in a folder, and that a URL is not read.
std::string ToolReason(const Job& job, const ThumbnailOutcome& made) {
  if (made.request == Failure::kNotAFile && IsFolder(job.video))
    return made.error + " (--cache walks folders; for pictures beside the videos: find " + job.video +
           " -type f -print0 | thumbnail -0 --files-from - ...)";
  if (made.request == Failure::kNoSuchFile && job.video.find("://") != std::string::npos)
    return "a URL, not a file: only local files are read";
  return made.error;
}

// Why the batch cannot go on, once a server could not even start: every
// video after would fail the same way.
class Stop {
 public:
  void Set(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopped_) reason_ = reason;
    stopped_ = true;
  }
  bool Get(std::string* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    *reason = reason_;
    return stopped_;
  }

 private:
  std::mutex mutex_;
  bool stopped_ = false;
  std::string reason_;
};

ThumbnailOutcome Make(ThumbnailClient& client, const Job& job, const BatchSettings& settings) {
  switch (settings.product.kind) {
    case Product::Kind::kSheet:
      return MakeContactSheet(client, job.video, job.picture, settings.product);
    case Product::Kind::kSprites:
      return MakeSpriteTrack(client, job.video, job.picture, settings.product);
    case Product::Kind::kThumbnail:
      break;
  }
  return MakeThumbnail(client, job.video, job.picture, settings.wanted);
}

VideoOutcome Run(ThumbnailClient& client, const Job& job, const BatchSettings& settings, const InputFiles& inputs,
                 Stop* stop) {
  if (!job.repeat_of.empty()) return Skipped(job, "the same file as " + job.repeat_of + ", done once");
  KeptState kept = KeptPicture(job);
  switch (kept.kind) {
    case KeptState::Kind::kCurrent:
      return {VideoOutcome::Status::kKept, job.picture.path, kept.size, {}, ""};
    case KeptState::Kind::kKnownFailure:
      return Skipped(job, (kept.reason.empty() ? std::string("failed") : kept.reason) +
                              " (remembered from an earlier run; --retry-failed tries again)");
    case KeptState::Kind::kNo:
      break;
  }
  std::string refused;
  const bool may_write = job.picture.path == "-" ||
                         (settings.product.kind == Product::Kind::kSprites
                              ? MayWriteSpriteFolder(job.video, job.picture.path, job.replace_any, inputs, &refused)
                              : MayWritePicture(job.video, job.picture.path, job.replace_any, inputs, &refused));
  if (!may_write) return Failed(job, refused);
  ThumbnailOutcome made = Make(client, job, settings);
  if (made.ok) {
    VideoOutcome written{VideoOutcome::Status::kWritten, job.picture.path, made.size, made.origin, "", made.frames};
    written.chosen = made.chosen;
    written.candidates = std::move(made.candidates);
    return written;
  }
  if (made.request == Failure::kServerUnavailable) {
    stop->Set(made.error);
    return Failed(job, made.error);
  }
  std::string reason = ToolReason(job, made), error;
  if (!job.failure_record.empty() && !RecordFailure(job, made.request, reason, &error))
    reason += "; and its failure record: " + error;
  return Failed(job, reason);
}

// What a later job that writes the same picture as `holder` is told.
std::string ClashReason(const Job& job, const Job& holder) {
  const auto folder = [](const std::string& path) { return path.substr(0, path.rfind('/') + 1); };
  // Only the folders of the paths tell pictures apart; in one folder, only
  // whole file names do.
  const char* keeps_both = folder(job.video) == folder(holder.video) ? "without --strip-extension each has its own"
                                                                      : "--tree keeps both";
  return "its picture " + job.picture.path + " is that of " + holder.video + " (" + keeps_both + ")";
}

}  // namespace

int RunBatch(const std::vector<Job>& jobs, const BatchSettings& settings) {
  // Each group is a job and the later ones that write its picture.
  std::vector<std::vector<size_t>> groups;
  std::vector<size_t> group_of(jobs.size());
  std::vector<std::string> videos;
  for (size_t i = 0; i < jobs.size(); ++i) {
    videos.push_back(jobs[i].video);
    int first = jobs[i].same_picture_as;
    if (first < 0) {
      group_of[i] = groups.size();
      groups.push_back({i});
    } else {
      group_of[i] = group_of[static_cast<size_t>(first)];
      groups[group_of[i]].push_back(i);
    }
  }
  // No input of the run is ever replaced by a picture, its own video's or
  // another's.
  const InputFiles inputs(videos);

  BatchReport report(static_cast<int>(jobs.size()), settings.progress, settings.json);
  Stop stop;
  std::atomic<size_t> next{0};
  size_t workers = std::min<size_t>(static_cast<size_t>(std::max(settings.jobs, 1)), groups.size());
  auto work = [&](size_t worker) {
    const ProcessorShareScope share(worker, workers);
    ClientOptions options{settings.server_path};
    options.max_read_bytes = settings.max_read;
    ThumbnailClient client(std::move(options));
    for (size_t g; (g = next.fetch_add(1)) < groups.size();) {
      const Job* holder = nullptr;
      for (size_t i : groups[g]) {
        const Job& job = jobs[i];
        report.Started(job.video);
        std::string stopped;
        VideoOutcome outcome;
        if (stop.Get(&stopped))
          outcome = {VideoOutcome::Status::kNotTried, job.picture.path, {}, {}, "not tried: " + stopped};
        else if (holder)
          outcome = Failed(job, ClashReason(job, *holder));
        else
          outcome = Run(client, job, settings, inputs, &stop);
        ReadTally tally;
        if (settings.json && client.GetReadTally(&tally).ok() && tally.bytes > 0) outcome.read = tally;
        // Every line of a run of sheets or sprites tells its files and
        // frames, none when it made nothing.
        if (settings.product.kind != Product::Kind::kThumbnail && !outcome.frames) outcome.frames = FramesWritten{};
        if (outcome.status == VideoOutcome::Status::kWritten || outcome.status == VideoOutcome::Status::kKept)
          holder = &job;
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
