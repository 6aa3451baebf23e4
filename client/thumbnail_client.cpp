#include "client/thumbnail_client.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "client/default_server.h"
#include "client/image_scale.h"
#include "client/server_process.h"
#include "client/system.h"
#include "protocol/messages.h"
#include "protocol/server_timing.h"

namespace thumbnail {
namespace {

// The largest frame accepted from the server, as the server's own bitmaps
// are limited: a bigger size in a reply is a broken reply.
constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 30;
// The largest edge of a picture of a size asked.
constexpr int kMaxEdge = 16384;

// A video file checked before the server is asked about it, and the path
// the server is given for it.
class CheckedFile {
 public:
  ~CheckedFile() {
    if (fd_ >= 0) ::close(fd_);
  }

  Status Open(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos)
      return Status::Error(Failure::kBadRequest, "not a usable file name");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return Status::Error(Failure::kNoSuchFile, "no such file");
      return Status::Error(Failure::kUnreadable, "cannot read it: " + ErrorText(errno));
    }
    if (S_ISDIR(st.st_mode)) return Status::Error(Failure::kNotAFile, "is a directory");
    // A pipe or a device would leave the server waiting on it for good.
    if (!S_ISREG(st.st_mode)) return Status::Error(Failure::kNotAFile, "not a regular file");
    // Non-blocking: a FIFO put in the file's place since the check above must
    // not hold the open; reads of a regular file ignore it.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return Status::Error(Failure::kUnreadable, "cannot read it: " + ErrorText(errno));

    // The server runs in the folder it was started in, which need not be
    // this process's folder now.
    wire_path_ = path;
    if (path[0] != '/') {
      char* cwd = ::getcwd(nullptr, 0);
      if (!cwd) return Status::Error(Failure::kUnreadable, "cannot tell the current folder");
      wire_path_ = std::string(cwd) + "/" + path;
      ::free(cwd);
    }
    // The channel carries 259 characters; a longer name would be cut and its
    // tail taken for the next argument. The server reaches the file through
    // the descriptor open here instead.
    if (wire_path_.size() >= wire::kMaxStringBytes)
      wire_path_ = PathOfOpenDescriptor(fd_);
    return Status::Ok();
  }

  const std::string& wire_path() const { return wire_path_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string wire_path_;
};

// Command 2, or command 7 when the caller names a position or the cover,
// at the frame's own size.
wire::ThumbnailRequest ThumbnailCommand(const std::string& path, const Position& where) {
  wire::ThumbnailRequest request{path, 0, 0, std::nullopt};
  if (where.kind == Position::Kind::kServerChoice && !where.prefer_cover) return request;
  uint32_t kind = where.kind == Position::Kind::kMillionths ? wire::kMillionthsOfDuration : wire::kMilliseconds;
  if (where.prefer_cover) kind |= wire::kPreferCover;
  // The cover alone, without a position: where the server's own walk starts.
  request.position = {kind, where.kind == Position::Kind::kServerChoice ? wire::kFirstWalkPositionMs : where.value};
  return request;
}

// The server's reason as the caller's failure and a sentence for the user.
Status FromReason(uint32_t reason, const std::string& codec) {
  switch (reason) {
    case wire::kUnreadable:
      return Status::Error(Failure::kUnreadable, "the server could not read it");
    case wire::kNotMedia:
      return Status::Error(Failure::kNotMedia, "not a video file the server knows");
    case wire::kNoVideoStream:
      return Status::Error(Failure::kNoVideoStream, "has no video stream");
    case wire::kCodecUnavailable:
      return Status::Error(Failure::kCodecUnavailable,
                           "no decoder here for its video codec" + (codec.empty() ? "" : " " + codec));
    case wire::kEncrypted:
      return Status::Error(Failure::kEncrypted, "its video is encrypted");
    case wire::kTooLarge:
      return Status::Error(Failure::kTooLarge, "its picture is too large");
    case wire::kIncomplete:
      return Status::Error(Failure::kIncomplete, "incomplete: it may still be being written");
    case wire::kTooCostly:
      return Status::Error(Failure::kTooCostly, "reading it would cost too much");
    case wire::kNotHandedOver:
      return Status::Error(Failure::kUnreadable, "the file did not reach the server");
    case wire::kPathRefused:
      return Status::Error(Failure::kBadRequest, "the server takes only files handed over");
    default:
      return Status::Error(Failure::kDamaged, "damaged: nothing in its video could be decoded");
  }
}

// The origin the server names, and the time that goes with it only for a
// frame of the video; nothing for a value the server never sends.
std::optional<FrameOrigin> OriginOf(uint32_t origin, uint32_t milliseconds) {
  if (origin > wire::kFrameOfUnknownTime) return std::nullopt;
  constexpr FrameOrigin::Source kSources[] = {FrameOrigin::Source::kNone, FrameOrigin::Source::kVideo,
                                              FrameOrigin::Source::kCover, FrameOrigin::Source::kUnknownTime};
  FrameOrigin told{kSources[origin], 0};
  if (told.source == FrameOrigin::Source::kVideo) told.milliseconds = milliseconds;
  return told;
}

Status BadReply(const std::string& what) { return Status::Error(Failure::kProtocolError, "the server sent " + what); }

}  // namespace

