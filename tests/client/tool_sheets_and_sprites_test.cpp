// Contact sheets and sprite tracks as a user and a web page use them: the
// real server on a real video, the cues read by headless chromium from a
// <track> as a player reads them, the tiles held against the frames the
// ffmpeg tool shows at their times, the DASH set read by xmllint.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace {

using thumbnail::Frame;

// A minute of moving picture with a key frame every 2 s, and sound.
std::string Minute() {
  return Fixture("sprites-minute.mp4",
                 "-f lavfi -i testsrc2=size=320x180:rate=25:duration=60 -f lavfi -i sine=frequency=440:duration=60 "
                 "-c:v libx264 -pix_fmt yuv420p -g 50 -keyint_min 50 -sc_threshold 0 -c:a aac");
}

// The same minute in a transport stream, which has no index: a seek to a
// key frame searches for it, and may find the one it found before.
std::string MinuteWithoutIndex() {
  return Fixture("sprites-minute.ts",
                 "-f lavfi -i testsrc2=size=320x180:rate=25:duration=60 "
                 "-c:v libx264 -pix_fmt yuv420p -g 50 -keyint_min 50 -sc_threshold 0");
}

// PSNR above which a tile is the frame it is held against: sprites are
// JPEG, so a tile never matches exactly (25 dB and more here), while the
// frame half a second away is far below (13 dB at most).
constexpr double kSameFrame = 20;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

nlohmann::json OnlyJsonLine(const std::string& output) {
  std::istringstream in(output);
  std::string line;
  std::getline(in, line);
  return nlohmann::json::parse(line, nullptr, false);
}

// `area` of `picture`, scaled to width x height when it is not that size.
Picture Cut(const Frame& picture, int x, int y, int width, int height) {
  Picture cut{width, height, {}};
  for (int row = y; row < y + height; ++row) {
    const auto start = picture.bgr.begin() + (static_cast<ptrdiff_t>(row) * picture.width + x) * 3;
    cut.bgr.insert(cut.bgr.end(), start, start + width * 3);
  }
  return cut;
}

// The frames the ffmpeg tool shows at some times of a 320 x 180 fixture
// made at 25 frames a second (frame n from n / 25 s on), read in one pass
// as it decodes them, where a reference frame for each tile would decode
// the video from its start again each time.
class FramesOfTheVideo {
 public:
  FramesOfTheVideo(const std::string& video, const std::vector<double>& seconds) {
    std::set<size_t> wanted;
    for (double at : seconds) wanted.insert(Number(at));
    FILE* decoded = ::popen(("ffmpeg -nostdin -hide_banner -loglevel error -i " + ShellQuote(video) +
                             " -f rawvideo -pix_fmt bgr24 - 2>/dev/null")
                                .c_str(),
                            "r");
    EXPECT_NE(decoded, nullptr);
    if (!decoded) return;
    std::vector<uint8_t> frame(320 * 180 * 3);
    for (size_t n = 0; std::fread(frame.data(), 1, frame.size(), decoded) == frame.size(); ++n)
      if (wanted.count(n)) frames_[n] = {320, 180, frame};
    ::pclose(decoded);
  }

  Picture ShownAt(double seconds) const {
    const auto it = frames_.find(Number(seconds));
    return it == frames_.end() ? Picture{} : it->second;
  }

 private:
  static size_t Number(double seconds) { return static_cast<size_t>(seconds * 25 + 1e-6); }

  std::map<size_t, Picture> frames_;
};

