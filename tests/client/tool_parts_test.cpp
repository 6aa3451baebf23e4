// The tool's own parts: fitting and scaling, URIs, output names, BMP.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

extern "C" {
#include <libswscale/swscale.h>
}

#include "client/image_scale.h"
#include "protocol/wire.h"
#include "tool/batch/batch_report.h"
#include "tool/batch/processor_share.h"
#include "tool/desktop/video_types.h"
#include "tool/encode/picture_formats.h"
#include "tool/inputs/file_uri.h"
#include "tool/inputs/input_list.h"
#include "tool/inputs/md5.h"
#include "tool/server_lookup.h"
#include "tool/terminal_text.h"
#include "tool/tool_options.h"
#include "tool/write/output_plan.h"

namespace thumbnail {
namespace {

TEST(FitLongerEdge, KeepsTheAspect) {
  EXPECT_EQ(FitLongerEdge(1920, 1080, 256, true).height, 144);
  EXPECT_EQ(FitLongerEdge(1920, 1080, 256, true).width, 256);
  PictureSize portrait = FitLongerEdge(1080, 1920, 256, true);
  EXPECT_EQ(portrait.width, 144);
  EXPECT_EQ(portrait.height, 256);
  // A sliver keeps one pixel.
  EXPECT_EQ(FitLongerEdge(4000, 2, 100, true).height, 1);
}

TEST(FitLongerEdge, ZeroAndSmallFramesKeepTheirSize) {
  EXPECT_EQ(FitLongerEdge(321, 240, 0, true).width, 321);
  EXPECT_EQ(FitLongerEdge(320, 240, 512, true).width, 512);
  EXPECT_EQ(FitLongerEdge(320, 240, 512, false).width, 320);
  EXPECT_EQ(FitLongerEdge(320, 240, 256, false).width, 256);
}

Frame Flat(int width, int height, uint8_t b, uint8_t g, uint8_t r) {
  Frame frame{width, height, {}};
  for (int i = 0; i < width * height; ++i) frame.bgr.insert(frame.bgr.end(), {b, g, r});
  return frame;
}

TEST(ScaleFrame, OddWidthsKeepFlatColours) {
  // Widths that are not multiples of 16, where libswscale's vector code
  // runs past tightly packed rows.
  for (auto [w, h, tw, th] : {std::array{361, 241, 256, 171}, std::array{100, 30, 333, 99}}) {
    Frame scaled;
    ASSERT_TRUE(ScaleFrame(Flat(w, h, 30, 140, 220), tw, th, &scaled));
    ASSERT_EQ(scaled.bgr.size(), static_cast<size_t>(tw) * th * 3);
    for (size_t i = 0; i < scaled.bgr.size(); i += 3) {
      ASSERT_NEAR(scaled.bgr[i], 30, 2) << i;
      ASSERT_NEAR(scaled.bgr[i + 1], 140, 2) << i;
      ASSERT_NEAR(scaled.bgr[i + 2], 220, 2) << i;
    }
  }
}

// libswscale on a copy of the frame whose rows are padded to 64 bytes, with
// spare rows below: the picture ScaleFrame must give.
std::vector<uint8_t> ScaledFromPaddedCopy(const Frame& in, int width, int height) {
  const int in_stride = (in.width * 3 + 63) / 64 * 64, out_stride = (width * 3 + 63) / 64 * 64;
  std::vector<uint8_t> source(static_cast<size_t>(in_stride) * (in.height + 2)), target(static_cast<size_t>(out_stride) * (height + 2));
  for (int y = 0; y < in.height; ++y)
    std::copy_n(in.bgr.begin() + static_cast<ptrdiff_t>(y) * in.width * 3, in.width * 3, source.begin() + static_cast<ptrdiff_t>(y) * in_stride);
  SwsContext* context = sws_getContext(in.width, in.height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_BGR24,
                                       SWS_AREA | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  const uint8_t* from[1] = {source.data()};
  uint8_t* to[1] = {target.data()};
  sws_scale(context, from, &in_stride, 0, in.height, to, &out_stride);
  sws_freeContext(context);
  std::vector<uint8_t> picture;
  for (int y = 0; y < height; ++y)
    picture.insert(picture.end(), target.begin() + static_cast<ptrdiff_t>(y) * out_stride, target.begin() + static_cast<ptrdiff_t>(y) * out_stride + width * 3);
  return picture;
}

// Caught: scaling the rows where they lie in the frame gave another picture
// than scaling a padded copy: with rows at odd addresses (an odd width)
// libswscale rounds each row's last pixel another way.
TEST(ScaleFrame, RowsScaledInPlaceGiveThePaddedCopysPicture) {
  for (auto [w, h, tw, th] : {std::array{1001, 563, 255, 143}, std::array{1003, 563, 255, 143},
                              std::array{1080, 1920, 144, 256}, std::array{1920, 1080, 256, 144}}) {
    Frame frame{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
    uint32_t state = 1;
    for (uint8_t& byte : frame.bgr) byte = static_cast<uint8_t>((state = state * 1664525 + 1013904223) >> 24);
    Frame scaled;
    ASSERT_TRUE(ScaleFrame(frame, tw, th, &scaled));
    EXPECT_EQ(scaled.bgr, ScaledFromPaddedCopy(frame, tw, th)) << w << "x" << h;
  }
}

TEST(ScaleFrame, ShrinkingAveragesInsteadOfPicking) {
  // One-pixel stripes of black and white become grey, not black or white.
  Frame stripes{64, 64, {}};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) stripes.bgr.insert(stripes.bgr.end(), 3, x % 2 ? 255 : 0);
  Frame scaled;
  ASSERT_TRUE(ScaleFrame(stripes, 16, 16, &scaled));
  EXPECT_NEAR(scaled.bgr[8 * 16 * 3 + 8 * 3], 128, 8);
}

TEST(FileUri, DecodesFileUrisAndKeepsPlainPaths) {
  std::string path;
  ASSERT_TRUE(PathFromArgument("file:///home/u/My%20Video%C3%A9.mp4", &path));
  EXPECT_EQ(path, "/home/u/My Video\xC3\xA9.mp4");
  ASSERT_TRUE(PathFromArgument("file://localhost/a%2fb", &path));
  EXPECT_EQ(path, "/a/b");
  ASSERT_TRUE(PathFromArgument("clips/a%20b:c.mp4", &path));
  EXPECT_EQ(path, "clips/a%20b:c.mp4");
  EXPECT_FALSE(PathFromArgument("file://server/share/a.mp4", &path));
  EXPECT_FALSE(PathFromArgument("smb://server/a.mp4", &path));
  EXPECT_FALSE(PathFromArgument("file:///a%00b", &path));
  EXPECT_FALSE(PathFromArgument("file:///a%4", &path));
  EXPECT_FALSE(PathFromArgument("file:///a%zz", &path));
}

TEST(FileUri, EncodesWhatAUriCannotHold) {
  std::string odd = "/v/My Video #1 100%\xC3\xA9.mp4";
  EXPECT_EQ(FileUri(odd), "file:///v/My%20Video%20%231%20100%25%C3%A9.mp4");
  std::string back;
  ASSERT_TRUE(PathFromArgument(FileUri(odd), &back));
  EXPECT_EQ(back, odd);
  // Desktops key the cache by the digest of the URI GLib makes, which keeps
  // these delimiters as they are; escaping them names entries no desktop finds.
  EXPECT_EQ(FileUri("/v/Movie (2020) [x]; a&b=c+d,e:f@g$h!i'j*k~l.mkv"),
            "file:///v/Movie%20(2020)%20%5Bx%5D%3B%20a&b=c+d,e:f@g$h!i'j*k~l.mkv");
  EXPECT_EQ(FileUri("/a\"b<c>d?e^f`g{h|i}j\x7f"), "file:///a%22b%3Cc%3Ed%3Fe%5Ef%60g%7Bh%7Ci%7Dj%7F");
}

// Names reach a terminal only as printable text: an escape sequence or a
// newline in a file name would rewrite the screen or split a line in two.
TEST(TerminalText, ControlCharactersAreEscapedAndTheEndOfANameKept) {
  struct Case {
    std::string raw, shown;
  };
  for (const Case& c : std::vector<Case>{{"plain é.mp4", "plain é.mp4"},
                                         {"a\nb", "a\\x0ab"},
                                         {"\x1b[2J", "\\x1b[2J"},
                                         {"del\x7f", "del\\x7f"},
                                         {"c1 \xc2\x9b", "c1 \\xc2\\x9b"},
                                         {"back\\slash", "back\\\\slash"}})
    EXPECT_EQ(Printable(c.raw), c.shown) << c.raw;

  EXPECT_EQ(KeepEnd("short.mp4", 20), "short.mp4");
  EXPECT_EQ(KeepEnd("/very/long/folder/name/film.mp4", 14), "...me/film.mp4");
  // Characters are counted, and none is cut in two.
  EXPECT_EQ(KeepEnd("ééééé.mp4", 8), "...é.mp4");
  EXPECT_EQ(KeepEnd("xabécd", 5), "...cd");
  EXPECT_EQ(KeepEnd("xyabécd", 6), "...écd");
  EXPECT_EQ(KeepEnd("abcdef", 2), "..");

  std::string line = ProgressLine("[1/9] 2.0 videos/s  ", "/media/films/a very long name\n.mp4", 40);
  EXPECT_EQ(line, "[1/9] 2.0 videos/s  ...ong name\\x0a.mp4");
  EXPECT_EQ(line.size(), 39u);
}

// The server beside the tool, then on PATH; THUMBNAIL_SERVER over both.
TEST(FindServer, ChosenThenBesideThenPath) {
  std::set<std::string> runnable = {"/opt/t/thumbnail-server", "/usr/bin/thumbnail-server",
                                    "/usr/local/bin/thumbnail-server", "./thumbnail-server"};
  auto exists = [&](const std::string& path) { return runnable.count(path) > 0; };
  struct Case {
    ServerPlaces places;
    std::string found;
  };
  for (const Case& c : std::vector<Case>{
           {{"/my/server", "/opt/t/thumbnail", "/usr/bin"}, "/my/server"},
           {{"", "/opt/t/thumbnail", "/usr/bin"}, "/opt/t/thumbnail-server"},
           {{"", "/home/u/bin/thumbnail", "/nowhere:/usr/local/bin:/usr/bin"}, "/usr/local/bin/thumbnail-server"},
           {{"", "/home/u/bin/thumbnail", "/nowhere::/usr/bin"}, "./thumbnail-server"},
           {{"", "/home/u/bin/thumbnail", "/nowhere"}, ""},
           {{"", "", ""}, ""},
       })
    EXPECT_EQ(FindServer(c.places, exists), c.found) << c.places.self << " " << c.places.search;
}

// Caught: a file given twice was dropped without a word, and a consumer
// counting lines lost it.
TEST(InputList, AFileGivenTwiceIsDoneOnceAndItsRepeatsNamed) {
  std::string root = ::testing::TempDir() + "repeats-" + std::to_string(::getpid());
  std::filesystem::create_directories(root + "/d");
  std::ofstream(root + "/d/v.mp4") << "v";
  std::ofstream(root + "/w.mp4") << "w";
  std::filesystem::create_symlink(root + "/d/v.mp4", root + "/link.mp4");
  std::filesystem::create_hard_link(root + "/w.mp4", root + "/hard.mp4");
  std::vector<std::string> given = {root + "/d/v.mp4", root + "/d/./v.mp4", root + "/d/../d/v.mp4",
                                    root + "/link.mp4", root + "/w.mp4",     root + "/hard.mp4",
                                    "missing.mp4",      "./missing.mp4",     "other.mp4"};
  std::vector<std::string> first_of = {"", given[0], given[0], given[0], "", given[4], "", "missing.mp4", ""};
  std::vector<Input> inputs = MarkRepeats(given);
  ASSERT_EQ(inputs.size(), given.size());
  for (size_t i = 0; i < given.size(); ++i) {
    EXPECT_EQ(inputs[i].path, given[i]);
    EXPECT_EQ(inputs[i].repeat_of, first_of[i]) << given[i];
  }
  std::filesystem::remove_all(root);
}

// Caught: the desktop entry claimed types whose files the cache's walk
// skipped (.3g2, .nut, .ogm, .m2t), and lacked types other thumbnailers
// claim. Both now read one table; these are the kinds users reported.
TEST(VideoTypes, TheEntryAndTheWalkAgreeAndCoverWhatUsersHave) {
  const std::string entry = ThumbnailerEntry();
  std::set<std::string> claimed;
  std::istringstream mime_types(entry.substr(entry.find("MimeType=") + 9));
  for (std::string type; std::getline(mime_types, type, ';') && type != "\n";) claimed.insert(type);
  const std::pair<const char*, const char*> kReported[] = {
      {"video/x-flv", "clip.flv"},          {"video/divx", "clip.DIVX"},
      {"application/vnd.rn-realmedia", "clip.rmvb"}, {"video/x-ms-wvx", "clip.wvx"},
      {"video/3gp", "clip.3gp"},            {"video/3gpp2", "clip.3g2"},
      {"video/x-nut", "clip.nut"},          {"video/x-ogm+ogg", "clip.ogm"},
      {"video/mp2t", "clip.m2t"},           {"video/x-matroska", "clip.mkv"},
  };
  for (const auto& [mime, name] : kReported) {
    EXPECT_EQ(claimed.count(mime), 1u) << mime;
    EXPECT_TRUE(HasVideoExtension(name)) << name;
  }
  for (const VideoType& type : VideoTypes()) {
    EXPECT_EQ(claimed.count(type.mime_type), 1u) << type.mime_type;
    EXPECT_FALSE(type.extensions.empty()) << type.mime_type << " has no file the walk would find";
  }
  for (const char* not_video : {"notes.txt", "song.mp3", "photo.jpg", "video", "archive.mp4/inner"})
    EXPECT_FALSE(HasVideoExtension(not_video)) << not_video;
  // What is installed is what the table says.
  std::ifstream built(THUMBNAILER_ENTRY_PATH);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(built), std::istreambuf_iterator<char>()), entry);
}

// Machines that split one list must agree on the split, whatever their
// byte order or library: the shard of a path is fixed.
TEST(InputList, ShardsAreFixedByThePathAndSpreadEvenly) {
  EXPECT_EQ(ShardOf("film.mp4", 1), 0);
  EXPECT_EQ(Md5Hex("film.mp4"), "63be5415fce2097e2a3dba265897db16");
  EXPECT_EQ(ShardOf("film.mp4", 7), static_cast<int>(0x63be5415fce2097eull % 7));
  int counts[3] = {};
  for (int i = 0; i < 3000; ++i) ++counts[ShardOf("videos/clip" + std::to_string(i) + ".mp4", 3)];
  for (int count : counts) EXPECT_NEAR(count, 1000, 120);
}

// Faults caught: servers sharing a processor while another stays idle,
// shares that overlap or leave a processor out, an empty share.
TEST(ProcessorShare, EveryServerItsOwnPartAndEveryProcessorUsed) {
  const std::vector<int> eight = {0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<int> gaps = {1, 3, 6};
  struct Case {
    const std::vector<int>& processors;
    size_t index, count;
    std::vector<int> share;
  } cases[] = {
      {eight, 0, 1, eight},       {eight, 0, 2, {0, 1, 2, 3}}, {eight, 1, 2, {4, 5, 6, 7}},
      {eight, 0, 3, {0, 1}},      {eight, 1, 3, {2, 3, 4}},    {eight, 2, 3, {5, 6, 7}},
      {gaps, 0, 2, {1}},          {gaps, 1, 2, {3, 6}},        {gaps, 3, 5, {1}},
      {gaps, 4, 5, {3}},          {gaps, 0, 0, gaps},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProcessorShare(c.processors, c.index, c.count), c.share) << c.index << " of " << c.count;
  EXPECT_TRUE(ProcessorShare({}, 1, 2).empty());
}

TEST(JsonLine, EscapesWhatJsonCannotHoldAndSaysWhatHappened) {
  VideoOutcome written{VideoOutcome::Status::kWritten, "out/a\"b.mp4.png", {256, 144},
                       {FrameOrigin::Source::kVideo, 1500}, ""};
  EXPECT_EQ(JsonLine("a\"b\n.mp4", written), R"({"path":"a\"b\n.mp4","picture":"out/a\"b.mp4.png","status":"written",)"
                                             R"("size":{"width":256,"height":144},"position":1.5,"cover":false,)"
                                             R"("reason":null,"chosen":null,"candidates":[],"read":null})");
  // The scored choice says which time won and what every candidate scored;
  // a candidate not judged for a transition shows no change, not a still one.
  VideoOutcome chosen = written;
  chosen.chosen = true;
  chosen.candidates = {{300, {0, 0, 160, 90}, {3.5, true, 0.25, 0, 0.5}, false, {}, -1.55},
                       {1500, {0, 11, 160, 68}, {120.25, false, 6.5, 0.3, 80.123456}, true, {12, 0.5}, 0.7}};
  EXPECT_EQ(JsonLine("c.mp4", chosen).substr(JsonLine("c.mp4", chosen).find("\"chosen\"")),
            R"("chosen":1.5,"candidates":[)"
            R"({"time":0.3,"score":-1.55,"too_dark":true,"mean":3.5,"entropy":0.25,"sharpness":0.0,)"
            R"("colourfulness":0.5,"change":null,"fade":null,"content":[0,0,160,90]},)"
            R"({"time":1.5,"score":0.7,"too_dark":false,"mean":120.25,"entropy":6.5,"sharpness":0.3,)"
            R"("colourfulness":80.123,"change":12.0,"fade":0.5,"content":[0,11,160,68]}],"read":null})");
  // What the server read, where it read anything, past 4 GiB too.
  written.read = ReadTally{(uint64_t{5} << 32) + 1, 3};
  EXPECT_NE(JsonLine("a.mp4", written).find(R"("read":{"bytes":21474836481,"seeks":3})"), std::string::npos);
  VideoOutcome cover{VideoOutcome::Status::kWritten, "c.png", {8, 8}, {FrameOrigin::Source::kCover, 0}, ""};
  EXPECT_NE(JsonLine("c.mp4", cover).find(R"("position":null,"cover":true)"), std::string::npos)
      << "a cover has no time in the video";
  VideoOutcome failed{VideoOutcome::Status::kFailed, "out/x.png", {}, {}, "no such file"};
  EXPECT_EQ(JsonLine("x\xff.mp4", failed),
            "{\"path\":\"x\xEF\xBF\xBD.mp4\","
            R"("picture":null,"status":"failed","size":null,"position":null,"cover":false,"reason":"no such file",)"
            R"("chosen":null,"candidates":[],"read":null})");
  // A sheet's line tells its files and each tile's time, null for a tile
  // without a frame.
  VideoOutcome sheet{VideoOutcome::Status::kWritten, "s.png", {700, 400}, {}, "", FramesWritten{{"s.png"}, {1500, -1}}};
  EXPECT_EQ(JsonLine("s.mp4", sheet),
            R"({"path":"s.mp4","picture":"s.png","status":"written","size":{"width":700,"height":400},)"
            R"("position":null,"cover":false,"reason":null,"chosen":null,"candidates":[],"read":null,"files":["s.png"],)"
            R"("frames":2,"times":[1.5,null]})");
}

// Catches: a unit read as a power of 1000 (or not at all), a budget of 0
// or one below a single read taken (no video could ever be pictured), and
// an absurd one that overflows into a small number.
TEST(ParseReadBudget, UnitsArePowersOf1024AndZeroOrAbsurdAreRefused) {
  const struct {
    const char* text;
    uint64_t bytes;  // 0: refused
  } kCases[] = {
      {"64K", 64 << 10}, {"8M", 8 << 20}, {"8mib", 8 << 20}, {"2G", uint64_t{2} << 30}, {"1T", uint64_t{1} << 40},
      {"65536", 65536},  {"3MB", 3 << 20}, {"0", 0},          {"0M", 0},               {"63K", 0},
      {"2T", 0},         {"16777216T", 0}, {"18446744073709551616", 0}, {"", 0}, {"M", 0}, {"8Q", 0},
      {"-8M", 0},        {"8 M", 0},
  };
  for (const auto& c : kCases) {
    uint64_t bytes = 12345;
    EXPECT_EQ(ParseReadBudget(c.text, &bytes), c.bytes != 0) << c.text;
    if (c.bytes) EXPECT_EQ(bytes, c.bytes) << c.text;
    else EXPECT_EQ(bytes, 12345u) << c.text << ": a refused value is not stored";
  }
}

// Every short option has a long one that does the same.
TEST(ParseToolOptions, LongOptionsAreTheShortOnes) {
  auto parse = [](std::vector<std::string> words) {
    std::vector<char*> argv;
    words.insert(words.begin(), "thumbnail");
    for (std::string& word : words) argv.push_back(word.data());
    ToolOptions options;
    std::string error;
    EXPECT_TRUE(ParseToolOptions(static_cast<int>(argv.size()), argv.data(), &options, &error)) << error;
    return options;
  };
  ToolOptions s = parse({"-o", "out/", "-f", "jpg", "-s", "64", "-Q", "40", "-j", "3", "-q", "-0", "--files-from", "-",
                         "--shard", "2/5", "v.mp4"});
  ToolOptions l = parse({"--output", "out/", "--format", "jpg", "--size", "64", "--quality", "40", "--jobs", "3",
                         "--quiet", "--null", "--files-from", "-", "--shard=2/5", "v.mp4"});
  for (const ToolOptions& o : {s, l}) {
    EXPECT_EQ(o.output, "out/");
    EXPECT_EQ(o.format, FormatNamed("jpg"));
    EXPECT_EQ(o.size, 64);
    EXPECT_EQ(o.quality, 40);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.null_separated);
    EXPECT_EQ(o.shard, 2);
    EXPECT_EQ(o.shards, 5);
    EXPECT_EQ(o.videos, std::vector<std::string>{"v.mp4"});
  }
  EXPECT_EQ(parse({"-h"}).action, ToolOptions::Action::kHelp);
  EXPECT_EQ(parse({"--cache", "--cache-size", "x-large", "dir"}).cache_size.edge, 512);
  EXPECT_TRUE(parse({"--files-from", "list"}).videos.empty());
}

