// The one place where FFmpeg's error codes, and the file system's answer to
// a path that opens nothing, become HRESULTs.
#pragma once

#include "platform/win/types.h"

namespace media {

// What Windows answers for a path naming no file
// (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)); the graph retries such a path
// in its other reading.
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);

// Maps an FFmpeg error code (negative) to the closest HRESULT.
HRESULT HresultFromAvError(int error);

}  // namespace media