// The DOM of `page` once its scripts have run in headless chromium; empty,
// with the reason in *why, when chromium cannot run here.
std::string BrowserDom(const std::string& page, const std::string& scratch, std::string* why) {
  std::string version;
  if (RunCommand("chromium --version 2>/dev/null", &version) != 0) {
    *why = "no chromium to run (scripts/setup installs it)";
    return "";
  }
  std::string dom;
  const int status = RunCommand(
      "timeout 90 chromium --headless --disable-gpu " + std::string(::geteuid() == 0 ? "--no-sandbox " : "") +
          "--user-data-dir=" + ShellQuote(scratch + "/profile") +
          " --allow-file-access-from-files --virtual-time-budget=20000 --dump-dom " + ShellQuote("file://" + page) +
          " 2>/dev/null",
      &dom);
  if (status != 0 || dom.find("<body") == std::string::npos) {
    *why = "chromium " + version.substr(0, version.find('\n')) + " could not load a page here (status " +
           std::to_string(status) + ")";
    return "";
  }
  return dom;
}

// What a page's <track> holds once the browser has read the cues: each
// cue's times and text, and the video's duration as the browser sees it.
nlohmann::json CuesInABrowser(const std::string& folder, const std::string& video, const std::string& cues,
                              std::string* why) {
  const std::string page = folder + "/page.html";
  std::ofstream(page) << R"(<!DOCTYPE html><html><body><pre id="cues">not loaded</pre>
<video id="video" src=")" << video << R"(" preload="metadata"><track id="track" kind="metadata" src=")" << cues
                      << R"(" default></video>
<script>
const track = document.getElementById('track'), video = document.getElementById('video');
const loaded = new Promise((done, failed) => {
  track.addEventListener('load', done);
  track.addEventListener('error', () => failed('the track did not load'));
});
const known = new Promise(done => {
  if (video.readyState >= 1) done();
  video.addEventListener('loadedmetadata', done);
  video.addEventListener('error', done);
});
Promise.all([loaded, known]).then(() => {
  document.getElementById('cues').textContent = JSON.stringify({
    duration: video.duration,
    cues: Array.from(track.track.cues, cue => ({start: cue.startTime, end: cue.endTime, text: cue.text}))});
}, reason => document.getElementById('cues').textContent = reason);
</script></body></html>)";
  const std::string dom = BrowserDom(page, folder, why);
  if (dom.empty()) return nullptr;
  const size_t start = dom.find("<pre id=\"cues\">"), end = dom.find("</pre>", start);
  if (start == std::string::npos || end == std::string::npos) return nullptr;
  const std::string text = dom.substr(start + 15, end - start - 15);
  nlohmann::json read = nlohmann::json::parse(text, nullptr, false);
  EXPECT_FALSE(read.is_discarded()) << text;
  return read;
}

struct Rect {
  int x, y, width, height;
};