// Caught: an interval in minutes read as seconds, sprites that kept the
// thumbnail's 256 pixels and PNG, a --grid lost when it came before
// --sprites.
TEST(ParseToolOptions, SheetsAndSpritesTakeTheirIntervalsGridsAndDefaults) {
  struct Case {
    std::vector<std::string> words;
    Product::Kind kind;
    uint32_t interval_ms;
    Grid grid;
    int size;
    const char* format;
    FramesRequest::Mode mode;
  };
  using K = Product::Kind;
  using M = FramesRequest::Mode;
  const Case kCases[] = {
      {{"--sprites", "v.mp4"}, K::kSprites, 10000, {10, 10}, 320, "jpg", M::kKeyFrame},
      {{"--sprites=1:00", "--exact", "v.mp4"}, K::kSprites, 60000, {10, 10}, 320, "jpg", M::kExact},
      {{"--grid", "5x4", "--sprites=2.5", "-s", "160", "-f", "webp", "v.mp4"}, K::kSprites, 2500, {5, 4}, 160, "webp",
       M::kKeyFrame},
      {{"--sheet", "4x3", "v.mp4"}, K::kSheet, 10000, {4, 3}, 320, "png", M::kKeyFrame},
      {{"--sheet=2x6", "-s", "0", "-f", "jpg", "--exact", "v.mp4"}, K::kSheet, 10000, {2, 6}, 0, "jpg", M::kExact},
      {{"v.mp4"}, K::kThumbnail, 10000, {0, 0}, 256, "png", M::kKeyFrame},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> words = c.words;
    words.insert(words.begin(), "thumbnail");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    ToolOptions options;
    std::string error;
    ASSERT_TRUE(ParseToolOptions(static_cast<int>(argv.size()), argv.data(), &options, &error)) << error;
    SCOPED_TRACE(words[1]);
    EXPECT_EQ(options.product.kind, c.kind);
    EXPECT_EQ(options.product.interval_ms, c.interval_ms);
    EXPECT_EQ(options.product.grid.columns, c.grid.columns);
    EXPECT_EQ(options.product.grid.rows, c.grid.rows);
    EXPECT_EQ(options.size, c.size);
    EXPECT_EQ(options.format, FormatNamed(c.format));
    EXPECT_EQ(options.product.mode, c.mode);
  }
}

