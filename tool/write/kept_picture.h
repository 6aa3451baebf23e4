// Whether a picture already there is kept instead of being made again.
#pragma once

#include <string>

#include "client/image_scale.h"
#include "tool/write/output_plan.h"

namespace thumbnail {

struct KeptState {
  enum class Kind {
    kNo,           // make the picture
    kCurrent,      // the picture there is current, and of the size asked
    kKnownFailure  // a current failure record says the video cannot be done
  };
  Kind kind = Kind::kNo;
  PictureSize size;         // of a current picture
  std::string reason;       // of a known failure, as it was recorded
};

KeptState KeptPicture(const Job& job);

}  // namespace thumbnail