bool Overlap(const Rect& a, const Rect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// The sprites of a minute with a key frame every 2 s, asked every second,
// as MP4 and as MPEG-TS: where the server gives a key frame again for the
// next second (it does in a transport stream, which has no index) it is
// one tile, not two. The browser reads a cue for each tile, each lasting
// until the next begins, the last until the end; each points inside its
// image, apart from the others, at the frame shown at its start. Caught:
// repeated key frames as zero-length cues, tiles placed one off, cues that
// end short of the video's end.
TEST(ThumbnailSprites, ABrowserReadsACueForEachTileThatShowsItsFrame) {
  const std::string folder = ScratchFolder("sprites-browser");
  for (const std::string name : {"minute.mp4", "minute.ts"}) {
    SCOPED_TRACE(name);
    const std::string video = folder + "/" + name, sprites = video + ".sprites";
    ASSERT_EQ(RunCommand("cp " + ShellQuote(name == "minute.ts" ? MinuteWithoutIndex() : Minute()) + " " +
                         ShellQuote(video)),
              0);
    std::string output;
    ASSERT_EQ(RunTool("-q --json --sprites=1 --grid 4x3 -o " + ShellQuote(folder + "/") + " " + ShellQuote(video),
                      &output),
              0)
        << output;
    const nlohmann::json line = OnlyJsonLine(output);
    EXPECT_EQ(line["status"], "written");
    EXPECT_EQ(line["picture"], sprites);
    EXPECT_EQ(line["size"]["width"], 320);
    const size_t tiles = line["frames"];
    EXPECT_GE(tiles, 29u) << "a tile for every key frame at least";
    EXPECT_EQ(line["files"].size(), (tiles + 11) / 12 + 4) << "images of 12 tiles, and the cues and playlists";

    std::string why;
    const nlohmann::json read = CuesInABrowser(folder, name, name + ".sprites/thumbnails.vtt", &why);
    if (read.is_null()) GTEST_SKIP() << why;
    ASSERT_TRUE(read.contains("cues")) << read.dump();
    const nlohmann::json& cues = read["cues"];
    ASSERT_EQ(cues.size(), tiles) << read.dump();
    // The browser knows the duration of the MP4; both last a minute.
    if (read["duration"].is_number()) {
      EXPECT_NEAR(read["duration"].get<double>(), 60, 0.001);
    }
    std::vector<double> times;
    for (const nlohmann::json& cue : cues) times.insert(times.end(), {cue["start"], cue["start"].get<double>() + 0.5});
    const FramesOfTheVideo frames(video, times);
    std::map<std::string, Frame> images;
    std::map<std::string, std::vector<Rect>> placed;
    const std::regex place(R"((sprites-\d{3}\.jpg)#xywh=(\d+),(\d+),(\d+),(\d+))");
    for (size_t i = 0; i < cues.size(); ++i) {
      SCOPED_TRACE("cue " + std::to_string(i));
      const double start = cues[i]["start"], end = cues[i]["end"];
      EXPECT_DOUBLE_EQ(start, line["times"][i].get<double>());
      EXPECT_GT(end, start);
      EXPECT_DOUBLE_EQ(end, i + 1 < cues.size() ? cues[i + 1]["start"].get<double>() : 60.0);
      std::smatch match;
      const std::string text = cues[i]["text"];
      ASSERT_TRUE(std::regex_match(text, match, place)) << text;
      const std::string image = match[1];
      const Rect tile{std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4]), std::stoi(match[5])};
      if (!images.count(image)) {
        ASSERT_TRUE(ReadJpeg(sprites + "/" + image, &images[image])) << image;
      }
      const Frame& sheet = images[image];
      EXPECT_EQ(tile.width, 320);
      EXPECT_EQ(tile.height, 180);
      ASSERT_LE(tile.x + tile.width, sheet.width);
      ASSERT_LE(tile.y + tile.height, sheet.height);
      for (const Rect& other : placed[image]) EXPECT_FALSE(Overlap(tile, other)) << text;
      placed[image].push_back(tile);
      const Picture shown = Cut(sheet, tile.x, tile.y, tile.width, tile.height);
      const double own = Psnr(shown, frames.ShownAt(start));
      EXPECT_GT(own, kSameFrame) << text;
      // Half a second later the picture has moved on: the tile is not that frame.
      EXPECT_LT(Psnr(shown, frames.ShownAt(start + 0.5)), own - 5) << text;
    }
  }
}

