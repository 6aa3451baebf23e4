/* The client library for C and for languages that bind C (Python's ctypes
 * or cffi, Rust, Go): a client runs one thumbnail-server child and asks it
 * for frames of video files, as thumbnail_client.h does for C++.
 *
 *   thumbnail_client* client = thumbnail_client_new(NULL);
 *   thumbnail_frame* frame = thumbnail_client_frame(client, "film.mkv", 0, 0);
 *   if (frame && frame->status == THUMBNAIL_OK) use frame->bgr;
 *   else report frame->reason;
 *   thumbnail_client_frame_free(frame);
 *   thumbnail_client_free(client);
 *
 * One client is used by one thread at a time; use several clients to run
 * several servers side by side. */
#ifndef THUMBNAIL_CLIENT_C_H
#define THUMBNAIL_CLIENT_C_H

#include <stddef.h>
#include <stdint.h>

#include "thumbnail_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Why a request failed. A later version may add codes; a caller that meets
 * one it does not know still has the frame's reason to show. */
enum {
  THUMBNAIL_OK = 0,
  THUMBNAIL_NO_SUCH_FILE = 1,        /* nothing at that path */
  THUMBNAIL_NOT_A_FILE = 2,          /* a directory, a device, a pipe */
  THUMBNAIL_UNREADABLE = 3,          /* there, but this process may not read it */
  THUMBNAIL_BAD_REQUEST = 4,         /* a path holding a NUL, a size out of range */
  THUMBNAIL_NOT_MEDIA = 5,          /* no format the server knows takes the file */
  THUMBNAIL_NO_VIDEO_STREAM = 6,     /* a media file without video, audio only say */
  THUMBNAIL_CODEC_UNAVAILABLE = 7,   /* no decoder here for the video's codec (named in reason) */
  THUMBNAIL_ENCRYPTED = 8,           /* the video is encrypted */
  THUMBNAIL_DAMAGED = 9,             /* nothing in the video could be decoded */
  THUMBNAIL_TOO_LARGE = 10,          /* the picture is larger than the server takes */
  THUMBNAIL_SERVER_CRASHED = 11,     /* the server ended in the middle of the request */
  THUMBNAIL_TIMED_OUT = 12,          /* the server gave up on the file, or never replied */
  THUMBNAIL_SERVER_UNAVAILABLE = 13, /* the server could not be started */
  THUMBNAIL_PROTOCOL_ERROR = 14,     /* the server's reply did not fit the protocol */
  THUMBNAIL_INCOMPLETE = 15,         /* the file ends before its index: it may still be being written */
  THUMBNAIL_TOO_COSTLY = 16          /* reading it would cost more than the client's read budget */
};

/* Where thumbnail_client_frame_at looks: the kind of its value, with
 * THUMBNAIL_PREFER_COVER or-ed in when wanted. */
enum {
  THUMBNAIL_AT_MILLISECONDS = 0, /* milliseconds from the start */
  THUMBNAIL_AT_MILLIONTHS = 1,   /* millionths of the duration, 1000000 the end */
  THUMBNAIL_AT_SERVER_CHOICE = 2, /* thumbnail_client_frame_within: the server's own positions */
  THUMBNAIL_PREFER_COVER = 0x100 /* the file's cover picture, when it has one */
};

/* Where a frame came from. */
enum {
  THUMBNAIL_ORIGIN_NONE = 0,        /* no frame, or the server could not tell */
  THUMBNAIL_ORIGIN_VIDEO = 1,       /* a frame of the video, shown at milliseconds */
  THUMBNAIL_ORIGIN_COVER = 2,       /* the file's cover picture */
  THUMBNAIL_ORIGIN_UNKNOWN_TIME = 3 /* a frame of a video the server could not seek in */
};

typedef struct thumbnail_client thumbnail_client;

