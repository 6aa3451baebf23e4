#include "platform/media/display_rotation.h"

#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

namespace media {

int QuarterTurns(const AVStream* stream) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!matrix || size < 9 * sizeof(int32_t)) return 0;
  double theta = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(theta)) return 0;
  theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
  long turns = std::lround(theta / 90);
  if (std::fabs(theta - 90.0 * turns) > 1.0) return 0;  // not a right angle: shown unrotated
  return static_cast<int>(turns % 4);
}

}  // namespace media
