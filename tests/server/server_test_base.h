// The common ground of the server's unit tests: a fake platform, the fake
// thumbnailer reset, and every trace text collected.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "tests/server/fake_platform.h"
#include "tests/server/fake_thumbnailer.h"

class ServerTest : public testing::Test {
 protected:
  ServerTest() { ResetThumbnailerFake(); }
  ~ServerTest() override { EXPECT_EQ(ThumbnailersAlive, 0) << "a thumbnailer outlived the server"; }

  bool Traced(const std::string& text) const { return std::find(traces.begin(), traces.end(), text) != traces.end(); }

  FakePlatform fake;
  std::vector<std::string> traces;
  ScopedTraceSink sink{[this](const std::string& text) { traces.push_back(text); }};
};