ToolOptions Options(std::string output, bool tree = false, bool strip = false) {
  ToolOptions options;
  options.output = std::move(output);
  options.tree = tree;
  options.strip_extension = strip;
  return options;
}

// Where each video's picture goes: names that keep the video's extension so
// that film.mp4 and film.jpg never share one, --tree folders that cannot
// climb out of -o, and -o read as a picture or a folder by its shape.
TEST(PlanOutputs, EachVideoGetsThePictureItsNameAndTheOptionsCallFor) {
  struct Case {
    const char* why;
    ToolOptions options;
    std::vector<std::string> videos;
    std::vector<std::string> pictures;
  };
  const Case kCases[] = {
      {"whole name kept",
       Options("/tmp/"),
       {"a/clip.one.mp4", "b/film", "film.jpg"},
       {"/tmp/clip.one.mp4.png", "/tmp/film.png", "/tmp/film.jpg.png"}},
      {"current folder", Options(""), {"a/x.mp4"}, {"x.mp4.png"}},
      {"extension stripped",
       Options("out/", false, true),
       {"a/clip.one.mp4", "film"},
       {"out/clip.one.png", "out/film.png"}},
      {"a name without extension is a folder", Options("thumbs"), {"one.mp4"}, {"thumbs/one.mp4.png"}},
      {"a picture name is the picture", Options("out/Shot.JPEG"), {"v.mp4"}, {"out/Shot.JPEG"}},
      {"standard output", Options("-"), {"v.mp4"}, {"-"}},
      {"tree",
       Options("out", true),
       {"a/t.mp4", "b/t.mp4", "t.mp4", "./c/./d/t.mp4"},
       {"out/a/t.mp4.png", "out/b/t.mp4.png", "out/t.mp4.png", "out/c/d/t.mp4.png"}},
      {"tree never climbs out",
       Options("out/", true),
       {"/v/a/t.mp4", "../up/t.mp4", "x/../../t.mp4"},
       {"out/v/a/t.mp4.png", "out/up/t.mp4.png", "out/t.mp4.png"}},
  };
  for (const Case& c : kCases) {
    std::vector<Job> jobs;
    std::string error;
    ASSERT_TRUE(PlanOutputs(c.options, c.videos, &jobs, &error)) << c.why << ": " << error;
    ASSERT_EQ(jobs.size(), c.pictures.size()) << c.why;
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(jobs[i].picture.path, c.pictures[i]) << c.why;
      EXPECT_EQ(jobs[i].same_picture_as, -1) << c.why;
    }
  }
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(PlanOutputs(Options("out/Shot.JPEG"), {"v.mp4"}, &jobs, &error));
  EXPECT_EQ(jobs[0].picture.format, FormatNamed("jpg"));
}

