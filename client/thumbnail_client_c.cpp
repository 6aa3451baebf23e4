// The C face of ThumbnailClient. No exception crosses into a C caller: the
// only one the C++ client can raise is running out of memory, which comes
// back as NULL.
#include "client/thumbnail_client_c.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

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

thumbnail_frame* Request(thumbnail_client* client, const char* path, int width, int height,
                         const thumbnail::Position& where) {
  try {
    if (!client || !path)
      return Outcome(thumbnail::Status::Error(thumbnail::Failure::kBadRequest, "no client or no path")).release();
    thumbnail::Frame picture;
    thumbnail::Status status = width == 0 && height == 0
                                   ? client->client.Thumbnail(path, &picture, where)
                                   : client->client.ThumbnailAtSize(path, width, height, &picture, where);
    bool ok = status.ok();
    auto frame = Outcome(std::move(status));
    if (ok) {
      frame->pixels = std::move(picture.bgr);
      frame->width = picture.width;
      frame->height = picture.height;
      frame->stride = picture.width * 3;
      frame->bgr = frame->pixels.data();
      // Where the frame came from only informs: a server that cannot say
      // leaves it unknown, and the frame stands.
      thumbnail::FrameOrigin origin;
      if (client->client.GetFrameOrigin(&origin).ok()) {
        frame->origin = static_cast<int>(origin.source);
        frame->milliseconds = origin.milliseconds;
      }
    }
    return frame.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

extern "C" {

thumbnail_client* thumbnail_client_new(const char* server_path) {
  try {
    thumbnail::ClientOptions options;
    if (server_path) options.server_path = server_path;
    return new thumbnail_client{thumbnail::ThumbnailClient(std::move(options))};
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

thumbnail_frame* thumbnail_client_frame(thumbnail_client* client, const char* path, int width, int height) {
  return Request(client, path, width, height, thumbnail::Position{});
}

thumbnail_frame* thumbnail_client_frame_at(thumbnail_client* client, const char* path, int width, int height,
                                           int where, uint32_t value) {
  thumbnail::Position position;
  position.kind = (where & 0xFF) == THUMBNAIL_AT_MILLIONTHS ? thumbnail::Position::Kind::kMillionths
                                                             : thumbnail::Position::Kind::kMilliseconds;
  position.value = value;
  position.prefer_cover = (where & THUMBNAIL_PREFER_COVER) != 0;
  return Request(client, path, width, height, position);
}

void thumbnail_client_frame_free(thumbnail_frame* frame) { delete static_cast<OwnedFrame*>(frame); }

void thumbnail_client_free(thumbnail_client* client) { delete client; }

}  // extern "C"