// The HLS playlist has the tags of an image media playlist, its images'
// durations add up to the video's, and the master line names it; the DASH
// adaptation set is well-formed XML with the tile grid a player reads.
TEST(ThumbnailSprites, PlaylistsCoverTheWholeVideoAndTheDashSetIsWellFormed) {
  const std::string folder = ScratchFolder("sprites-playlists");
  std::string output;
  ASSERT_EQ(RunTool("-q --sprites --grid 2x2 -s 160 -o " + ShellQuote(folder + "/m.sprites") + " " +
                        ShellQuote(Minute()),
                    &output),
            0)
      << output;
  const std::string sprites = folder + "/m.sprites";
  // A tile every 10 s: two images of 2 x 2.
  EXPECT_EQ(ListFolder(sprites),
            "dash-adaptation-set.xml master-playlist-line.txt sprites-001.jpg sprites-002.jpg thumbnails.m3u8 "
            "thumbnails.vtt");
  const std::string playlist = ReadText(sprites + "/thumbnails.m3u8");
  EXPECT_EQ(playlist.rfind("#EXTM3U\n", 0), 0u);
  for (const char* tag : {"\n#EXT-X-VERSION:7\n", "\n#EXT-X-TARGETDURATION:", "\n#EXT-X-MEDIA-SEQUENCE:0\n",
                          "\n#EXT-X-PLAYLIST-TYPE:VOD\n", "\n#EXT-X-IMAGES-ONLY\n"})
    EXPECT_NE(playlist.find(tag), std::string::npos) << tag;
  EXPECT_EQ(playlist.size() - playlist.rfind("#EXT-X-ENDLIST\n"), 15u);
  const std::regex image(R"(#EXTINF:([0-9.]+),\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x(\d),DURATION=([0-9.]+)\n)"
                         R"((sprites-\d{3}\.jpg)\n)");
  double total = 0;
  int images = 0;
  for (std::sregex_iterator it(playlist.begin(), playlist.end(), image), end; it != end; ++it, ++images) {
    const double seconds = std::stod((*it)[1]);
    total += seconds;
    EXPECT_LE(seconds, std::stod(playlist.substr(playlist.find("TARGETDURATION:") + 15)));
  }
  EXPECT_EQ(images, 2);
  EXPECT_NEAR(total, 60.0, 0.001);
  EXPECT_EQ(ReadText(sprites + "/master-playlist-line.txt").rfind("#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=", 0), 0u);
  EXPECT_NE(ReadText(sprites + "/master-playlist-line.txt").find(",RESOLUTION=160x90,CODECS=\"jpeg\",URI=\"thumbnails.m3u8\"\n"),
            std::string::npos);

  const std::string dash = ShellQuote(sprites + "/dash-adaptation-set.xml");
  std::string said;
  ASSERT_EQ(RunCommand("xmllint --noout " + dash + " 2>&1", &said), 0) << said;
  const std::pair<const char*, const char*> kReads[] = {
      {"string(/AdaptationSet/@contentType)", "image"},
      {"string(//EssentialProperty[@schemeIdUri='http://dashif.org/thumbnail_tile']/@value)", "2x2"},
      {"string(//Representation/@width)", "320"},
      {"count(//S)", "2"},
      {"sum(//S/@d) >= 60000", "true"},
  };
  for (const auto& [path, value] : kReads) {
    ASSERT_EQ(RunCommand("xmllint --xpath " + ShellQuote(path) + " " + dash, &said), 0) << path;
    EXPECT_EQ(said, value + std::string("\n")) << path;
  }
}

// A sheet is its grid of tiles, each the frame at its time (the key frame
// before each of 5 % to 95 % of the video, or with --exact the very frame
// there), under a header with text. The layout is read back from the
// sheet's size: tiles and gaps fill its width, rows of tiles its bottom.
TEST(ThumbnailSheet, TilesShowTheirFramesUnderAHeaderWithText) {
  const std::string folder = ScratchFolder("sheet");
  struct Case {
    const char* options;
    std::vector<double> times;
  };
  const Case kCases[] = {
      {"", {2, 12, 24, 34, 46, 56}},
      {"--exact", {3, 13.8, 24.6, 35.4, 46.2, 57}},
  };
  const FramesOfTheVideo frames(Minute(), {2, 12, 24, 34, 46, 56, 3, 13.8, 24.6, 35.4, 46.2, 57});
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.options);
    std::string output;
    const std::string sheet_path = folder + "/sheet" + std::to_string(std::strlen(c.options)) + ".png";
    ASSERT_EQ(RunTool(std::string("-q --json --sheet 3x2 ") + c.options + " -o " + ShellQuote(sheet_path) +
                          " " + ShellQuote(Minute()),
                      &output),
              0)
        << output;
    const nlohmann::json line = OnlyJsonLine(output);
    EXPECT_EQ(line["frames"], 6);
    EXPECT_EQ(line["files"], nlohmann::json::array({sheet_path}));
    ASSERT_EQ(line["times"].size(), 6u);
    Frame sheet;
    ASSERT_TRUE(ReadPng(sheet_path, &sheet));
    EXPECT_EQ(line["size"]["width"], sheet.width);
    const int gap = (sheet.width - 3 * 320) / 4;
    ASSERT_EQ(sheet.width, 3 * 320 + 4 * gap);
    const int top = sheet.height - 2 * (180 + gap);
    ASSERT_GT(top, 2 * gap) << "room for the header";
    for (size_t i = 0; i < 6; ++i) {
      const double time = line["times"][i];
      EXPECT_NEAR(time, c.times[i], 0.02) << i;
      // The tile's upper left part: its time is drawn in the lower right.
      const int x = gap + static_cast<int>(i % 3) * (320 + gap), y = top + static_cast<int>(i / 3) * (180 + gap);
      const Picture reference = frames.ShownAt(time);
      EXPECT_GT(Psnr(Cut(sheet, x, y, 192, 108), Cut({320, 180, reference.bgr}, 0, 0, 192, 108)), kSameFrame) << i;
    }
    std::set<uint8_t> shades;
    for (int y = gap; y < top - gap; ++y)
      for (int x = gap; x < sheet.width - gap; ++x) shades.insert(sheet.bgr[(static_cast<size_t>(y) * sheet.width + x) * 3]);
    EXPECT_GT(shades.size(), 4u) << "text in the header";
  }
}