// A sprite folder is named as the picture would be, with .sprites for its
// extension; -o names it when it ends so, else holds the folders.
TEST(PlanOutputs, SpriteFoldersAreNamedAsTheirPicturesWouldBe) {
  struct Case {
    ToolOptions options;
    std::vector<std::string> videos;
    std::vector<std::string> folders;
  };
  const auto sprites = [](ToolOptions options) {
    options.product.kind = Product::Kind::kSprites;
    options.format = FormatNamed("jpg");
    return options;
  };
  const Case kCases[] = {
      {sprites(Options("web", false, true)), {"a/film.mp4"}, {"web/film.sprites"}},
      {sprites(Options("out", true)), {"a/film.mp4", "b/film.mp4"}, {"out/a/film.mp4.sprites", "out/b/film.mp4.sprites"}},
      {sprites(Options("out/track.sprites")), {"a/film.mp4"}, {"out/track.sprites"}},
  };
  for (const Case& c : kCases) {
    std::vector<Job> jobs;
    std::string error;
    ASSERT_TRUE(PlanOutputs(c.options, c.videos, &jobs, &error)) << error;
    ASSERT_EQ(jobs.size(), c.folders.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(jobs[i].picture.path, c.folders[i]);
      EXPECT_FALSE(jobs[i].replace_any) << "only the tool's own folder is replaced unasked";
    }
  }
}

