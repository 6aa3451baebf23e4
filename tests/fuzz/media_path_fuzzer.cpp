// Mutated video files through the media graph and the grabber, in process:
// no crash, no access outside a buffer (the sanitizers), no hang (libFuzzer's
// -timeout), and a frame, when one comes out, that the bitmap stand-in holds
// whole. Every COM object and task-allocator block is gone afterwards.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "grabber/thumbnailer.h"
#include "platform/com/com_runtime.h"
#include "platform/gdi/bitmap.h"
#include "platform/media/graph/media_classes.h"

namespace {

std::string InputPath() {
  const char* dir = std::getenv("FUZZ_SCRATCH_DIR");
  return std::string(dir ? dir : "/tmp") + "/media-path-fuzzer-" + std::to_string(::getpid());
}

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
  return ::close(fd) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RegisterMediaClasses();
  Require(::CoInitialize(nullptr) == S_OK);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = InputPath();
  Require(WriteInput(path, data, size));
  {
    TDirectShowThumbnailer thumbnailer;
    if (thumbnailer.ThumbnailFile(path.c_str()) == 1 && thumbnailer.Bits) {
      const BITMAPINFOHEADER& frame = thumbnailer.BitmapInfo.bmiHeader;
      Require(frame.biBitCount == 24 && DibGeometryAcceptable(frame.biWidth, frame.biHeight, 24));
      const size_t bytes = DibStride(frame.biWidth, 24) * static_cast<size_t>(std::abs(frame.biHeight));
      Require(BitmapPixelBytes(thumbnailer.Bitmap) >= bytes);
      // Touch every byte, so that a frame smaller than its header says is
      // caught by AddressSanitizer here.
      uint8_t sum = 0;
      for (size_t i = 0; i < bytes; ++i) sum = static_cast<uint8_t>(sum + thumbnailer.Bits[i]);
      asm volatile("" : : "r"(sum));
    }
  }
  Require(TaskMemOutstanding() == 0);
  return 0;
}