// A sprite folder of the tool's own is made again; a folder the tool did
// not make is kept unless --force, and one that holds an input even then.
TEST(ThumbnailSprites, OnlyTheToolsOwnFolderIsReplacedUnasked) {
  const std::string folder = ScratchFolder("sprites-own");
  const std::string video = folder + "/clip.mp4", sprites = folder + "/clip.mp4.sprites";
  ASSERT_EQ(RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(video)), 0);
  const std::string run = "-q --sprites=0.5 -o " + ShellQuote(folder) + "/ " + ShellQuote(video);
  std::string errors;
  ASSERT_EQ(RunTool(run, &errors), 0) << errors;
  const std::string made = ListFolder(sprites);
  ASSERT_EQ(RunTool(run, &errors), 0) << "its own folder is made again: " << errors;
  EXPECT_EQ(ListFolder(sprites), made);
  EXPECT_EQ(ListFolder(folder), "clip.mp4 clip.mp4.sprites");

  std::ofstream(sprites + "/notes.txt") << "mine";
  EXPECT_EQ(RunTool(run, &errors), 1);
  EXPECT_NE(errors.find("did not make (--force replaces it)"), std::string::npos) << errors;
  EXPECT_EQ(ReadText(sprites + "/notes.txt"), "mine");
  ASSERT_EQ(RunTool("--force " + run, &errors), 0) << errors;
  EXPECT_EQ(ListFolder(sprites), made);

  ASSERT_EQ(RunCommand("mv " + ShellQuote(video) + " " + ShellQuote(sprites + "/clip.mp4")), 0);
  EXPECT_EQ(RunTool("--force -q --sprites -o " + ShellQuote(sprites) + " " + ShellQuote(sprites + "/clip.mp4"),
                    &errors),
            1);
  EXPECT_NE(errors.find("holds an input"), std::string::npos) << errors;
  EXPECT_NE(ListFolder(sprites).find("clip.mp4"), std::string::npos);
}

// SIGINT in the middle of a sprite track leaves neither a half folder nor
// its temporary.
TEST(ThumbnailSprites, AnInterruptedRunLeavesNoHalfFolder) {
  const std::string folder = ScratchFolder("sprites-interrupted");
  const std::string video = Minute();
  pid_t tool = ::fork();
  ASSERT_GE(tool, 0);
  if (tool == 0) {
    const std::string out = folder + "/";
    ::execl(THUMBNAIL_TOOL_PATH, "thumbnail", "-q", "--exact", "--sprites=0.04", "--grid", "2x2", "-o", out.c_str(),
            video.c_str(), nullptr);
    ::_exit(127);
  }
  // Stopped once the first image is in the temporary folder.
  bool writing = false;
  for (int i = 0; i < 2000 && !writing; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string listing = ListFolder(folder);
    writing = listing.rfind(".", 0) == 0 && !ListFolder(folder + "/" + listing.substr(0, listing.find(' '))).empty();
  }
  ASSERT_TRUE(writing) << ListFolder(folder);
  ::kill(tool, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(tool, &status, 0), tool);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(ListFolder(folder), "");
}

