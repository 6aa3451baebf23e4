// The subtypes that DirectShow names for uncompressed pictures. A filter
// that carries a compressed stream never labels it with one of them, so no
// user of the graph mistakes undecoded bytes for a picture.
#pragma once

#include "platform/dshow/guids.h"

inline bool IsUncompressedVideoSubtype(const GUID& subtype) {
  const GUID* const kUncompressed[] = {
      &MEDIASUBTYPE_RGB1, &MEDIASUBTYPE_RGB4, &MEDIASUBTYPE_RGB8, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565,
      &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_YUYV, &MEDIASUBTYPE_IYUV, &MEDIASUBTYPE_Y411,
      &MEDIASUBTYPE_Y41P, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YVYU, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_Y211,
      &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_CLJR, &MEDIASUBTYPE_IF09, &MEDIASUBTYPE_CPLA, &MEDIASUBTYPE_NV12};
  for (const GUID* g : kUncompressed)
    if (*g == subtype) return true;
  return false;
}