ThumbnailClient::ThumbnailClient(ClientOptions options) : options_(std::move(options)) {}

ThumbnailClient::~ThumbnailClient() = default;

pid_t ThumbnailClient::server_pid() const { return server_ ? server_->pid() : 0; }

Status ThumbnailClient::EnsureServer() {
  // A server that has ended since the last request, or that is close to
  // ending itself for idleness, is replaced before it is asked anything:
  // a command sent just as it quits would be lost with it.
  if (server_ && (server_->HasGoneAway() ||
                  server_->IdleFor() >= std::chrono::milliseconds(options_.restart_after_idle_ms)))
    server_.reset();
  if (server_) return Status::Ok();
  confinement_ = Confinement{};
  Status status =
      ServerProcess::Start(options_.server_path.empty() ? DefaultServerPath() : options_.server_path, &server_);
  if (!status.ok() || !options_.hand_over_files) return status;
  // Locked before its first file: nothing a file names is ever in reach.
  wire::LockReply lock;
  status = server_->Ask(wire::LockRequest{}, &lock, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  if (lock.locked > 1) return Drop(BadReply("a lock reply of " + std::to_string(lock.locked)));
  confinement_.locked = lock.locked == 1;
  confinement_.landlock_abi = static_cast<int>(std::min<uint32_t>(lock.landlockAbi, INT32_MAX));
  return Status::Ok();
}

Status ThumbnailClient::GiveFile(int fd, const std::string& path, std::string* wire_path) {
  file_given_ = true;
  if (!options_.hand_over_files) {
    *wire_path = path;
    return Status::Ok();
  }
  wire_path->clear();
  wire::HandFileReply reply;
  Status status = server_->HandOver(fd, options_.max_read_bytes, &reply, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  if (reply.reason != wire::kNoFailure) return FromReason(reply.reason, "");
  return Status::Ok();
}

Status ThumbnailClient::Drop(const Status& what) {
  Status told = server_->EndAfter(what);
  server_.reset();
  return told;
}

Status ThumbnailClient::Thumbnail(const std::string& path, Frame* frame, const Position& where) {
  return Request(path, where, frame);
}

Status ThumbnailClient::ThumbnailAtSize(const std::string& path, int width, int height, Frame* frame,
                                        const Position& where) {
  *frame = Frame{};
  if (width <= 0 || height <= 0 || width > kMaxEdge || height > kMaxEdge)
    return Status::Error(Failure::kBadRequest, "size out of range");
  // The server's own fixed size cuts the frame instead of scaling it, and
  // sends black rows for a file it cannot read: the frame is asked for
  // within the box's longer edge and fitted here.
  Frame own;
  Status status = ThumbnailWithin(path, std::max(width, height), &own, where);
  if (!status.ok()) return status;
  if (!FitIntoFrame(own, width, height, frame)) return Status::Error(Failure::kTooLarge, "cannot scale the frame");
  return Status::Ok();
}

Status ThumbnailClient::ThumbnailWithin(const std::string& path, int longer_edge, Frame* frame,
                                        const Position& where) {
  *frame = Frame{};
  if (longer_edge < 0 || longer_edge > kMaxEdge) return Status::Error(Failure::kBadRequest, "size out of range");
  file_given_ = false;
  CheckedFile file;
  Status status = file.Open(path);
  if (!status.ok()) return status;
  status = EnsureServer();
  if (!status.ok()) return status;
  FramesRequest walk;
  walk.longer_edge = longer_edge;
  walk.kind = where.kind;
  walk.prefer_cover = where.prefer_cover;
  if (where.kind != Position::Kind::kServerChoice) walk.positions = {where.value};
  std::string wire_path;
  status = GiveFile(file.fd(), file.wire_path(), &wire_path);
  if (!status.ok()) return status;
  bool given = false;
  status = RunFrames(wire_path, walk, true, nullptr, [&](const TimedFrame& taken) {
    if (taken.missing) return true;
    *frame = taken.frame;
    given = true;
    return true;
  });
  if (!status.ok()) return status;
  // The walk gives its frame or fails: a request that ended without one
  // broke the protocol.
  if (!given) return Drop(BadReply("no frame for a walk"));
  return Status::Ok();
}

Status ThumbnailClient::Frames(const std::string& path, const FramesRequest& request,
                               const std::function<bool(const VideoFacts&)>& on_facts,
                               const std::function<bool(const TimedFrame&)>& on_frame) {
  if (request.longer_edge < 0 || request.longer_edge > kMaxEdge)
    return Status::Error(Failure::kBadRequest, "size out of range");
  if (request.interval_ms == 0 && request.positions.empty())
    return Status::Error(Failure::kBadRequest, "no position and no interval");
  if (request.positions.size() > kMaxFramePositions)
    return Status::Error(Failure::kBadRequest, "more than " + std::to_string(kMaxFramePositions) + " positions");
  if (request.interval_ms == 0 && request.kind == Position::Kind::kServerChoice)
    return Status::Error(Failure::kBadRequest, "positions of no kind");
  file_given_ = false;
  CheckedFile file;
  Status status = file.Open(path);
  if (!status.ok()) return status;
  status = EnsureServer();
  if (!status.ok()) return status;
  std::string wire_path;
  status = GiveFile(file.fd(), file.wire_path(), &wire_path);
  if (!status.ok()) return status;
  return RunFrames(wire_path, request, false, on_facts, on_frame);
}

Status ThumbnailClient::RunFrames(const std::string& wire_path, const FramesRequest& request, bool walk,
                                  const std::function<bool(const VideoFacts&)>& on_facts,
                                  const std::function<bool(const TimedFrame&)>& on_frame) {
  wire::FramesRequest command;
  command.path = wire_path;
  command.longerEdge = static_cast<uint32_t>(request.longer_edge);
  command.mode = request.mode == FramesRequest::Mode::kKeyFrame ? wire::kKeyFrames : wire::kExactFrames;
  if (walk) command.mode |= wire::kFirstBrightFrame;
  if (request.interval_ms > 0 && !walk) {
    command.kind = wire::kIntervalMs;
    command.positions = {request.interval_ms};
  } else {
    command.kind = request.kind == Position::Kind::kMillionths ? wire::kMillionthsOfDuration : wire::kMilliseconds;
    command.positions = request.positions;
  }
  if (request.prefer_cover) command.kind |= wire::kPreferCover;

  wire::FramesReply opened;
  Status status = server_->Ask(command, &opened, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  if (opened.result == 0) return ServerReason();
  if (opened.result != 1 || opened.count > wire::kMaxFramePositions)
    return Drop(BadReply("a frames reply of " + std::to_string(opened.result) + ", " + std::to_string(opened.count)));
  VideoFacts facts;
  facts.frame_count = opened.count;
  facts.duration_ms = opened.durationMs == wire::kUnknownDuration ? -1 : int64_t{opened.durationMs};
  facts.width = static_cast<int>(std::min<uint32_t>(opened.width, INT32_MAX));
  facts.height = static_cast<int>(std::min<uint32_t>(opened.height, INT32_MAX));
  facts.video_codec = opened.videoCodec;
  facts.audio_codec = opened.audioCodec;
  bool wanted = !on_facts || on_facts(facts);

  // One frame at a time, each with a deadline of its own: a long request
  // that keeps giving frames is never cut short.
  TimedFrame taken;
  uint32_t given = 0;
  while (wanted) {
    wire::NextFrameReply next;
    status = server_->Ask(wire::NextFrameRequest{}, &next, ReplyDeadline());
    if (!status.ok()) return Drop(status);
    if (next.status == wire::kNoMoreFrames) break;
    const uint32_t w = next.width, h = next.height;
    const std::optional<FrameOrigin> origin = OriginOf(next.origin, next.milliseconds);
    if (next.status > wire::kFrameMissing || next.index >= opened.count || ++given > opened.count || !origin ||
        (next.status == wire::kFrameFollows &&
         (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || uint64_t{w} * h * 3 > kMaxFrameBytes)))
      return Drop(BadReply("a frame of " + std::to_string(w) + "x" + std::to_string(h) + " at index " +
                           std::to_string(next.index)));
    taken.index = next.index;
    taken.missing = next.status == wire::kFrameMissing;
    taken.origin = taken.missing ? FrameOrigin{} : *origin;
    taken.frame.width = taken.missing ? 0 : static_cast<int>(w);
    taken.frame.height = taken.missing ? 0 : static_cast<int>(h);
    taken.frame.bgr.resize(taken.missing ? 0 : size_t{w} * h * 3);
    if (!taken.missing) {
      status = server_->GetLines(0, h, size_t{w} * 3, taken.frame.bgr.data(), ReplyDeadline());
      if (!status.ok()) return Drop(status);
    }
    wanted = on_frame(taken);
  }
  status = server_->Send(wire::EndThumbnailRequest{}, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  // The server ended the request before its last frame: the graph stopped
  // working, and the server says why.
  if (wanted && given < opened.count) return ServerReason();
  return Status::Ok();
}

Status ThumbnailClient::Request(const std::string& path, const Position& where, Frame* frame) {
  *frame = Frame{};
  file_given_ = false;
  CheckedFile file;
  Status status = file.Open(path);
  if (!status.ok()) return status;
  status = EnsureServer();
  if (!status.ok()) return status;

  std::string wire_path;
  status = GiveFile(file.fd(), file.wire_path(), &wire_path);
  if (!status.ok()) return status;
  auto deadline = ReplyDeadline();
  wire::ThumbnailReply reply;
  status = server_->Send(ThumbnailCommand(wire_path, where), deadline);
  if (status.ok()) status = server_->Receive(&reply, deadline);
  if (!status.ok()) return Drop(status);
  if (reply.result > 1) return Drop(BadReply("a thumbnail reply of " + std::to_string(reply.result)));
  status = server_->AwaitReplyEnd(deadline);
  if (!status.ok()) return Drop(status);
  if (reply.result == 0) return ServerReason();

  const uint32_t w = reply.width, h = reply.height, bits = reply.bits;
  if (bits != 24 || w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || uint64_t{w} * h * 3 > kMaxFrameBytes)
    return Drop(BadReply("a frame size of " + std::to_string(w) + "x" + std::to_string(h) + "x" +
                         std::to_string(bits)));

  deadline = ReplyDeadline();
  frame->bgr.resize(size_t{w} * h * 3);
  status = server_->GetLines(0, h, size_t{w} * 3, frame->bgr.data(), deadline);
  if (status.ok()) status = server_->Send(wire::EndThumbnailRequest{}, deadline);
  if (!status.ok()) {
    *frame = Frame{};
    return Drop(status);
  }
  frame->width = static_cast<int>(w);
  frame->height = static_cast<int>(h);
  return Status::Ok();
}

std::chrono::steady_clock::time_point ThumbnailClient::ReplyDeadline() const {
  return Clock::now() + std::chrono::milliseconds(options_.reply_timeout_ms);
}

Status ThumbnailClient::ServerReason() {
  wire::FailureReply reply;
  Status status = server_->Ask(wire::FailureRequest{}, &reply, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  return FromReason(reply.reason, reply.codec);
}

Status ThumbnailClient::GetStatus() {
  Status status = EnsureServer();
  if (!status.ok()) return status;
  wire::StatusReply reply;
  status = server_->Ask(wire::StatusRequest{}, &reply, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  if (reply.status != 1) return Drop(BadReply("a status of " + std::to_string(reply.status)));
  return Status::Ok();
}

Status ThumbnailClient::GetReadTally(ReadTally* tally) {
  *tally = ReadTally{};
  // A server that has gone took what it knew with it; one that was not
  // given the last file knows only the one before.
  if (!file_given_ || !server_ || server_->HasGoneAway()) return Status::Ok();
  wire::ReadTallyReply reply;
  Status status = server_->Ask(wire::ReadTallyRequest{}, &reply, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  tally->bytes = reply.bytes();
  tally->seeks = reply.seeks;
  return Status::Ok();
}

Status ThumbnailClient::GetConfinement(Confinement* confinement) {
  Status status = EnsureServer();
  *confinement = status.ok() ? confinement_ : Confinement{};
  return status;
}

Status ThumbnailClient::GetFrameOrigin(FrameOrigin* origin) {
  *origin = FrameOrigin{};
  // A server that has gone took what it knew with it.
  if (!server_ || server_->HasGoneAway()) return Status::Ok();
  wire::FrameOriginReply reply;
  Status status = server_->Ask(wire::FrameOriginRequest{}, &reply, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  const std::optional<FrameOrigin> told = OriginOf(reply.origin, reply.milliseconds);
  if (!told) return Drop(BadReply("a frame origin of " + std::to_string(reply.origin)));
  *origin = *told;
  return Status::Ok();
}

Status ThumbnailClient::GetDirectXLevel(DirectXLevel* level) {
  *level = DirectXLevel{};
  Status status = EnsureServer();
  if (!status.ok()) return status;
  wire::DirectXLevelReply reply;
  status = server_->Ask(wire::DirectXLevelRequest{}, &reply, ReplyDeadline());
  if (!status.ok()) return Drop(status);
  const uint32_t flag = reply.filterGraph;
  if (flag > 1) return Drop(BadReply("a filter graph flag of " + std::to_string(flag)));
  level->level = reply.level;
  level->filter_graph_available = flag == 1;
  return Status::Ok();
}

}  // namespace thumbnail
