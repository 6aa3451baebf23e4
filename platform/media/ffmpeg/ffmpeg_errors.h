// The one place where FFmpeg's error codes become HRESULTs.
#pragma once

#include "platform/dshow/media_failure.h"
#include "platform/win/types.h"

namespace media {

// Maps an FFmpeg error code (negative) to the closest HRESULT.
HRESULT HresultFromAvError(int error);

}  // namespace media