TEST(PlanOutputs, VideosWithOnePictureNameAreChainedToTheFirst) {
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(PlanOutputs(Options("/tmp"), {"a/x.mp4", "b/x.mkv", "c/y.mp4", "d/x.mp4"}, &jobs, &error));
  EXPECT_EQ(jobs[0].same_picture_as, -1);
  EXPECT_EQ(jobs[1].same_picture_as, -1);
  EXPECT_EQ(jobs[2].same_picture_as, -1);
  EXPECT_EQ(jobs[3].same_picture_as, 0);
  ASSERT_TRUE(PlanOutputs(Options("/tmp", false, true), {"a/x.mp4", "b/x.mkv"}, &jobs, &error));
  EXPECT_EQ(jobs[1].same_picture_as, 0);
}

TEST(PlanOutputs, RefusesWhatCannotBeWritten) {
  std::vector<Job> jobs;
  std::string error;
  EXPECT_FALSE(PlanOutputs(Options("out/shot.gif"), {"v.mp4"}, &jobs, &error));
  EXPECT_FALSE(PlanOutputs(Options("shot.png"), {"v.mp4", "w.mp4"}, &jobs, &error));
  EXPECT_FALSE(PlanOutputs(Options("-"), {"v.mp4", "w.mp4"}, &jobs, &error));
}

