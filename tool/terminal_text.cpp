#include "tool/terminal_text.h"

namespace thumbnail {
namespace {

bool ContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

std::string Escaped(unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  return std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == '\\') {
      shown += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      shown += Escaped(c);
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F
      shown += Escaped(c) + Escaped(next);
      ++i;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

std::string KeepEnd(const std::string& text, size_t columns) {
  size_t characters = 0;
  for (unsigned char c : text) characters += !ContinuationByte(c);
  if (characters <= columns) return text;
  static const std::string kEllipsis = "...";
  if (columns <= kEllipsis.size()) return kEllipsis.substr(0, columns);
  size_t keep = columns - kEllipsis.size();
  size_t start = text.size();
  while (keep > 0 && start > 0) {
    --start;
    if (!ContinuationByte(static_cast<unsigned char>(text[start]))) --keep;
  }
  return kEllipsis + text.substr(start);
}

}  // namespace thumbnail
