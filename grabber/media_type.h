// The grabber's name for the owning media type value; copying and freeing
// follow the platform's one ownership rule (CopyMediaType, FreeMediaType).
#pragma once

#include "platform/dshow/media_type.h"

using MediaTypeHolder = MediaType;