// A batch of sprites over many servers and a list on standard input: a
// line for each video, files and frames for the ones made, and one that
// fails does not stop the others.
TEST(ThumbnailSprites, BatchesGoOnPastAFailureWithALineForEachVideo) {
  const std::string folder = ScratchFolder("sprites-batch");
  for (const char* name : {"a.mp4", "b.mp4"})
    ASSERT_EQ(RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(folder + "/" + name)), 0);
  std::ofstream(folder + "/junk.mp4") << "no video";
  std::string output;
  EXPECT_EQ(RunCommand("cd " + ShellQuote(folder) + " && printf '%s\\n' a.mp4 junk.mp4 b.mp4 | " +
                           ShellQuote(THUMBNAIL_TOOL_PATH) +
                           " -q --json -j 2 --exact --sprites=0.5 --files-from - -o out/ --shard 0/1 2>/dev/null",
                       &output),
            1);
  std::map<std::string, nlohmann::json> by_path;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json parsed = nlohmann::json::parse(line);
    by_path[parsed["path"]] = parsed;
  }
  ASSERT_EQ(by_path.size(), 3u) << output;
  for (const char* good : {"a.mp4", "b.mp4"}) {
    const nlohmann::json& line = by_path[good];
    EXPECT_EQ(line["status"], "written") << good;
    EXPECT_GE(line["frames"], 4) << good << ": every 0.5 s of 2 s";
    EXPECT_EQ(line["files"].size(), 5u) << good << ": an image, its cues and playlists";
  }
  const nlohmann::json& junk = by_path["junk.mp4"];
  EXPECT_EQ(junk["status"], "failed");
  EXPECT_EQ(junk["frames"], 0);
  EXPECT_TRUE(junk["files"].empty());
  EXPECT_EQ(ListFolder(folder + "/out"), "a.mp4.sprites b.mp4.sprites");
}

// Options that make no sense together get one line and exit status 2.
TEST(ThumbnailSprites, CombinationsThatMakeNoSenseAreRefused) {
  const std::pair<const char*, const char*> kRefused[] = {
      {"--sheet 4x4 --sprites v.mp4", "run the tool once for each"},
      {"--sheet 4x4 --cache v.mp4", "--cache"},
      {"--sprites --thumbnailer -s 128 in.mp4 out.png", "--thumbnailer"},
      {"--sprites -o - v.mp4", "-o -"},
      {"--sheet 4x4 -t 10 v.mp4", "-t"},
      {"--sheet 2x2 --skip-existing v.mp4", "--skip-existing"},
      {"--grid 5x5 v.mp4", "--grid goes with --sprites"},
      {"--exact v.mp4", "--exact goes with"},
      {"--sheet 0x4 v.mp4", "--sheet wants CxR"},
      {"--sprites=0 v.mp4", "more than 0"},
      {"--sprites -f png v.mp4", "jpg or webp"},
      {"--sprites -o shot.jpg v.mp4", "names a file"},
      {"--sprites -o one.sprites a.mp4 b.mp4", "names one sprite folder"},
  };
  for (const auto& [arguments, says] : kRefused) {
    std::string errors;
    EXPECT_EQ(RunTool(arguments, &errors), 2) << arguments;
    EXPECT_EQ(CountLines(errors), 2) << arguments << "\n" << errors;
    EXPECT_NE(errors.find(says), std::string::npos) << arguments << "\n" << errors;
  }
}

}  // namespace
