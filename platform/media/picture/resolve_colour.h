// The one step that decides what a picture's values mean. A stream and its
// frames describe their colours in pieces (matrix, range, transfer,
// primaries, chroma siting, light levels), any of which may be missing,
// reserved, beyond its enumeration or at odds with the rest; ResolveColour
// turns all they say into one complete description, and every conversion
// reads that description alone, so a colour rule holds for every path.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace media {

// What the values of a picture mean: how YUV becomes RGB (matrix, range,
// where the chroma samples sit), how RGB becomes light (transfer, primaries)
// and how bright the brightest part of the content is. As ResolveColour
// makes it, every field holds a value the conversions implement.
struct PictureColour {
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  AVChromaLocation siting = AVCHROMA_LOC_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  // In cd/m², the light the content's brightest value stands for, which
  // the tone mapping brings down to SDR white: SDR white itself for SDR.
  double peakLuminance = 0;

  bool operator==(const PictureColour&) const = default;
};

// What a stream and one of its frames say, as they say it. The enumerations
// are plain integers: a decoder copies them from the bitstream unchecked.
struct ColourSignals {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int matrix = AVCOL_SPC_UNSPECIFIED;
  int range = AVCOL_RANGE_UNSPECIFIED;
  int siting = AVCHROMA_LOC_UNSPECIFIED;
  int transfer = AVCOL_TRC_UNSPECIFIED;
  int primaries = AVCOL_PRI_UNSPECIFIED;
  double framePeak = 0;   // the frame's declared peak in cd/m², 0 when it says none
  double streamPeak = 0;  // the container's, 0 when it says none
  // Dolby Vision whose base layer is IPT-PQ, which no frame describes.
  bool iptBaseLayer = false;
};

// The complete description of a picture given what it says.
PictureColour ResolveColour(const ColourSignals& said);

// What a frame says of itself: its format, colour fields and light level.
ColourSignals SignalsOf(const AVFrame& frame);

// The content light level (AVContentLightMetadata), else the mastering
// display's peak (AVMasteringDisplayMetadata), in cd/m², from side data of
// either kind (null or short when absent); 0 when neither says.
double DeclaredPeakLuminance(const uint8_t* light, size_t lightSize, const uint8_t* display, size_t displaySize);

}  // namespace media
