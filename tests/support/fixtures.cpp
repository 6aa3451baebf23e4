#include "tests/support/fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

namespace {

std::string FixtureDir() {
  std::string dir = FIXTURE_DIR;
  RunCommand("mkdir -p " + ShellQuote(dir));
  return dir;
}

std::string HashedPath(const std::string& name, const std::string& recipe) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(recipe));
  return FixtureDir() + "/" + std::string(hash, 8) + "-" + name;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Each writer makes its own temporary name in the same folder and renames it
// into place, so tests running side by side never see half a file.
std::string TempBeside(const std::string& path, const std::string& name) {
  std::string dir = path.substr(0, path.rfind('/'));
  return dir + "/tmp" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
  int status = ::pclose(p);
  if (output) *output = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Fixture(const std::string& name, const std::string& ffmpegArguments) {
  std::string path = HashedPath(name, ffmpegArguments);
  if (Exists(path)) return path;
  std::string temp = TempBeside(path, name);
  int status = RunCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + ffmpegArguments + " " +
                          ShellQuote(temp) + " </dev/null");
  EXPECT_EQ(status, 0) << "ffmpeg could not make fixture " << name;
  if (status != 0) return path;
  std::rename(temp.c_str(), path.c_str());
  return path;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes.at(at + i));
  return value;
}

std::string MovieWithZeroedMedia(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string movie((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 0; at + 8 <= movie.size();) {
    const uint32_t size = BigEndian32(movie, at);
    if (size < 8 || size > movie.size() - at) return "";
    if (movie.compare(at + 4, 4, "mdat") == 0) movie.replace(at + 8, size - 8, size - 8, '\0');
    at += size;
  }
  return movie;
}

std::string BytesFixture(const std::string& name, const std::string& bytes) {
  std::string path = HashedPath(name, bytes);
  if (Exists(path)) return path;
  std::string temp = TempBeside(path, name);
  {
    std::ofstream out(temp, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::rename(temp.c_str(), path.c_str());
  return path;
}

Picture ReferenceFrame(const std::string& path, double seconds, int longerEdge) {
  Picture pic;
  char at[32];
  std::snprintf(at, sizeof at, "%.6f", seconds);
  // Output seeking decodes from the start and keeps the first frame at or
  // after `seconds`: the frame shown there when `seconds` lies on a frame
  // boundary, which is how the fixtures are made. setsar=1 with the tool's
  // own autorotation gives the display picture.
  // AVI carries decoding times only, which come out a frame late behind
  // B-frames: frames are counted instead.
  bool avi = path.size() > 4 && path.compare(path.size() - 4, 4, ".avi") == 0;
  std::string ppm;
  const std::string edge = std::to_string(longerEdge);
  const std::string within = longerEdge > 0 ? ",scale=w='if(gt(iw,ih),min(iw," + edge + "),-1)':h='if(gt(iw,ih),-1,min(ih," +
                                                  edge + "))':flags=bicubic"
                                            : "";
  std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -i " + ShellQuote(path) + " -vf \"" +
                    (avi ? "setpts=N/FRAME_RATE/TB," : "") + "scale=iw*sar:ih,setsar=1" + within + "\" -ss " + at +
                    " -frames:v 1 -pix_fmt rgb24 -f image2pipe -vcodec ppm - 2>/dev/null";
  if (RunCommand(cmd, &ppm) != 0 || ppm.size() < 16) return pic;
  std::istringstream in(ppm);
  std::string magic;
  int maxval = 0;
  in >> magic >> pic.width >> pic.height >> maxval;
  in.get();
  size_t bytes = static_cast<size_t>(pic.width) * pic.height * 3;
  std::string rgb(bytes, '\0');
  in.read(rgb.data(), static_cast<std::streamsize>(bytes));
  pic.bgr.resize(bytes);
  for (size_t i = 0; i + 2 < bytes; i += 3) {
    pic.bgr[i] = static_cast<uint8_t>(rgb[i + 2]);
    pic.bgr[i + 1] = static_cast<uint8_t>(rgb[i + 1]);
    pic.bgr[i + 2] = static_cast<uint8_t>(rgb[i]);
  }
  return pic;
}

double Psnr(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.bgr.size() != b.bgr.size() || a.bgr.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.bgr.size(); ++i) {
    double d = static_cast<double>(a.bgr[i]) - b.bgr[i];
    sum += d * d;
  }
  if (sum == 0) return 99;
  double mse = sum / a.bgr.size();
  return 10 * std::log10(255.0 * 255.0 / mse);
}
