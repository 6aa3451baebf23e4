#include "tool/encode/picture_formats.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace thumbnail {

// Each format's encoder and header reader, in its own file.
bool EncodePng(const Frame&, const EncodeSettings&, std::vector<uint8_t>*, std::string*);
bool ReadPngHead(const std::string&, PictureSize*, bool*);
bool EncodeJpeg(const Frame&, const EncodeSettings&, std::vector<uint8_t>*, std::string*);
bool ReadJpegHead(const std::string&, PictureSize*, bool*);
bool EncodeBmp(const Frame&, const EncodeSettings&, std::vector<uint8_t>*, std::string*);
bool ReadBmpHead(const std::string&, PictureSize*, bool*);
bool EncodeWebp(const Frame&, const EncodeSettings&, std::vector<uint8_t>*, std::string*);
bool ReadWebpHead(const std::string&, PictureSize*, bool*);

namespace {

constexpr int kNoLimit = std::numeric_limits<int>::max();

// The first is the default. JPEG's edge is libjpeg's limit, a little under
// the 65535 its headers could say.
const std::vector<PictureFormat> kFormats = {
    {"png", {".png"}, "image/png", kNoLimit, EncodePng, ReadPngHead},
    {"jpg", {".jpg", ".jpeg"}, "image/jpeg", 65500, EncodeJpeg, ReadJpegHead},
    {"bmp", {".bmp"}, "image/bmp", kNoLimit, EncodeBmp, ReadBmpHead},
    {"webp", {".webp"}, "image/webp", 16383, EncodeWebp, ReadWebpHead},
};

}  // namespace

const char* SoftwareName() { return "thumbnail " THUMBNAIL_VERSION; }

ImageFormat FormatNamed(const std::string& name) {
  for (const PictureFormat& format : kFormats)
    if (strcasecmp(name.c_str(), format.name) == 0) return &format;
  return nullptr;
}

ImageFormat DefaultFormat() { return &kFormats.front(); }

bool FormatFromName(const std::string& name, ImageFormat* format) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  for (const PictureFormat& known : kFormats)
    for (const char* extension : known.extensions)
      if (strcasecmp(name.c_str() + dot, extension) == 0) {
        *format = &known;
        return true;
      }
  return false;
}

const char* FormatExtension(ImageFormat format) { return format->extensions.front(); }

const char* FormatName(ImageFormat format) { return format->name; }

std::string FormatNames() {
  std::string names;
  for (size_t i = 0; i < kFormats.size(); ++i)
    names += (i == 0 ? "" : i + 1 == kFormats.size() ? " or " : ", ") + std::string(kFormats[i].name);
  return names;
}

bool EncodeImage(ImageFormat format, const Frame& frame, const EncodeSettings& settings, std::vector<uint8_t>* out,
                 std::string* error) {
  out->clear();
  if (frame.width > format->max_edge || frame.height > format->max_edge) {
    *error = std::string("a ") + format->name + " picture holds at most " + std::to_string(format->max_edge) +
             " pixels a side";
    return false;
  }
  if (format->encode(frame, settings, out, error)) return true;
  out->clear();
  return false;
}

bool ReadPictureHead(const std::string& path, ImageFormat* format, PictureSize* size, bool* marked) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  std::string head(kPictureHeadBytes, '\0');
  struct stat st;
  ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(fd, head.data(), head.size(), 0) : -1;
  ::close(fd);
  head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  for (const PictureFormat& known : kFormats)
    if (known.read_head(head, size, marked)) {
      *format = &known;
      return true;
    }
  return false;
}

}  // namespace thumbnail
