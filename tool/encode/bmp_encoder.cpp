#include <cstdlib>
#include <cstring>

#include "tool/encode/picture_formats.h"

namespace thumbnail {
namespace {

void Put16(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
  Put16(out, value & 0xffff);
  Put16(out, value >> 16);
}

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch
// The file header's reserved bytes are the writing application's own: the
// tool's mark.
constexpr char kMark[4] = {'t', 'h', 'm', 'b'};

uint32_t Little32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = at + 4; i-- > at;) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

bool ReadBmpHead(const std::string& head, PictureSize* size, bool* marked) {
  if (head.size() < 26 || head.compare(0, 2, "BM") != 0) return false;
  // A negative height is a top-down bitmap of that many rows.
  *size = {static_cast<int>(Little32(head, 18)), std::abs(static_cast<int>(Little32(head, 22)))};
  *marked = head.compare(6, 4, kMark, 4) == 0;
  return true;
}

bool EncodeBmp(const Frame& frame, const EncodeSettings&, std::vector<uint8_t>* out, std::string*) {
  // A 24-bit bitmap keeps its rows bottom-up, each padded to 4 bytes.
  uint32_t row = static_cast<uint32_t>(frame.width) * 3;
  uint32_t stride = (row + 3) & ~3u;
  uint32_t pixels = stride * static_cast<uint32_t>(frame.height);
  out->clear();
  out->reserve(kFileHeaderBytes + kInfoHeaderBytes + pixels);
  out->push_back('B');
  out->push_back('M');
  Put32(out, kFileHeaderBytes + kInfoHeaderBytes + pixels);
  out->insert(out->end(), kMark, kMark + sizeof kMark);
  Put32(out, kFileHeaderBytes + kInfoHeaderBytes);
  Put32(out, kInfoHeaderBytes);
  Put32(out, static_cast<uint32_t>(frame.width));
  Put32(out, static_cast<uint32_t>(frame.height));
  Put16(out, 1);   // planes
  Put16(out, 24);  // bits per pixel
  Put32(out, 0);   // no compression
  Put32(out, pixels);
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, 0);
  Put32(out, 0);
  size_t start = out->size();
  out->resize(start + pixels);
  for (int y = 0; y < frame.height; ++y)
    std::memcpy(out->data() + start + static_cast<size_t>(frame.height - 1 - y) * stride,
                &frame.bgr[static_cast<size_t>(y) * row], row);
  return true;
}

}  // namespace thumbnail
