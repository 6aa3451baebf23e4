// The way back from a decoder to the source of its stream. The source's
// output pins answer QueryInterface for it; a decoder takes it when its
// input connects and holds it without a reference until it disconnects (the
// source disconnects its pins before it goes).
#pragma once

#include "platform/dshow/dshow.h"

namespace media {

inline constexpr IID IID_IEarlierSeek = {0x6f3b2a71, 0x4c1d, 0x4e8a, {0x9b, 0x52, 0x1d, 0x7e, 0x40, 0x93, 0xc6, 0x15}};

class IEarlierSeek : public IUnknown {
 public:
  // The first picture after the last seek lies past the segment's start, or
  // the stream ended before any came: the source seeks further back and
  // streams the segment again. Taken as a request: the source acts on it
  // once the call that delivered to the decoder has returned, so the
  // decoder's flush never arrives in the middle of its own work.
  virtual void SeekEarlier() = 0;

 protected:
  ~IEarlierSeek() = default;
};

}  // namespace media
