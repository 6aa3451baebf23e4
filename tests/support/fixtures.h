// Fixture videos for tests, made by the ffmpeg tool on first use and cached
// in the build folder; reference frames decoded by the same tool; picture
// comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The path of a video made by `ffmpeg <arguments> <path>`. The file name
// carries a hash of the arguments, so a changed recipe makes a new file.
// A failure of the tool fails the calling test.
std::string Fixture(const std::string& name, const std::string& ffmpegArguments);

// A small file with the given bytes (junk, truncations), cached like Fixture.
std::string BytesFixture(const std::string& name, const std::string& bytes);

// The 32-bit big-endian value at `at`, as movie box sizes are written.
uint32_t BigEndian32(const std::string& bytes, size_t at);

// The bytes of the movie at `path` (one the ffmpeg tool wrote: top-level
// boxes with 32-bit sizes) with every media box zeroed and the layout kept,
// so that nothing in it decodes; empty when the boxes do not add up.
std::string MovieWithZeroedMedia(const std::string& path);

// Runs a shell command, returning its exit status and what it printed on
// stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;  // top-down rows of width * 3 bytes, blue first
};

// The frame the ffmpeg tool shows at `seconds` (the frame whose interval
// covers it), as top-down BGR24 at the stream's display size, or scaled by
// the tool (bicubic) within `longerEdge` when that is smaller.
Picture ReferenceFrame(const std::string& path, double seconds, int longerEdge = 0);

// Peak signal-to-noise ratio of two pictures of equal size, in dB (99 for
// identical pictures, 0 when the sizes differ).
double Psnr(const Picture& a, const Picture& b);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& s);
