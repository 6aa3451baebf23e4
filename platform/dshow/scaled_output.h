// A converter that can make its pictures smaller as it converts them: asked
// before its output connects, it delivers pictures whose longer edge is at
// most the one asked, scaled with their aspect kept. Scaling before the
// colours are converted is what makes a small frame of a large or HDR video
// cheap; a converter without the interface (the system's own) delivers the
// picture's own size and the grabber scales the bitmap instead.
#pragma once

#include "platform/dshow/dshow.h"

inline constexpr IID IID_IScaledOutput = {0x8b1f3c52, 0x2e7a, 0x4d90, {0xa4, 0x6d, 0x31, 0x5c, 0x0f, 0x82, 0xe9, 0x17}};

class IScaledOutput : public IUnknown {
 public:
  // 0 keeps the picture's own size; a picture already within the edge is
  // never enlarged. Fails once the output is connected.
  virtual HRESULT SetLongerEdge(ULONG edge) = 0;

 protected:
  ~IScaledOutput() = default;
};
