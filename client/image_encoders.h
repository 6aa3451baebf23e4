// The picture files the tool writes: PNG (libpng), JPEG (libjpeg-turbo) and
// BMP, each encoded into memory from a top-down BGR frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/thumbnail_client.h"

namespace thumbnail {

enum class ImageFormat { kPng, kJpeg, kBmp };

// The format a file name asks for by its extension (.png, .jpg, .jpeg,
// .bmp, in any case); false when it names none of them.
bool FormatFromName(const std::string& name, ImageFormat* format);

// The extension, with its dot, that files of the format get.
const char* FormatExtension(ImageFormat format);

// The name -f knows the format by: png, jpg, bmp.
const char* FormatName(ImageFormat format);

// A PNG text chunk.
struct PngText {
  std::string key;
  std::string value;
};

// Each encoder replaces *out with the file's bytes; false with a reason in
// *error when the library refuses.
bool EncodePng(const Frame& frame, const std::vector<PngText>& text, std::vector<uint8_t>* out, std::string* error);
bool EncodeJpeg(const Frame& frame, int quality, std::vector<uint8_t>* out, std::string* error);
void EncodeBmp(const Frame& frame, std::vector<uint8_t>* out);

// The frame in `format`, at `jpeg_quality` (1 to 100) in a JPEG, with
// `text` in a PNG.
bool EncodeImage(ImageFormat format, const Frame& frame, int jpeg_quality, const std::vector<PngText>& text,
                 std::vector<uint8_t>* out, std::string* error);

}  // namespace thumbnail
