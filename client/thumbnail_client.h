// The parent side of the thumbnail server: a client that runs one
// `thumbnail-server` child and asks it for frames of video files.
//
// The server is started on first use and restarted whenever it has gone
// away: after a crash, after its watchdog cut a request off, or after it
// ended itself for being idle ten seconds. Each of these costs at most the
// one request during which it happened; the caller never sees the server's
// idle end at all.
//
// One client is used by one thread at a time; run several clients to run
// several servers side by side.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "thumbnail_export.h"

namespace thumbnail {

// Why a request failed.
enum class Failure {
  kNone,
  kNoSuchFile,         // nothing at that path
  kNotAFile,           // a directory, a device, a pipe
  kUnreadable,         // there, but this process may not read it
  kBadRequest,         // a path holding a NUL, a size out of range
  // The server's reasons for a file it gave no frame of.
  kNotMedia,          // no format the server knows takes the file
  kNoVideoStream,     // a media file without video, audio only say
  kCodecUnavailable,  // no decoder on this system for the video's codec
  kEncrypted,         // the video is encrypted
  kDamaged,           // nothing in the video could be decoded
  kTooLarge,          // the picture is larger than the server takes
  kServerCrashed,     // the server ended in the middle of the request
  kTimedOut,          // the server's watchdog cut the request off (it ended
                      // ten seconds or more after the command), or it never replied
  kServerUnavailable,  // the server could not be started
  kProtocolError,      // the server's reply did not fit the protocol
  kIncomplete,         // the file ends before its index: a download or a recording
                       // still being written, most likely
  kTooCostly,          // reading it would cost more than ClientOptions::max_read_bytes
};

// The outcome of one request: kNone, or a failure with a sentence that says
// why, meant for the user ("no such file", "the server crashed on it").
struct Status {
  Failure failure = Failure::kNone;
  std::string reason;

  bool ok() const { return failure == Failure::kNone; }
  static Status Ok() { return {}; }
  static Status Error(Failure failure, std::string reason) { return {failure, std::move(reason)}; }
};

// Where in the video the server looks: its own eight positions up to 20 s,
// or forward from a time or a share of the duration (the position, then 0.5,
// 1, 2, 4, 8, 15 and 30 s after it, until a frame is not too dark). Positions
// past the end become the middle of the video.
struct Position {
  enum class Kind { kServerChoice, kMilliseconds, kMillionths };
  Kind kind = Kind::kServerChoice;
  uint32_t value = 0;  // milliseconds, or millionths of the duration (1000000 the end)
  // The file's cover picture (an attached picture) when it has one; alone,
  // the walk starts at 0.3 s as the server's own does.
  bool prefer_cover = false;
};

// A picture as top-down rows of width * 3 bytes: blue, green, red.
struct Frame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
};

// Where the frame of a request came from.
struct FrameOrigin {
  enum class Source {
    kNone,         // the request gave no frame, or this server made none
    kVideo,        // a frame of the video, shown at `milliseconds`
    kCover,        // the file's cover picture
    kUnknownTime,  // a frame of a video the server could not seek in
  };
  Source source = Source::kNone;
  uint32_t milliseconds = 0;
};

// What the server reports for its DirectX level command.
struct DirectXLevel {
  uint32_t level = 0;             // major * 256 + minor, 0 for none
  bool filter_graph_available = false;
};

// Many frames of one video, taken in one pass over the file: the frame at
// each of a list of positions, or one every `interval_ms` over the whole
// video. Each frame is scaled so that its longer edge is at most
// `longer_edge` (0: its own size) before its colours are converted, so a
// small frame of an 8K or HDR video costs little more than decoding it.
struct FramesRequest {
  enum class Mode {
    kExact,     // the frame shown at each position, as Thumbnail's
    kKeyFrame,  // the key frame at or before each position, with its own
                // time: only key frames are decoded, many times faster
  };
  Mode mode = Mode::kExact;
  int longer_edge = 0;
  // The list: milliseconds or millionths of the duration (1000000 the end),
  // in any order; frames come in time order, each naming its index here.
  Position::Kind kind = Position::Kind::kMilliseconds;
  std::vector<uint32_t> positions;
  // Nonzero: a frame every this many milliseconds from 0 to the end, and
  // the list is not used.
  uint32_t interval_ms = 0;
  // The file's cover picture alone when it has one.
  bool prefer_cover = false;
};

// What the server tells of a video as it opens it for a FramesRequest.
struct VideoFacts {
  uint32_t frame_count = 0;  // how many frames (or missing ones) will come
  int64_t duration_ms = -1;  // -1 when the file does not say
  int width = 0;             // of its picture as shown: turned, square pixels
  int height = 0;
  std::string video_codec;  // short names, as FFmpeg knows them ("h264")
  std::string audio_codec;  // empty when it has no audio
};

// One frame of a FramesRequest.
struct TimedFrame {
  size_t index = 0;      // of its position in the request (the n-th interval)
  bool missing = false;  // nothing decoded there: `frame` is empty
  FrameOrigin origin;    // its time, for a frame of the video
  Frame frame;
};

// The most positions one FramesRequest takes.
inline constexpr size_t kMaxFramePositions = 100000;

