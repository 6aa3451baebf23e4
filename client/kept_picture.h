// Whether a picture already there is kept instead of being made again.
#pragma once

#include "client/output_plan.h"

namespace thumbnail {

enum class Kept {
  kNo,           // make the picture
  kCurrent,      // the picture there is current
  kKnownFailure  // a current failure record says the video cannot be done
};

Kept KeptPicture(const Job& job);

}  // namespace thumbnail
