#include "tests/client/picture_files.h"

#include <dirent.h>
#include <jpeglib.h>
#include <png.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tests/support/fixtures.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  // Descriptor numbers sort as numbers, other names as text.
  auto number = [](const std::string& s) { return !s.empty() && std::all_of(s.begin(), s.end(), ::isdigit); };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    if (number(a) && number(b) && a.size() != b.size()) return a.size() < b.size();
    return a < b;
  });
  return names;
}

}  // namespace

bool ReadPng(const std::string& path, thumbnail::Frame* frame, std::map<std::string, std::string>* text) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGR;
  frame->width = static_cast<int>(image.width);
  frame->height = static_cast<int>(image.height);
  frame->bgr.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, frame->bgr.data(), 0, nullptr)) return false;
  if (!text) return true;
  // The simplified reader skips text chunks; the full one reads them.
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file.get());
  png_read_info(png, info);
  png_textp chunks = nullptr;
  int count = png_get_text(png, info, &chunks, nullptr);
  for (int i = 0; i < count; ++i) (*text)[chunks[i].key] = chunks[i].text;
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool ReadJpeg(const std::string& path, thumbnail::Frame* frame) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file.get());
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  frame->width = static_cast<int>(info.output_width);
  frame->height = static_cast<int>(info.output_height);
  frame->bgr.resize(static_cast<size_t>(frame->width) * frame->height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &frame->bgr[static_cast<size_t>(info.output_scanline) * frame->width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

std::string ListFolder(const std::string& folder) {
  std::string list;
  for (const std::string& name : Names(folder)) list += (list.empty() ? "" : " ") + name;
  return list;
}

std::string ScratchFolder(const std::string& name) {
  std::string folder = std::string(FIXTURE_DIR) + "/scratch-" + name + "-" + std::to_string(::getpid());
  RunCommand("rm -rf " + ShellQuote(folder) + " && mkdir -p " + ShellQuote(folder));
  return folder;
}

std::string OpenDescriptors(pid_t pid) { return ListFolder("/proc/" + std::to_string(pid) + "/fd"); }

bool ProcessExists(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

int RunTool(const std::string& arguments, std::string* output, const std::string& environment) {
  std::string command =
      environment + " " + ShellQuote(THUMBNAIL_TOOL_PATH) + " " + arguments + " 2>&1" +
      (arguments.find('<') == std::string::npos ? " </dev/null" : "");
  std::string printed;
  int status = RunCommand(command, &printed);
  if (output) *output = printed;
  return status;
}

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

std::string WideVideo() {
  return Fixture("tool-wide.mp4", "-f lavfi -i testsrc=size=320x180:rate=50:duration=2 -pix_fmt yuv420p");
}

std::string TallVideo() {
  return Fixture("tool-tall.mkv", "-f lavfi -i testsrc=size=180x320:rate=25:duration=2 -pix_fmt yuv420p");
}