/* The outcome of one request: a picture, or a status that says why not. */
typedef struct thumbnail_frame {
  int status;          /* THUMBNAIL_OK or a failure code */
  const char* reason;  /* "" on success, else a sentence for the user */
  int width;           /* 0 on failure */
  int height;
  int stride;          /* bytes from one row to the next: width * 3 */
  const uint8_t* bgr;  /* height rows, top row first, each pixel blue, green,
                          red; NULL on failure */
  /* Fields are only ever added here, at the end: frames are made by the
   * library, so a caller built against an older header reads what it knows. */
  int origin;            /* THUMBNAIL_ORIGIN_... */
  uint32_t milliseconds; /* the frame's time when origin is THUMBNAIL_ORIGIN_VIDEO */
} thumbnail_frame;

/* A client of the server program at server_path; NULL for the one
 * THUMBNAIL_SERVER names, else the one installed with this library. The
 * server starts on first use. NULL only when memory ran out. */
THUMBNAIL_CLIENT_API thumbnail_client* thumbnail_client_new(const char* server_path);

/* As thumbnail_client_new, with a read budget: the server stops reading a
 * file past max_read_bytes (0: no limit) and the request fails with
 * THUMBNAIL_TOO_COSTLY, as soon as the budget is spent rather than after the
 * whole file. Worth it where files sit on slow or metered storage. */
THUMBNAIL_CLIENT_API thumbnail_client* thumbnail_client_new_limited(const char* server_path, uint64_t max_read_bytes);

/* What the client's last request read of its file: bytes and seeks (moves
 * to anywhere but the next byte). THUMBNAIL_OK, or why the server could not
 * be asked; zeros after a request that ended its server. */
THUMBNAIL_CLIENT_API int thumbnail_client_read_tally(thumbnail_client* client, uint64_t* bytes, uint32_t* seeks);

/* The frame of the video at path: at its own size when width and height are
 * both 0, else exactly width x height (cut or filled with black; a file the
 * server cannot read then comes back black, not as a failure). Free it with
 * thumbnail_client_frame_free. NULL only when memory ran out. */
THUMBNAIL_CLIENT_API thumbnail_frame* thumbnail_client_frame(thumbnail_client* client, const char* path, int width,
                                                             int height);

/* As thumbnail_client_frame, looking from a place in the video instead of
 * the server's own eight up to 20 s: `where` is THUMBNAIL_AT_MILLISECONDS or
 * THUMBNAIL_AT_MILLIONTHS, perhaps with THUMBNAIL_PREFER_COVER, and `value`
 * the time or share. The server takes the first frame that is not too dark
 * from there on (the place, then 0.5, 1, 2, 4, 8, 15 and 30 s after it). */
THUMBNAIL_CLIENT_API thumbnail_frame* thumbnail_client_frame_at(thumbnail_client* client, const char* path, int width,
                                                                int height, int where, uint32_t value);

THUMBNAIL_CLIENT_API void thumbnail_client_frame_free(thumbnail_frame* frame);

/* As thumbnail_client_frame_at with width and height 0, the frame scaled so
 * that its longer edge is at most longer_edge pixels (never enlarged; 0
 * keeps its own size). The server scales it before converting its colours,
 * so a small picture of an 8K or HDR video costs little more than decoding
 * it. `where` and `value` as for thumbnail_client_frame_at, or `where`
 * THUMBNAIL_AT_SERVER_CHOICE (perhaps with THUMBNAIL_PREFER_COVER) for the
 * server's own eight positions up to 20 s, as thumbnail_client_frame. */
THUMBNAIL_CLIENT_API thumbnail_frame* thumbnail_client_frame_within(thumbnail_client* client, const char* path,
                                                                    int longer_edge, int where, uint32_t value);