TEST(PrepareOutputFolders, MakesNestedFoldersAndFindsOnesThatCannotBeMade) {
  std::string root = ::testing::TempDir() + "prepare-" + std::to_string(::getpid());
  std::vector<Job> jobs(2);
  jobs[0].picture.path = root + "/a/b/x.png";
  jobs[1].picture.path = root + "/c/y.png";
  std::string error;
  ASSERT_TRUE(PrepareOutputFolders(jobs, 0777, &error)) << error;
  struct stat st;
  EXPECT_EQ(::stat((root + "/a/b").c_str(), &st), 0);
  // A folder under a file cannot be made.
  jobs[1].picture.path = root + "/a/b/x.png/z/y.png";
  std::ofstream(root + "/a/b/x.png") << "file";
  EXPECT_FALSE(PrepareOutputFolders(jobs, 0777, &error));
  EXPECT_NE(error.find("cannot make the folder " + root + "/a/b/x.png/z: Not a directory"), std::string::npos) << error;
  std::filesystem::remove_all(root);
}

TEST(EncodeBmp, RowsBottomUpPaddedToFourBytes) {
  Frame frame{3, 2, {}};
  for (int i = 0; i < 18; ++i) frame.bgr.push_back(static_cast<uint8_t>(i + 1));
  std::vector<uint8_t> bmp;
  std::string error;
  ASSERT_TRUE(EncodeImage(FormatNamed("bmp"), frame, {}, &bmp, &error)) << error;
  ASSERT_EQ(bmp.size(), 54u + 2 * 12);
  EXPECT_EQ(wire::DecodeNumber(&bmp[2]), bmp.size());
  EXPECT_EQ(wire::DecodeNumber(&bmp[10]), 54u);
  EXPECT_EQ(wire::DecodeNumber(&bmp[18]), 3u);
  EXPECT_EQ(wire::DecodeNumber(&bmp[22]), 2u);
  // The bottom row (10..18) comes first, then three bytes of padding.
  EXPECT_EQ(bmp[54], 10);
  EXPECT_EQ(bmp[62], 18);
  EXPECT_EQ(bmp[63], 0);
  EXPECT_EQ(bmp[66], 1);
}

