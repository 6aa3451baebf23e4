// The C face of ThumbnailClient. No exception crosses into a C caller: the
// only one the C++ client can raise is running out of memory, which comes
// back as NULL.
#include "client/thumbnail_client_c.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "client/frame_choice.h"
#include "client/thumbnail_client.h"

// The C codes are the C++ failures' values, so the two never need a table.
static_assert(THUMBNAIL_OK == static_cast<int>(thumbnail::Failure::kNone));
static_assert(THUMBNAIL_NO_SUCH_FILE == static_cast<int>(thumbnail::Failure::kNoSuchFile));
static_assert(THUMBNAIL_NOT_A_FILE == static_cast<int>(thumbnail::Failure::kNotAFile));
static_assert(THUMBNAIL_UNREADABLE == static_cast<int>(thumbnail::Failure::kUnreadable));
static_assert(THUMBNAIL_BAD_REQUEST == static_cast<int>(thumbnail::Failure::kBadRequest));
static_assert(THUMBNAIL_NOT_MEDIA == static_cast<int>(thumbnail::Failure::kNotMedia));
static_assert(THUMBNAIL_NO_VIDEO_STREAM == static_cast<int>(thumbnail::Failure::kNoVideoStream));
static_assert(THUMBNAIL_CODEC_UNAVAILABLE == static_cast<int>(thumbnail::Failure::kCodecUnavailable));
static_assert(THUMBNAIL_ENCRYPTED == static_cast<int>(thumbnail::Failure::kEncrypted));
static_assert(THUMBNAIL_DAMAGED == static_cast<int>(thumbnail::Failure::kDamaged));
static_assert(THUMBNAIL_TOO_LARGE == static_cast<int>(thumbnail::Failure::kTooLarge));
static_assert(THUMBNAIL_SERVER_CRASHED == static_cast<int>(thumbnail::Failure::kServerCrashed));
static_assert(THUMBNAIL_TIMED_OUT == static_cast<int>(thumbnail::Failure::kTimedOut));
static_assert(THUMBNAIL_SERVER_UNAVAILABLE == static_cast<int>(thumbnail::Failure::kServerUnavailable));
static_assert(THUMBNAIL_PROTOCOL_ERROR == static_cast<int>(thumbnail::Failure::kProtocolError));
static_assert(THUMBNAIL_INCOMPLETE == static_cast<int>(thumbnail::Failure::kIncomplete));
static_assert(THUMBNAIL_TOO_COSTLY == static_cast<int>(thumbnail::Failure::kTooCostly));

static_assert(THUMBNAIL_ORIGIN_NONE == static_cast<int>(thumbnail::FrameOrigin::Source::kNone));
static_assert(THUMBNAIL_ORIGIN_VIDEO == static_cast<int>(thumbnail::FrameOrigin::Source::kVideo));
static_assert(THUMBNAIL_ORIGIN_COVER == static_cast<int>(thumbnail::FrameOrigin::Source::kCover));
static_assert(THUMBNAIL_ORIGIN_UNKNOWN_TIME == static_cast<int>(thumbnail::FrameOrigin::Source::kUnknownTime));

struct thumbnail_client {
  thumbnail::ThumbnailClient client;
};

