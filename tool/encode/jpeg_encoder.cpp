#include <stdio.h>
// jpeglib.h needs stdio's types first.
#include <jpeglib.h>
#include <setjmp.h>
#include <stdlib.h>

#include <cstring>

#include "tool/encode/picture_formats.h"

namespace thumbnail {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;  // first, so the library's pointer is ours too
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// libjpeg reports an error by jumping back to the setjmp in EncodeJpeg,
// with the message kept instead of printed.
void KeepError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  manager->base.format_message(info, manager->message);
  longjmp(manager->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

uint32_t Big16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) << 8 | static_cast<unsigned char>(bytes[at + 1]);
}

}  // namespace

// The size is the first frame header's; the mark a comment segment before
// it that begins with the tool's name.
bool ReadJpegHead(const std::string& head, PictureSize* size, bool* marked) {
  if (head.compare(0, 2, "\xff\xd8") != 0) return false;
  *marked = false;
  for (size_t at = 2; at + 4 <= head.size() && static_cast<unsigned char>(head[at]) == 0xff;) {
    const unsigned char marker = static_cast<unsigned char>(head[at + 1]);
    const size_t length = Big16(head, at + 2);
    const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    if (frame && at + 9 <= head.size()) {
      *size = {static_cast<int>(Big16(head, at + 7)), static_cast<int>(Big16(head, at + 5))};
      return true;
    }
    if (marker == 0xfe) *marked = *marked || head.compare(at + 4, std::strlen(kMarkPrefix), kMarkPrefix) == 0;
    if (marker == 0xda || length < 2) break;
    at += 2 + length;
  }
  *size = {};
  return true;
}

bool EncodeJpeg(const Frame& frame, const EncodeSettings& settings, std::vector<uint8_t>* out, std::string* error) {
  jpeg_compress_struct info;
  ErrorManager manager;
  info.err = jpeg_std_error(&manager.base);
  manager.base.error_exit = KeepError;
  manager.base.output_message = IgnoreMessage;
  // Filled by the library with malloc; freed here on both ways out.
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(manager.jump)) {
    *error = manager.message;
    jpeg_destroy_compress(&info);
    free(buffer);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(frame.width);
  info.image_height = static_cast<JDIMENSION>(frame.height);
  info.input_components = 3;
  info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, settings.quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  // Its maker, so that a later run replaces only its own pictures.
  const char* software = SoftwareName();
  jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(software),
                    static_cast<unsigned>(std::strlen(software)));
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&frame.bgr[static_cast<size_t>(info.next_scanline) * frame.width * 3]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  out->assign(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  free(buffer);
  return true;
}

}  // namespace thumbnail
