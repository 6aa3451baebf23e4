// The picture files the tool writes. Each format is one entry of a table
// (picture_formats.cpp): the name -f takes, its extensions, its encoder and
// the reader of its header, each encoder and reader in a file of its own.
// Every picture an encoder writes carries the tool's mark, so that a later
// run can tell its own pictures, which it may make again, from a user's
// files, which it must not replace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/image_scale.h"
#include "client/thumbnail_client.h"

namespace thumbnail {

// A PNG text chunk.
struct PngText {
  std::string key;
  std::string value;
};

struct EncodeSettings {
  int quality = 90;           // of a lossy format, 1 to 100
  std::vector<PngText> text;  // text chunks, where the format has them
};

struct PictureFormat {
  const char* name;                     // as -f takes it
  std::vector<const char*> extensions;  // with their dots; pictures get the first
  const char* mime_type;
  int max_edge;                         // the widest and tallest picture it holds
  // Replaces *out with the file's bytes; false with a reason in *error.
  bool (*encode)(const Frame& frame, const EncodeSettings& settings, std::vector<uint8_t>* out, std::string* error);
  // From a file's first bytes (up to kPictureHeadBytes, all of a small
  // file): whether they are of this format, and then its size and whether
  // the tool wrote it.
  bool (*read_head)(const std::string& head, PictureSize* size, bool* marked);
};

using ImageFormat = const PictureFormat*;

// How much of a file its format's reader sees.
constexpr size_t kPictureHeadBytes = size_t{1} << 20;

// "thumbnail VERSION": the mark, as each format carries it (a PNG's
// Software text, a JPEG's comment, a WebP's XMP creator tool).
const char* SoftwareName();
// What the mark begins with, whatever the version.
constexpr char kMarkPrefix[] = "thumbnail ";

// The format -f calls `name` (png, jpg, ...), null for none.
ImageFormat FormatNamed(const std::string& name);
ImageFormat DefaultFormat();
// The format a file name asks for by its extension, in any case; false
// when it names none.
bool FormatFromName(const std::string& name, ImageFormat* format);
// The extension, with its dot, that pictures of the format get.
const char* FormatExtension(ImageFormat format);
// The name -f knows the format by.
const char* FormatName(ImageFormat format);
// "png, jpg, bmp or webp", for messages.
std::string FormatNames();

// Replaces *out with the picture's bytes in `format`; false with a reason in
// *error, a picture wider or taller than the format holds among them.
bool EncodeImage(ImageFormat format, const Frame& frame, const EncodeSettings& settings, std::vector<uint8_t>* out,
                 std::string* error);

// The format and size of the picture file at `path`, and whether the tool
// wrote it; false when no format reads it.
bool ReadPictureHead(const std::string& path, ImageFormat* format, PictureSize* size, bool* marked);

}  // namespace thumbnail