/* One candidate of thumbnail_client_frame_chosen, with its scores. */
typedef struct thumbnail_candidate {
  uint32_t milliseconds; /* its time */
  double score;          /* higher better; below -1 for a frame too dark */
  int too_dark;          /* a mean byte below 7.8 of 255, the server's test */
  double luma_entropy;   /* bits of its luma histogram: 0 one tone, 8 at most */
  double sharpness;      /* variance of the Laplacian over that of luma */
  double colourfulness;  /* Hasler and Suesstrunk's: 0 grey, about 100 vivid */
  int judged;            /* whether change and fade were measured: only the best are */
  double change;         /* mean luma difference in the half second after it, 0 to 255 */
  double fade;           /* change of mean luma in that time: a fade */
} thumbnail_candidate;

/* The frame that shows best what the video is, within longer_edge (0 for
 * its own size): candidates spread over the video, scored inside their
 * black bars on darkness, spread of tones, sharpness and colour, less a
 * penalty for a frame in a fade or a dissolve; the frame's milliseconds is
 * the winner's time. Up to `capacity` candidates are copied to `candidates`
 * (may be NULL) in time order, and *count (may be NULL) is how many there
 * were. Free the frame with thumbnail_client_frame_free; NULL only when
 * memory ran out. */
THUMBNAIL_CLIENT_API thumbnail_frame* thumbnail_client_frame_chosen(thumbnail_client* client, const char* path,
                                                                    int longer_edge, thumbnail_candidate* candidates,
                                                                    size_t capacity, size_t* count);

/* Many frames of one video from one pass over the file. */
enum {
  THUMBNAIL_FRAMES_EXACT = 0, /* the frame shown at each position */
  THUMBNAIL_FRAMES_KEY = 1    /* the key frame at or before it, with its own time: only key frames are
                                 decoded, many times faster */
};
/* What the server tells of the video as it opens it. */
typedef struct thumbnail_video_facts {
  uint32_t frame_count; /* how many calls of the callback will come */
  int64_t duration_ms;  /* -1 when the file does not say */
  int width;            /* of its picture as shown: turned, square pixels */
  int height;
  char video_codec[64]; /* short names ("h264"); empty for none */
  char audio_codec[64];
} thumbnail_video_facts;
/* Called for each frame, in time order: `frame` is the picture (status
 * THUMBNAIL_OK, origin and milliseconds as for a single frame) or, where
 * nothing could be decoded, status THUMBNAIL_DAMAGED without a picture;
 * `index` is its position's place in the list (or the n-th interval). The
 * frame is valid during the call only. Return nonzero to go on, 0 to end
 * the request early. */
typedef int (*thumbnail_frame_callback)(const thumbnail_frame* frame, uint32_t index, void* user);
/* The frames at `count` positions (in any order, repeats allowed; at most
 * 100000), each `where` (THUMBNAIL_AT_MILLISECONDS or _MILLIONTHS), scaled
 * within longer_edge (0 for their own size), `mode` THUMBNAIL_FRAMES_EXACT or
 * _KEY. `facts` (may be NULL) is filled before the first call. Returns
 * THUMBNAIL_OK or why the request failed, with the sentence in `reason`
 * (room for reason_bytes, may be NULL); a failure in the middle comes after
 * the frames before it. */
THUMBNAIL_CLIENT_API int thumbnail_client_frames(thumbnail_client* client, const char* path, int longer_edge,
                                                 int mode, int where, const uint32_t* positions, size_t count,
                                                 thumbnail_video_facts* facts, thumbnail_frame_callback callback,
                                                 void* user, char* reason, size_t reason_bytes);
/* As thumbnail_client_frames, a frame every interval_ms from the start to
 * the end of the video: a seek-preview track's tiles. */
THUMBNAIL_CLIENT_API int thumbnail_client_frames_every(thumbnail_client* client, const char* path, int longer_edge,
                                                       int mode, uint32_t interval_ms, thumbnail_video_facts* facts,
                                                       thumbnail_frame_callback callback, void* user, char* reason,
                                                       size_t reason_bytes);

/* Ends the client's server, if one runs, and waits for it. */
THUMBNAIL_CLIENT_API void thumbnail_client_free(thumbnail_client* client);

#ifdef __cplusplus
}
#endif

#endif /* THUMBNAIL_CLIENT_C_H */
