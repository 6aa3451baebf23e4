// What a graph can tell of the file it rendered beyond its pictures: the
// codecs of its streams, for a parent that shows them (a contact sheet's
// header). A graph without the interface (the system's own DirectShow)
// leaves them unknown.
#pragma once

#include "platform/dshow/dshow.h"

inline constexpr IID IID_IMediaDescription = {
    0x4e70a2d9, 0x93c6, 0x4b1e, {0xb8, 0x05, 0x7c, 0x2f, 0x61, 0xd3, 0x4a, 0x90}};

class IMediaDescription : public IUnknown {
 public:
  // The short names of the codecs of the file's first video and first audio
  // stream, each NUL-ended in room for `bytes` and cut to fit; empty for a
  // stream the file does not have.
  virtual HRESULT GetCodecNames(char* video, char* audio, DWORD bytes) = 0;

 protected:
  ~IMediaDescription() = default;
};
