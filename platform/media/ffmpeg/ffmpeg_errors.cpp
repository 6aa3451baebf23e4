#include "platform/media/ffmpeg/ffmpeg_errors.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>

namespace media {

HRESULT HresultFromAvError(int error) {
  if (error >= 0) return S_OK;
  if (error == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
  if (error == AVERROR(ENOENT)) return VFW_E_NOT_FOUND;
  if (error == AVERROR(EINVAL)) return E_INVALIDARG;
  if (error == AVERROR_INVALIDDATA || error == AVERROR_EOF || error == AVERROR_DEMUXER_NOT_FOUND)
    return VFW_E_INVALID_FILE_FORMAT;
  if (error == AVERROR_DECODER_NOT_FOUND) return E_MEDIA_NO_DECODER;
  return E_FAIL;
}

}  // namespace media
