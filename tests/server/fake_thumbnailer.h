// A TDirectShowThumbnailer for the server's unit tests, linked in place of
// the grabber: ThumbnailFile returns a scripted result and, when the script
// says so, a frame whose bytes follow FramePixel at the scripted stride.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "grabber/thumbnailer.h"

struct ThumbnailerScript {
  int result = 1;
  LONG width = 0;
  LONG height = 0;
  WORD bit_count = 24;
  size_t stride = 0;  // bytes per row in memory; 0 means width * 3 rounded up to 4
  bool with_bits = true;
  HRESULT failure = S_OK;  // the reason a failed grab leaves
  std::string codec;       // and the codec it names
  LONGLONG position = -1;  // where a frame came from, 100 ns units
  bool from_cover = false;
  std::function<void()> on_grab;  // runs when ThumbnailFile is called
  // Frames requests: OpenFile's result is `result`; each CaptureAt gives a
  // frame of the size above, timed as this says (the position itself when
  // unset), or what `capture` answers.
  LONGLONG duration = -1;
  std::function<TDirectShowThumbnailer::Capture(LONGLONG position, bool keyFrame)> capture;
  std::function<LONGLONG(LONGLONG position, bool keyFrame)> frame_time;
};

// Reset by ResetThumbnailerFake.
extern ThumbnailerScript NextGrab;
extern int ThumbnailersAlive;
extern int GrabCalls;
extern int GraphReleases;  // ReleaseGraph calls
extern std::string LastGrabPath;
extern std::optional<WalkStart> LastGrabStart;
struct CaptureCall {
  LONGLONG position;
  bool keyFrame;
  bool operator==(const CaptureCall&) const = default;
};
extern std::vector<CaptureCall> Captures;
extern ULONG LastLongerEdge;
void ResetThumbnailerFake();

// The byte at offset in memory row m (counted from the start of Bits).
inline BYTE FramePixel(size_t memoryRow, size_t offset) {
  return static_cast<BYTE>(memoryRow * 31 + offset * 7 + 1);
}
