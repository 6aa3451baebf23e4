// Why the media platform gave no picture of a file. The graph keeps the
// reason where it arose (the file's open, a stream's render, a decoder) and
// answers for it through IMediaFailure, so that the grabber learns it
// without knowing which library decodes. A graph without the interface (the
// system's own DirectShow) leaves the grabber its HRESULTs.
#pragma once

#include "platform/dshow/dshow.h"

// Status codes of this program's media platform: customer codes (bit 29) of
// the interface facility, so no system code is ever taken for one.
// What Windows answers for a path naming no file
// (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)); the graph retries such a path
// in its other reading. A file no format takes is VFW_E_INVALID_FILE_FORMAT.
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT E_MEDIA_NO_DECODER = static_cast<HRESULT>(0xA0040001u);  // no decoder for the codec here
constexpr HRESULT E_MEDIA_ENCRYPTED = static_cast<HRESULT>(0xA0040002u);   // the samples are encrypted
constexpr HRESULT E_MEDIA_TOO_LARGE = static_cast<HRESULT>(0xA0040003u);   // the picture exceeds the bitmap limit
constexpr HRESULT E_MEDIA_NO_VIDEO = static_cast<HRESULT>(0xA0040004u);    // the file has no video stream
constexpr HRESULT E_MEDIA_NO_PICTURE = static_cast<HRESULT>(0xA0040005u);  // nothing in the file decoded
constexpr HRESULT E_MEDIA_INCOMPLETE = static_cast<HRESULT>(0xA0040006u);  // the file ends before its index

// The longest codec name IMediaFailure reports, its NUL included.
constexpr DWORD kMaxCodecNameBytes = 64;

inline constexpr IID IID_IMediaFailure = {0x2d9c41e7, 0x5b0a, 0x4f63, {0x8e, 0x21, 0x6a, 0x37, 0xd4, 0x0b, 0x91, 0xc8}};

class IMediaFailure : public IUnknown {
 public:
  // The reason the last RenderFile, or the pictures of the video stream
  // since, failed: S_OK when nothing failed. The codec of the video stream
  // that failed goes to `codec` (room for `bytes`, NUL-ended, cut to fit;
  // empty when unknown).
  virtual HRESULT GetFailure(HRESULT* reason, char* codec, DWORD bytes) = 0;

 protected:
  ~IMediaFailure() = default;
};
