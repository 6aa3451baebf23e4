#include <stdio.h>
// jpeglib.h needs stdio's types first.
#include <jpeglib.h>
#include <setjmp.h>
#include <stdlib.h>

#include <cstring>

#include "client/image_encoders.h"
#include "client/own_pictures.h"

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

}  // namespace

bool EncodeJpeg(const Frame& frame, int quality, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
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
  jpeg_set_quality(&info, quality, TRUE);
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
