#include <png.h>

#include "tool/encode/picture_formats.h"

namespace thumbnail {
namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}

void NoFlush(png_structp) {}

// libpng reports an error by jumping back to the setjmp in EncodePng; the
// message is kept for the caller instead of being printed.
void KeepError(png_structp png, png_const_charp message) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// The part that libpng may jump out of: it holds nothing that needs a
// destructor, and everything it points to outlives it.
bool EncodeRows(const Frame& frame, png_bytep* rows, png_text* chunks, int chunk_count, std::vector<uint8_t>* out,
                std::string* error) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, KeepError, IgnoreWarning);
  if (!png) {
    *error = "out of memory";
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (error->empty()) *error = "out of memory";
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width), static_cast<png_uint_32>(frame.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (chunk_count > 0) png_set_text(png, info, chunks, chunk_count);
  // zlib's level 4 makes thumbnails within a percent of the default level's
  // size in a third of its time; on a folder of videos the default spent
  // a tenth of the whole run compressing.
  png_set_compression_level(png, 4);
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_BGR, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

uint32_t Big32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = at; i < at + 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

// The mark is the Software text chunk, which comes before the pixels.
bool ReadPngHead(const std::string& head, PictureSize* size, bool* marked) {
  if (head.size() < 24 || head.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
  *size = {static_cast<int>(Big32(head, 16)), static_cast<int>(Big32(head, 20))};
  *marked = head.find(std::string("tEXtSoftware") + '\0' + kMarkPrefix) != std::string::npos;
  return true;
}

bool EncodePng(const Frame& frame, const EncodeSettings& settings, std::vector<uint8_t>* out, std::string* error) {
  const std::vector<PngText>& text = settings.text;
  std::vector<png_bytep> rows(static_cast<size_t>(frame.height));
  for (int y = 0; y < frame.height; ++y)
    rows[static_cast<size_t>(y)] = const_cast<png_bytep>(&frame.bgr[static_cast<size_t>(y) * frame.width * 3]);
  // Every picture names its maker: a later run replaces only its own.
  std::vector<PngText> all = text;
  bool named = false;
  for (const PngText& chunk : text) named = named || chunk.key == "Software";
  if (!named) all.push_back({"Software", SoftwareName()});
  std::vector<png_text> chunks(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    chunks[i] = png_text{};
    chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
    chunks[i].key = const_cast<char*>(all[i].key.c_str());
    chunks[i].text = const_cast<char*>(all[i].value.c_str());
    chunks[i].text_length = all[i].value.size();
  }
  return EncodeRows(frame, rows.data(), chunks.data(), static_cast<int>(chunks.size()), out, error);
}

}  // namespace thumbnail