// Every format's picture reads back as its format, at its size, and with
// the tool's mark, which a user's file of the same format lacks: without
// it a later run would refuse to make its own pictures again, or replace a
// user's.
TEST(PictureFormats, EachReadsBackWithItsSizeAndMark) {
  const std::string folder = ::testing::TempDir() + "formats-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder);
  Frame frame{37, 21, std::vector<uint8_t>(37 * 21 * 3, 90)};
  for (const char* name : {"png", "jpg", "bmp", "webp"}) {
    SCOPED_TRACE(name);
    ImageFormat format = FormatNamed(name);
    ASSERT_NE(format, nullptr);
    ImageFormat by_extension = nullptr;
    ASSERT_TRUE(FormatFromName(std::string("Picture") + FormatExtension(format), &by_extension));
    EXPECT_EQ(by_extension, format);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodeImage(format, frame, {50, {{"Title", "x"}}}, &bytes, &error)) << error;
    const std::string path = folder + "/p" + FormatExtension(format);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    ImageFormat read = nullptr;
    PictureSize size;
    bool marked = false;
    ASSERT_TRUE(ReadPictureHead(path, &read, &size, &marked));
    EXPECT_EQ(read, format);
    EXPECT_EQ(size.width, 37);
    EXPECT_EQ(size.height, 21);
    EXPECT_TRUE(marked);
  }
  // The same formats as other programs write them carry no mark.
  for (const char* other : {"other.png", "other.jpg", "other.bmp", "other.webp"}) {
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i color=s=16x8 -frames:v 1 " + folder + "/" + other)
                              .c_str()),
              0);
    ImageFormat read = nullptr;
    PictureSize size;
    bool marked = true;
    ASSERT_TRUE(ReadPictureHead(folder + "/" + other, &read, &size, &marked)) << other;
    EXPECT_EQ(size.width, 16) << other;
    EXPECT_FALSE(marked) << other;
  }
  EXPECT_EQ(FormatNamed("gif"), nullptr);
  std::filesystem::remove_all(folder);
}

