// The measures of the frame choice on made frames: each kind of frame that
// is not the video (dark, flat, soft, grey, caught in a fade) must score
// below the frame it spoils, and black bars must not count.
#include "client/frame_measures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using thumbnail::ContentBox;
using thumbnail::Frame;
using thumbnail::FrameChange;

constexpr int kW = 160, kH = 90;

Frame Made(const std::function<void(int x, int y, uint8_t* bgr)>& paint, int w = kW, int h = kH) {
  Frame f{w, h, std::vector<uint8_t>(size_t{3} * w * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) paint(x, y, &f.bgr[(size_t{1} * y * w + x) * 3]);
  return f;
}

void Grey(uint8_t* p, int v) { p[0] = p[1] = p[2] = static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// A picture with detail and colour: hues that turn across it, shaded by a
// fine pattern.
Frame Scene(double gain = 1) {
  return Made([gain](int x, int y, uint8_t* p) {
    const double shade = 0.6 + 0.4 * ((x / 3 + y / 3) % 2);
    p[0] = static_cast<uint8_t>(gain * shade * (128 + 100 * std::sin(x * 0.07)));
    p[1] = static_cast<uint8_t>(gain * shade * (128 + 100 * std::sin(y * 0.11 + 1)));
    p[2] = static_cast<uint8_t>(gain * shade * (128 + 100 * std::sin((x + y) * 0.05 + 2)));
  });
}

// The same, each pixel the mean of its 5x5 neighbourhood.
Frame Blurred(const Frame& f) {
  return Made([&f](int x, int y, uint8_t* p) {
    for (int c = 0; c < 3; ++c) {
      int sum = 0, n = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
          const int sx = std::clamp(x + dx, 0, kW - 1), sy = std::clamp(y + dy, 0, kH - 1);
          sum += f.bgr[(size_t{1} * sy * kW + sx) * 3 + c];
          ++n;
        }
      p[c] = static_cast<uint8_t>(sum / n);
    }
  });
}

Frame Greyed(const Frame& f) {
  return Made([&f](int x, int y, uint8_t* p) {
    const uint8_t* s = &f.bgr[(size_t{1} * y * kW + x) * 3];
    Grey(p, (29 * s[0] + 150 * s[1] + 77 * s[2]) >> 8);
  });
}

double Score(const Frame& f, const Frame* later = nullptr) {
  const ContentBox box = thumbnail::FindContent(f);
  const FrameChange change = later ? thumbnail::MeasureChange(f, *later, box, 500) : FrameChange{};
  return thumbnail::FrameScore(thumbnail::MeasureFrame(f, box), change);
}

TEST(FrameMeasures, EachFrameThatIsNotTheVideoScoresBelowTheOneItSpoils) {
  const Frame scene = Scene();
  const Frame faded = Scene(0.8);
  const Frame dissolved = Made([&](int x, int y, uint8_t* p) {
    const uint8_t* s = &scene.bgr[(size_t{1} * y * kW + x) * 3];
    for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>((s[c] + 255 - s[2 - c]) / 2);
  });
  const Frame title = Made([](int x, int y, uint8_t* p) { Grey(p, (y > 40 && y < 50 && x % 4 < 2) ? 230 : 0); });
  struct Case {
    const char* fault;
    Frame worse;
    const Frame* later;
  } cases[] = {
      {"a dark frame outscores content", Made([](int, int, uint8_t* p) { Grey(p, 5); }), nullptr},
      {"a flat card outscores content", Made([](int, int, uint8_t* p) { p[0] = 200, p[1] = 60, p[2] = 20; }), nullptr},
      {"a white flash outscores content", Made([](int, int, uint8_t* p) { Grey(p, 255); }), nullptr},
      {"a title on black outscores content", title, nullptr},
      {"a soft frame outscores its sharp self", Blurred(scene), nullptr},
      {"a grey frame outscores its colours", Greyed(scene), nullptr},
      {"a frame fading out outscores a still one", scene, &faded},
      {"a frame in a dissolve outscores a still one", scene, &dissolved},
  };
  const double still = Score(scene, &scene);
  for (const Case& c : cases) EXPECT_LT(Score(c.worse, c.later), still) << c.fault;
}

TEST(FrameMeasures, DarkFramesRankBelowEveryOtherByBrightness) {
  const Frame black = Made([](int, int, uint8_t* p) { Grey(p, 0); });
  const Frame dim = Made([](int, int, uint8_t* p) { Grey(p, 6); });
  const Frame flat = Made([](int, int, uint8_t* p) { Grey(p, 9); });
  const Frame fading = Scene();
  const Frame gone = Made([](int, int, uint8_t* p) { Grey(p, 0); });
  EXPECT_TRUE(thumbnail::MeasureFrame(dim, thumbnail::FindContent(dim)).too_dark);
  EXPECT_FALSE(thumbnail::MeasureFrame(flat, thumbnail::FindContent(flat)).too_dark);
  EXPECT_LT(Score(black), Score(dim));
  // Even the worst frame that is not too dark, one fading to black, stays
  // above every dark one: the walk's promise holds.
  EXPECT_LT(Score(dim), Score(fading, &gone));
  EXPECT_LT(Score(dim), Score(flat));
}

TEST(FrameMeasures, BlackBarsAreFoundInPairsAndLeftOutOfTheMeasures) {
  const Frame scene = Scene();
  const auto boxed = [&](int top, int bottom, int left, int right) {
    return Made([&](int x, int y, uint8_t* p) {
      if (y < top || y >= kH - bottom || x < left || x >= kW - right) return Grey(p, 10);
      const uint8_t* s = &scene.bgr[(size_t{1} * y * kW + x) * 3];
      std::copy_n(s, 3, p);
    });
  };
  struct Case {
    const char* fault;
    Frame frame;
    ContentBox expected;
  } cases[] = {
      {"letterbox bars missed", boxed(11, 11, 0, 0), {0, 11, kW, 68}},
      {"pillarbox bars missed", boxed(0, 0, 20, 20), {20, 0, 120, kH}},
      {"bars of both kinds missed", boxed(6, 6, 10, 10), {10, 6, 140, 78}},
      {"a dark band on one side taken for bars", boxed(20, 0, 0, 0), {0, 0, kW, kH}},
      {"a thin strip of light taken for content in bars", boxed(40, 40, 0, 0), {0, 0, kW, kH}},
      {"a black frame cut to nothing", Made([](int, int, uint8_t* p) { Grey(p, 0); }), {0, 0, kW, kH}},
  };
  for (const Case& c : cases) {
    const ContentBox box = thumbnail::FindContent(c.frame);
    EXPECT_EQ(box.x, c.expected.x) << c.fault;
    EXPECT_EQ(box.y, c.expected.y) << c.fault;
    EXPECT_EQ(box.width, c.expected.width) << c.fault;
    EXPECT_EQ(box.height, c.expected.height) << c.fault;
  }
  // Inside its bars a letterboxed frame measures as the same content
  // would without them: the bars neither darken nor flatten it.
  const Frame letterboxed = boxed(11, 11, 0, 0);
  const auto inside = thumbnail::MeasureFrame(letterboxed, thumbnail::FindContent(letterboxed));
  const auto plain = thumbnail::MeasureFrame(scene, {0, 11, kW, 68});
  EXPECT_DOUBLE_EQ(inside.mean_byte, plain.mean_byte);
  EXPECT_DOUBLE_EQ(inside.luma_entropy, plain.luma_entropy);
  EXPECT_DOUBLE_EQ(inside.colourfulness, plain.colourfulness);
}

TEST(FrameMeasures, ChangeTellsAFadeFromMotionAndNothingFromFramesOfOtherSizes) {
  const Frame scene = Scene();
  const Frame moved = Made([&](int x, int y, uint8_t* p) {
    std::copy_n(&scene.bgr[(size_t{1} * y * kW + (x + 3) % kW) * 3], 3, p);
  });
  const ContentBox all{0, 0, kW, kH};
  const FrameChange fade = thumbnail::MeasureChange(scene, Scene(0.5), all, 500);
  const FrameChange motion = thumbnail::MeasureChange(scene, moved, all, 500);
  EXPECT_GT(fade.brightness_change, 20);
  // Frames a quarter second apart show half the fade: judged as they are,
  // a frame in a fade would pass for a still one.
  const FrameChange closer = thumbnail::MeasureChange(scene, Scene(0.75), all, 250);
  EXPECT_NEAR(closer.brightness_change, fade.brightness_change, 1.5);
  EXPECT_LT(motion.brightness_change, 2);
  EXPECT_GT(motion.mean_difference, 2);
  const FrameChange none = thumbnail::MeasureChange(scene, Made([](int, int, uint8_t* p) { Grey(p, 0); }, 80, 45), all, 500);
  EXPECT_EQ(none.mean_difference, 0);
  EXPECT_EQ(none.brightness_change, 0);
}

}  // namespace
