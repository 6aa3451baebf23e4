// The reason a parent is told for a failed thumbnail request, from the
// status code the grabber kept for it.
#pragma once

#include "platform/win/types.h"
#include "protocol/wire.h"

// Status codes of our media platform and the system's DirectShow alike: a
// file the system cannot open or read, one no format takes, one without
// video, a codec no decoder takes, encrypted samples, a picture too large for
// the bitmap or for memory; whatever else failed counts as damage.
wire::Reason ReasonOf(HRESULT failure);
