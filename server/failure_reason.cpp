#include "server/failure_reason.h"

#include "platform/dshow/media_failure.h"

namespace {

// The system's codes for a path it cannot use, by their Windows values:
// HRESULT_FROM_WIN32 of ERROR_PATH_NOT_FOUND and ERROR_ACCESS_DENIED.
constexpr HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003u);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
// What DirectShow answers for a file whose type no source filter knows.
constexpr HRESULT kUnknownFileType = static_cast<HRESULT>(0x80040240u);

}  // namespace

wire::Reason ReasonOf(HRESULT failure) {
  if (SUCCEEDED(failure)) return wire::kNoFailure;
  switch (failure) {
    case kFileNotFound:
    case kPathNotFound:
    case kAccessDenied:
    case VFW_E_NOT_FOUND:
      return wire::kUnreadable;
    case VFW_E_INVALID_FILE_FORMAT:
    case kUnknownFileType:
      return wire::kNotMedia;
    case VFW_E_UNSUPPORTED_STREAM:
    case E_MEDIA_NO_VIDEO:
      return wire::kNoVideoStream;
    case VFW_E_CANNOT_RENDER:
    case E_MEDIA_NO_DECODER:
      return wire::kCodecUnavailable;
    case E_MEDIA_ENCRYPTED:
      return wire::kEncrypted;
    case E_MEDIA_INCOMPLETE:
      return wire::kIncomplete;
    case E_MEDIA_TOO_LARGE:
    case E_OUTOFMEMORY:
      return wire::kTooLarge;
    default:
      return wire::kDamaged;
  }
}