namespace {

// The frame a C caller sees, with the storage its pointers point into.
struct OwnedFrame : thumbnail_frame {
  std::string reason_text;
  std::vector<uint8_t> pixels;
};

std::unique_ptr<OwnedFrame> Outcome(thumbnail::Status status) {
  auto frame = std::make_unique<OwnedFrame>();
  frame->status = static_cast<int>(status.failure);
  frame->reason_text = std::move(status.reason);
  frame->reason = frame->reason_text.c_str();
  return frame;
}

thumbnail::Status NoClientOrPath() {
  return thumbnail::Status::Error(thumbnail::Failure::kBadRequest, "no client or no path");
}

// The picture as a C caller sees it, pointing into `picture`.
void ShowPicture(const thumbnail::Frame& picture, const thumbnail::FrameOrigin& origin, thumbnail_frame* frame) {
  frame->width = picture.width;
  frame->height = picture.height;
  frame->stride = picture.width * 3;
  frame->bgr = picture.bgr.data();
  frame->origin = static_cast<int>(origin.source);
  frame->milliseconds = origin.milliseconds;
}

// One request's frame, asked by `ask` of the client.
template <typename Ask>
thumbnail_frame* Request(thumbnail_client* client, const char* path, Ask ask) {
  try {
    if (!client || !path) return Outcome(NoClientOrPath()).release();
    thumbnail::Frame picture;
    thumbnail::Status status = ask(client->client, &picture);
    bool ok = status.ok();
    auto frame = Outcome(std::move(status));
    if (ok) {
      // Where the frame came from only informs: a server that cannot say
      // leaves it unknown, and the frame stands.
      thumbnail::FrameOrigin origin;
      if (!client->client.GetFrameOrigin(&origin).ok()) origin = {};
      ShowPicture(picture, origin, frame.get());
      // The rows move into the frame, which owns them from here on.
      frame->pixels = std::move(picture.bgr);
      frame->bgr = frame->pixels.data();
    }
    return frame.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

thumbnail_frame* Request(thumbnail_client* client, const char* path, int width, int height,
                         const thumbnail::Position& where) {
  return Request(client, path, [&](thumbnail::ThumbnailClient& c, thumbnail::Frame* picture) {
    return width == 0 && height == 0 ? c.Thumbnail(path, picture, where)
                                     : c.ThumbnailAtSize(path, width, height, picture, where);
  });
}

thumbnail::Position PositionOf(int where, uint32_t value) {
  thumbnail::Position position;
  switch (where & 0xFF) {
    case THUMBNAIL_AT_MILLIONTHS:
      position.kind = thumbnail::Position::Kind::kMillionths;
      break;
    case THUMBNAIL_AT_SERVER_CHOICE:
      position.kind = thumbnail::Position::Kind::kServerChoice;
      break;
    default:
      position.kind = thumbnail::Position::Kind::kMilliseconds;
  }
  position.value = value;
  position.prefer_cover = (where & THUMBNAIL_PREFER_COVER) != 0;
  return position;
}

void CopyText(const std::string& text, char* out, size_t bytes) {
  if (!out || bytes == 0) return;
  const size_t n = std::min(text.size(), bytes - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// A frames request for a C caller: its facts and frames through the
// caller's struct and callback, its outcome as a code and a sentence.
int Frames(thumbnail_client* client, const char* path, const thumbnail::FramesRequest& request,
           thumbnail_video_facts* facts, thumbnail_frame_callback callback, char* reason, size_t reason_bytes,
           void* user) {
  try {
    thumbnail::Status status = NoClientOrPath();
    if (client && path && callback) {
      status = client->client.Frames(
          path, request,
          [&](const thumbnail::VideoFacts& told) {
            if (facts) {
              *facts = thumbnail_video_facts{};
              facts->frame_count = told.frame_count;
              facts->duration_ms = told.duration_ms;
              facts->width = told.width;
              facts->height = told.height;
              CopyText(told.video_codec, facts->video_codec, sizeof facts->video_codec);
              CopyText(told.audio_codec, facts->audio_codec, sizeof facts->audio_codec);
            }
            return true;
          },
          [&](const thumbnail::TimedFrame& taken) {
            thumbnail_frame frame{};
            if (taken.missing) {
              frame.status = THUMBNAIL_DAMAGED;
              frame.reason = "nothing here could be decoded";
            } else {
              frame.reason = "";
              ShowPicture(taken.frame, taken.origin, &frame);
            }
            return callback(&frame, static_cast<uint32_t>(taken.index), user) != 0;
          });
    }
    CopyText(status.reason, reason, reason_bytes);
    return static_cast<int>(status.failure);
  } catch (const std::bad_alloc&) {
    CopyText("out of memory", reason, reason_bytes);
    return THUMBNAIL_TOO_LARGE;
  }
}

thumbnail::FramesRequest::Mode ModeOf(int mode) {
  return mode == THUMBNAIL_FRAMES_KEY ? thumbnail::FramesRequest::Mode::kKeyFrame
                                      : thumbnail::FramesRequest::Mode::kExact;
}

}  // namespace

extern "C" {

thumbnail_client* thumbnail_client_new(const char* server_path) { return thumbnail_client_new_limited(server_path, 0); }

thumbnail_client* thumbnail_client_new_limited(const char* server_path, uint64_t max_read_bytes) {
  try {
    thumbnail::ClientOptions options;
    if (server_path) options.server_path = server_path;
    options.max_read_bytes = max_read_bytes;
    return new thumbnail_client{thumbnail::ThumbnailClient(std::move(options))};
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int thumbnail_client_read_tally(thumbnail_client* client, uint64_t* bytes, uint32_t* seeks) {
  thumbnail::ReadTally tally;
  const thumbnail::Status status = client->client.GetReadTally(&tally);
  *bytes = tally.bytes;
  *seeks = tally.seeks;
  return static_cast<int>(status.failure);
}

thumbnail_frame* thumbnail_client_frame(thumbnail_client* client, const char* path, int width, int height) {
  return Request(client, path, width, height, thumbnail::Position{});
}

thumbnail_frame* thumbnail_client_frame_at(thumbnail_client* client, const char* path, int width, int height,
                                           int where, uint32_t value) {
  // A share or a time; the server's own walk is thumbnail_client_frame.
  if ((where & 0xFF) == THUMBNAIL_AT_SERVER_CHOICE) where = (where & ~0xFF) | THUMBNAIL_AT_MILLISECONDS;
  return Request(client, path, width, height, PositionOf(where, value));
}

thumbnail_frame* thumbnail_client_frame_within(thumbnail_client* client, const char* path, int longer_edge,
                                               int where, uint32_t value) {
  const thumbnail::Position position = PositionOf(where, value);
  return Request(client, path, [&](thumbnail::ThumbnailClient& c, thumbnail::Frame* picture) {
    return c.ThumbnailWithin(path, longer_edge, picture, position);
  });
}

thumbnail_frame* thumbnail_client_frame_chosen(thumbnail_client* client, const char* path, int longer_edge,
                                               thumbnail_candidate* candidates, size_t capacity, size_t* count) {
  if (count) *count = 0;
  return Request(client, path, [&](thumbnail::ThumbnailClient& c, thumbnail::Frame* picture) {
    thumbnail::FrameChoice why;
    thumbnail::Status status = c.ChooseFrame(path, longer_edge, picture, &why);
    if (count) *count = why.candidates.size();
    for (size_t i = 0; candidates && i < std::min(capacity, why.candidates.size()); ++i) {
      const thumbnail::CandidateScore& s = why.candidates[i];
      candidates[i] = {s.milliseconds, s.score, s.measures.too_dark ? 1 : 0, s.measures.luma_entropy,
                       s.measures.sharpness, s.measures.colourfulness, s.judged ? 1 : 0,
                       s.change.mean_difference, s.change.brightness_change};
    }
    return status;
  });
}

int thumbnail_client_frames(thumbnail_client* client, const char* path, int longer_edge, int mode, int where,
                            const uint32_t* positions, size_t count, thumbnail_video_facts* facts,
                            thumbnail_frame_callback callback, void* user, char* reason, size_t reason_bytes) {
  thumbnail::FramesRequest request;
  request.mode = ModeOf(mode);
  request.longer_edge = longer_edge;
  request.kind = (where & 0xFF) == THUMBNAIL_AT_MILLIONTHS ? thumbnail::Position::Kind::kMillionths
                                                           : thumbnail::Position::Kind::kMilliseconds;
  if (positions) request.positions.assign(positions, positions + count);
  return Frames(client, path, request, facts, callback, reason, reason_bytes, user);
}

int thumbnail_client_frames_every(thumbnail_client* client, const char* path, int longer_edge, int mode,
                                  uint32_t interval_ms, thumbnail_video_facts* facts,
                                  thumbnail_frame_callback callback, void* user, char* reason, size_t reason_bytes) {
  thumbnail::FramesRequest request;
  request.mode = ModeOf(mode);
  request.longer_edge = longer_edge;
  request.interval_ms = interval_ms;
  if (interval_ms == 0) {
    CopyText("an interval of 0", reason, reason_bytes);
    return THUMBNAIL_BAD_REQUEST;
  }
  return Frames(client, path, request, facts, callback, reason, reason_bytes, user);
}

void thumbnail_client_frame_free(thumbnail_frame* frame) { delete static_cast<OwnedFrame*>(frame); }

void thumbnail_client_free(thumbnail_client* client) { delete client; }

}  // extern "C"
