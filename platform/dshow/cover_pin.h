// The name our source filter gives the output pin of a file's cover picture
// (an attached picture stream), so that a caller preferring the cover finds
// its branch. The system's own source filters name no pin so.
#pragma once

#include "platform/win/types.h"

inline constexpr WCHAR kCoverPinName[] = L"Cover";