struct ClientOptions {
  // The server program; empty for the one THUMBNAIL_SERVER names, else the
  // one installed with this library.
  std::string server_path;
  // How long one reply may take. The server's own watchdog ends a request
  // 10 to 11 s after its command; this is the backstop for a server that is
  // alive but stuck.
  int reply_timeout_ms = 15000;
  // A server idle this long is replaced before the next request, so that a
  // request never races the server's own end at ten idle seconds.
  int restart_after_idle_ms = 8000;
  // The server reads each file only through a descriptor this process opens
  // and hands over, and is locked so that it can open no file itself: a
  // playlist, a data reference or a pattern inside a crafted file names
  // nothing it can reach. Off, the server is given paths.
  bool hand_over_files = true;
  // The most the server may read of one file, in bytes; 0 for no limit.
  // A request that would read more fails with kTooCostly once the budget is
  // spent, not after the whole file. Needs hand_over_files.
  uint64_t max_read_bytes = 0;
};

// What the last request read of its file, as the server counted it.
struct ReadTally {
  uint64_t bytes = 0;
  uint32_t seeks = 0;  // moves to anywhere but the next byte
};

// How the server is confined from opening files.
struct Confinement {
  bool locked = false;   // it can open no file (files are handed over)
  int landlock_abi = 0;  // the Landlock ABI it entered; 0 where seccomp alone locks it
};

class ServerProcess;
struct FrameChoice;  // frame_choice.h

class THUMBNAIL_CLIENT_API ThumbnailClient {
 public:
  explicit ThumbnailClient(ClientOptions options);
  // Ends the server, if one runs, and reaps it: no child outlives the client.
  ~ThumbnailClient();
  ThumbnailClient(const ThumbnailClient&) = delete;
  ThumbnailClient& operator=(const ThumbnailClient&) = delete;

  // The frame of `path` at its own size. A file the server cannot read
  // fails with its reason.
  Status Thumbnail(const std::string& path, Frame* frame, const Position& where = {});

  // The frame Thumbnail gives, scaled so that its longer edge is at most
  // `longer_edge` pixels (never enlarged; 0 keeps its own size). The server
  // scales it before converting its colours, so a small picture of an 8K or
  // HDR video never moves or converts full-size rows.
  Status ThumbnailWithin(const std::string& path, int longer_edge, Frame* frame, const Position& where = {});

  // The frame of `path` as a picture of exactly width x height: the frame
  // scaled as large as fits with its aspect kept, in the middle, the rest
  // black. A file the server cannot read fails with its reason, as at the
  // frame's own size.
  Status ThumbnailAtSize(const std::string& path, int width, int height, Frame* frame, const Position& where = {});

  // The frames `request` asks of `path`, in time order: `on_facts` once the
  // file is open, then `on_frame` for each, with one frame in memory at a
  // time. Either returning false ends the request early, which is no
  // failure. A file the server cannot read fails with its reason before any
  // call; a failure in the middle (the server crashed on a damaged stretch,
  // say) comes after the frames before it.
  Status Frames(const std::string& path, const FramesRequest& request,
                const std::function<bool(const VideoFacts&)>& on_facts,
                const std::function<bool(const TimedFrame&)>& on_frame);

  // The frame that shows best what `path` is, within `longer_edge` (0 for
  // its own size): candidates spread over the video (a dozen key frames
  // between 5 % and 50 % of it, or the walk's positions and two more when
  // its duration is unknown) are taken small in one pass and scored on
  // darkness, spread of luma, sharpness and colour, inside their black
  // bars; the best are judged for a fade or a dissolve against the frame
  // just after them, at the size asked, and the winner is one of them. `why` (may be null)
  // gets every candidate's time and scores. A video whose candidates all
  // fail gets the server's walk's frame; a file the server cannot read fails
  // with its reason.
  Status ChooseFrame(const std::string& path, int longer_edge, Frame* frame, FrameChoice* why = nullptr);

  // Where the frame of the last request came from. Asked of the server, so
  // after a request that ended its server the answer is kNone.
  Status GetFrameOrigin(FrameOrigin* origin);

  // Asks the server whether it is up.
  Status GetStatus();

  // What the last request read of its file. Zero after a request that never
  // reached the server (no such file, say) or that ended its server.
  Status GetReadTally(ReadTally* tally);

  // How the server is confined, starting one if none runs. Unlocked when
  // the options hand no files over.
  Status GetConfinement(Confinement* confinement);

  // Asks the server which DirectX level it offers.
  Status GetDirectXLevel(DirectXLevel* level);

  // The running server's process id, 0 when none runs.
  pid_t server_pid() const;

 private:
  Status EnsureServer();
  // Hands the open file fd over when the options say so: the path the
  // server is then given is empty; otherwise it is `path`, the file's own.
  Status GiveFile(int fd, const std::string& path, std::string* wire_path);
  Status Request(const std::string& path, const Position& where, Frame* frame);
  // A frames request for the file the server reaches at `wire_path`, run to
  // its end; with `walk`, its positions are a walk's start and it gives the
  // walk's one frame.
  Status RunFrames(const std::string& wire_path, const FramesRequest& request, bool walk,
                   const std::function<bool(const VideoFacts&)>& on_facts,
                   const std::function<bool(const TimedFrame&)>& on_frame);
  // Asks the server why its last request failed.
  Status ServerReason();
  // When a reply asked for now is late.
  std::chrono::steady_clock::time_point ReplyDeadline() const;
  // Ends the server after a failed exchange and turns the way it went into
  // the status of the request.
  Status Drop(const Status& what);

  ClientOptions options_;
  std::unique_ptr<ServerProcess> server_;
  Confinement confinement_;
  // The last request handed its file to the running server.
  bool file_given_ = false;
};

}  // namespace thumbnail
