#include <strings.h>

#include "client/image_encoders.h"

namespace thumbnail {
bool FormatFromName(const std::string& name, ImageFormat* format) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  const char* ext = name.c_str() + dot + 1;
  if (strcasecmp(ext, "png") == 0)
    *format = ImageFormat::kPng;
  else if (strcasecmp(ext, "jpg") == 0 || strcasecmp(ext, "jpeg") == 0)
    *format = ImageFormat::kJpeg;
  else if (strcasecmp(ext, "bmp") == 0)
    *format = ImageFormat::kBmp;
  else
    return false;
  return true;
}

const char* FormatExtension(ImageFormat format) {
  switch (format) {
    case ImageFormat::kPng:
      return ".png";
    case ImageFormat::kJpeg:
      return ".jpg";
    case ImageFormat::kBmp:
      return ".bmp";
  }
  return "";
}

const char* FormatName(ImageFormat format) { return FormatExtension(format) + 1; }

bool EncodeImage(ImageFormat format, const Frame& frame, int jpeg_quality, const std::vector<PngText>& text,
                 std::vector<uint8_t>* out, std::string* error) {
  switch (format) {
    case ImageFormat::kPng:
      return EncodePng(frame, text, out, error);
    case ImageFormat::kJpeg:
      return EncodeJpeg(frame, jpeg_quality, out, error);
    case ImageFormat::kBmp:
      EncodeBmp(frame, out);
      return true;
  }
  return false;
}

}  // namespace thumbnail