// -t's forms: a misread field would put the picture minutes away from the
// one asked for, and a malformed value must be refused, not taken as 0.
TEST(ParsePosition, TimesAndSharesInEveryFormAndNothingElse) {
  struct Case {
    const char* text;
    bool ok;
    Position::Kind kind;
    uint32_t value;
  };
  using K = Position::Kind;
  const Case cases[] = {
      {"90", true, K::kMilliseconds, 90000},          {"1.5", true, K::kMilliseconds, 1500},
      {"0:00:01.5", true, K::kMilliseconds, 1500},    {"01:30", true, K::kMilliseconds, 90000},
      {"1:02:03.004", true, K::kMilliseconds, 3723004}, {"50%", true, K::kMillionths, 500000},
      {"12.5%", true, K::kMillionths, 125000},        {"100%", true, K::kMillionths, 1000000},
      {"0%", true, K::kMillionths, 0},                {"", false, K::kServerChoice, 0},
      {"101%", false, K::kServerChoice, 0},           {"1:60", false, K::kServerChoice, 0},
      {"1.5:00", false, K::kServerChoice, 0},         {"1:2:3:4", false, K::kServerChoice, 0},
      {"-1", false, K::kServerChoice, 0},             {"1.2345", false, K::kServerChoice, 0},
      {"abc", false, K::kServerChoice, 0},            {"%", false, K::kServerChoice, 0},
      {"1200:00:00", false, K::kServerChoice, 0},     {":30", false, K::kServerChoice, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Position p;
    EXPECT_EQ(ParsePosition(c.text, &p), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(p.kind, c.kind);
    EXPECT_EQ(p.value, c.value);
  }
}

}  // namespace
}  // namespace thumbnail
