// The frame choice against the real server on film-like videos made by the
// ffmpeg tool: lead-ins, cards, flashes, fades and dissolves around content.
#include "client/frame_choice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <utility>

#include "client/frame_measures.h"
#include "client/thumbnail_client.h"
#include "tests/support/fixtures.h"

namespace {

using thumbnail::ClientOptions;
using thumbnail::Frame;
using thumbnail::FrameChoice;
using thumbnail::ThumbnailClient;

const std::string kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kEncode = " -c:v libx264 -preset ultrafast -crf 30 -pix_fmt yuv420p";

std::string Film(const std::string& name, const std::string& graph) {
  return Fixture("choice-" + name + ".mp4", "-filter_complex \"" + graph + "\"" + kEncode);
}

// A stretch of a video in milliseconds, [from, to).
using Span = std::pair<uint32_t, uint32_t>;

struct FilmCase {
  const char* name;
  std::string graph;
  std::vector<Span> content;      // where the video shows what it is
  std::vector<Span> transitions;  // fades and dissolves, never to be chosen
};

bool Inside(uint32_t ms, const std::vector<Span>& spans) {
  for (const Span& s : spans)
    if (ms >= s.first && ms < s.second) return true;
  return false;
}

TEST(FrameChoice, ChosenFrameIsContentAndNeverInAFadeOrADissolve) {
  const std::string text = "drawtext=fontfile=" + kFont + ":text='A FILM BY':fontcolor=white:fontsize=20:"
                           "x=(w-tw)/2:y=(h-th)/2";
  const FilmCase films[] = {
      {"black-lead-in", "color=black:s=320x180:d=3:r=25[a];testsrc2=s=320x180:d=6:r=25[b];[a][b]concat=n=2",
       {{3000, 9000}}, {}},
      {"logo-card",
       "color=0x203060:s=320x180:d=4:r=25,drawbox=x=140:y=70:w=40:h=40:color=white:t=fill[a];"
       "mandelbrot=s=320x180:r=25,trim=duration=6[b];[a][b]concat=n=2",
       {{4000, 10000}}, {}},
      {"test-card", "smptebars=s=320x180:d=4:r=25[a];testsrc2=s=320x180:d=6:r=25[b];[a][b]concat=n=2",
       {{4000, 10000}}, {}},
      {"title-card",
       "color=black:s=320x180:d=4:r=25," + text +
           "[a];life=s=320x180:r=25:mold=10:ratio=0.3:death_color=#202020:life_color=#ff8030,trim=duration=6[b];"
           "[a][b]concat=n=2",
       {{4000, 10000}}, {}},
      {"white-flash",
       "testsrc2=s=320x180:d=2:r=25[a];color=white:s=320x180:d=0.5:r=25[w];testsrc2=s=320x180:d=6:r=25[b];"
       "[a][w][b]concat=n=3",
       {{0, 2000}, {2500, 8500}}, {{2000, 2500}}},
      {"fade-through-black",
       "testsrc2=s=320x180:d=4:r=25,fade=out:st=3:d=1[a];"
       "mandelbrot=s=320x180:r=25,trim=duration=5,fade=in:st=0:d=1[b];[a][b]concat=n=2",
       {{0, 3000}, {5000, 9000}}, {{3000, 5000}}},
      {"cross-dissolve",
       "testsrc2=s=320x180:d=5:r=25,format=yuv420p[a];"
       "mandelbrot=s=320x180:r=25,trim=duration=5,setpts=PTS-STARTPTS,format=yuv420p[b];"
       "[a][b]xfade=transition=fade:duration=2:offset=3",
       {{0, 3000}, {5000, 8000}}, {{3000, 5000}}},
      {"letterboxed", "color=black:s=320x180:d=3:r=25[a];testsrc2=s=320x136:d=8:r=25,pad=320:180:0:22[b];[a][b]concat=n=2",
       {{3000, 11000}}, {}},
      {"pillarboxed", "testsrc2=s=240x180:d=8:r=25,pad=320:180:40:0", {{0, 8000}}, {}},
      {"credits-at-the-end",
       "testsrc2=s=320x180:d=8:r=25[a];color=black:s=320x180:d=4:r=25," + text + "[b];[a][b]concat=n=2",
       {{0, 8000}}, {}},
      {"cellular-automaton", "color=black:s=320x180:d=1:r=25[a];cellauto=s=320x180:r=25:rule=110,trim=duration=6[b];"
       "[a][b]concat=n=2",
       {{1000, 7000}}, {}},
      // Longer than a minute: key frames spread over it, not the walk's.
      {"long-static-shot",
       "color=black:s=320x180:d=3:r=25[a];"
       "cellauto=s=320x180:r=25:rule=110,trim=end_frame=1,loop=loop=1749:size=1,setpts=N/25/TB[b];[a][b]concat=n=2",
       {{3000, 73000}}, {}},
  };
  ThumbnailClient client(ClientOptions{THUMBNAIL_SERVER_PATH});
  int not_content = 0;
  for (const FilmCase& film : films) {
    const std::string path = Film(film.name, film.graph);
    Frame frame;
    FrameChoice why;
    ASSERT_TRUE(client.ChooseFrame(path, 200, &frame, &why).ok()) << film.name;
    ASSERT_TRUE(why.scored) << film.name;
    ASSERT_EQ(why.origin.source, thumbnail::FrameOrigin::Source::kVideo) << film.name;
    EXPECT_EQ(std::max(frame.width, frame.height), 200) << film.name;
    EXPECT_GE(why.candidates.size(), 5u) << film.name;
    const uint32_t ms = why.origin.milliseconds;
    EXPECT_FALSE(Inside(ms, film.transitions)) << film.name << " chose " << ms << " ms, inside a transition";
    if (!Inside(ms, film.content)) {
      ++not_content;
      std::printf("%s chose %u ms, not content\n", film.name, ms);
    }
  }
  EXPECT_LE(not_content, 1);
}

TEST(FrameChoice, BadInputGetsTheBestItHasOrItsReason) {
  ThumbnailClient client(ClientOptions{THUMBNAIL_SERVER_PATH});
  Frame frame;
  FrameChoice why;

  // All black: every candidate too dark, and still a picture, not a failure.
  const std::string black = Fixture("choice-all-black.mp4", "-f lavfi -i color=black:s=320x180:d=4:r=25" + kEncode);
  ASSERT_TRUE(client.ChooseFrame(black, 128, &frame, &why).ok());
  EXPECT_TRUE(why.scored);
  EXPECT_EQ(frame.width, 128);
  for (const auto& c : why.candidates) EXPECT_TRUE(c.measures.too_dark) << c.milliseconds;

  // One frame: the shares of its tiny duration find it.
  const std::string one = Fixture("choice-one-frame.mp4", "-f lavfi -i testsrc2=s=320x180:r=25 -frames:v 1" + kEncode);
  ASSERT_TRUE(client.ChooseFrame(one, 0, &frame, &why).ok());
  EXPECT_EQ(frame.width, 320);
  EXPECT_FALSE(why.candidates.empty());

  // Unknown duration (a raw stream says none): the walk's positions.
  const std::string raw = Fixture("choice-raw.h264", "-f lavfi -i testsrc2=s=320x180:d=4:r=25" + kEncode + " -f h264");
  ASSERT_TRUE(client.ChooseFrame(raw, 64, &frame, &why).ok());
  EXPECT_EQ(frame.width, 64);
  ASSERT_GE(why.candidates.size(), 8u);
  EXPECT_EQ(why.candidates.front().milliseconds, 300u);

  // No key frame flags but the first (an AVI index with its flags cleared):
  // the key frame mode decodes on from the first, and the candidates are
  // still spread over the video, not the first frame over and over.
  const std::string flagged = Fixture("choice-flagged.avi", "-f lavfi -i testsrc2=s=320x180:d=4:r=25 -c:v mpeg4 -g 1000");
  std::ifstream in(flagged, std::ios::binary);
  std::string avi((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t index = avi.rfind("idx1");
  ASSERT_NE(index, std::string::npos);
  for (size_t entry = index + 8; entry + 16 <= avi.size(); entry += 16) avi[entry + 4] &= ~0x10;
  const std::string unflagged = BytesFixture("choice-unflagged.avi", avi);
  ASSERT_TRUE(client.ChooseFrame(unflagged, 64, &frame, &why).ok());
  EXPECT_TRUE(why.scored);
  EXPECT_GE(why.candidates.size(), 8u);

  // Cut in the middle: the candidates past the cut fail, and the choice is
  // made from the rest.
  const std::string whole =
      Fixture("choice-whole.ts", "-f lavfi -i testsrc2=s=320x180:d=8:r=25" + kEncode + " -f mpegts");
  std::string cut = whole.substr(0, whole.size() - 3) + "cut.ts";
  ASSERT_EQ(RunCommand("head -c $(( $(stat -c %s " + ShellQuote(whole) + ") / 3 )) " + ShellQuote(whole) + " > " +
                       ShellQuote(cut)),
            0);
  ASSERT_TRUE(client.ChooseFrame(cut, 64, &frame, &why).ok());
  EXPECT_EQ(frame.width, 64);
  EXPECT_FALSE(why.candidates.empty());

  // A file the server cannot read fails with its reason, as a thumbnail does.
  EXPECT_EQ(client.ChooseFrame("/no/such/video.mp4", 64, &frame, &why).failure, thumbnail::Failure::kNoSuchFile);
  const std::string junk = BytesFixture("choice-junk.mp4", std::string(4096, 'x'));
  EXPECT_EQ(client.ChooseFrame(junk, 64, &frame, &why).failure, thumbnail::Failure::kNotMedia);
}

}  // namespace

namespace {

// Caught: a choice that, on a clip the walk already did well, gives a frame
// too dark or flat where the walk's was not.
TEST(FrameChoice, NeverWorseThanTheWalkOnPlainClips) {
  const char* const sources[] = {
      "testsrc2=s=320x180:d=3:r=25",
      "mandelbrot=s=320x180:r=25,trim=duration=4",
      "life=s=320x180:r=25:mold=10:ratio=0.3:life_color=#ff8030,trim=duration=4",
      "rgbtestsrc=s=320x180:d=3:r=25",
      "color=0x101010:s=320x180:d=1:r=25[a];testsrc2=s=320x180:d=3:r=25[b];[a][b]concat=n=2",
  };
  ThumbnailClient client(ClientOptions{THUMBNAIL_SERVER_PATH});
  for (const char* source : sources) {
    SCOPED_TRACE(source);
    const std::string path = Film("plain-" + std::to_string(std::hash<std::string>{}(source)), source);
    Frame walked, chosen;
    ASSERT_TRUE(client.ThumbnailWithin(path, 160, &walked).ok());
    ASSERT_TRUE(client.ChooseFrame(path, 160, &chosen).ok());
    const auto measure = [](const Frame& f) { return thumbnail::MeasureFrame(f, thumbnail::FindContent(f)); };
    const thumbnail::FrameMeasures walk = measure(walked), choice = measure(chosen);
    EXPECT_LE(choice.too_dark, walk.too_dark) << "too dark where the walk was not";
    // Flat: a frame of few tones, a card or a flash. Among frames that are
    // not, the choice may trade spread for sharpness and colour.
    constexpr double kFlatBits = 4;
    EXPECT_FALSE(choice.luma_entropy < kFlatBits && walk.luma_entropy >= kFlatBits)
        << "flat where the walk's was not: " << choice.luma_entropy << " bits against " << walk.luma_entropy;
  }
}

}  // namespace
