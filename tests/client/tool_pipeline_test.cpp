// The tool in pipelines and spread over machines: lists of videos on
// standard input, JSON lines out, and shards that together do each video
// exactly once. The real server, real videos.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace {

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// Nine copies of a video and one file that is none, in a fresh folder.
std::string NineVideosAndJunk(const std::string& name) {
  std::string folder = ScratchFolder(name);
  for (int i = 0; i < 9; ++i)
    RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(folder + "/clip " + std::to_string(i) + ".mp4"));
  RunCommand("echo junk > " + ShellQuote(folder + "/junk.mp4"));
  return folder;
}

TEST(ThumbnailToolPipeline, FilesFromStandardInputByLinesOrNuls) {
  std::string folder = NineVideosAndJunk("tool-files-from");
  struct Case {
    const char* lister;
    const char* options;
  };
  for (const Case& c : {Case{"printf '%s\\n' clip*.mp4", "--files-from -"},
                        Case{"printf '%s\\0' clip*.mp4", "--files-from - -0"},
                        Case{"find . -name 'clip*' -print0", "--null --files-from=-"}}) {
    RunCommand("rm -rf " + ShellQuote(folder + "/out"));
    std::string errors;
    EXPECT_EQ(RunCommand("cd " + ShellQuote(folder) + " && " + c.lister + " | " + ShellQuote(THUMBNAIL_TOOL_PATH) +
                             " -q -o out " + c.options + " 2>&1",
                         &errors),
              0)
        << c.options << "\n"
        << errors;
    std::string listing = ListFolder(folder + "/out");
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '.'), 18) << c.options << ": " << listing;
  }
  std::string errors;
  // A list that is not there is a bad argument, as a bad option is.
  EXPECT_EQ(RunTool("--files-from /nonexistent/list", &errors), 2);
  EXPECT_EQ(errors.rfind("thumbnail: cannot read the list /nonexistent/list: No such file or directory\n", 0), 0u);
}

TEST(ThumbnailToolPipeline, JsonLinesSayWhatHappenedToEachVideo) {
  std::string folder = NineVideosAndJunk("tool-json");
  std::string output;
  EXPECT_EQ(RunCommand("cd " + ShellQuote(folder) + " && " + ShellQuote(THUMBNAIL_TOOL_PATH) +
                           " -q --json -o out 'clip 0.mp4' junk.mp4 './clip 0.mp4' 2>/dev/null",
                       &output),
            1);
  std::map<std::string, nlohmann::json> by_path;
  for (const nlohmann::json& line : JsonLines(output)) by_path[line["path"]] = line;
  ASSERT_EQ(by_path.size(), 3u) << "a line for every path given, a repeat too: " << output;
  EXPECT_EQ(by_path["./clip 0.mp4"]["status"], "skipped");
  EXPECT_NE(by_path["./clip 0.mp4"]["reason"].get<std::string>().find("same file as clip 0.mp4"), std::string::npos);
  nlohmann::json clip = by_path["clip 0.mp4"];
  EXPECT_EQ(clip["status"], "written");
  EXPECT_EQ(clip["picture"], "out/clip 0.mp4.png");
  EXPECT_EQ(clip["size"]["width"], 256);
  EXPECT_EQ(clip["size"]["height"], 144);
  EXPECT_TRUE(clip["reason"].is_null());
  nlohmann::json junk = by_path["junk.mp4"];
  EXPECT_EQ(junk["status"], "failed");
  EXPECT_TRUE(junk["picture"].is_null());
  EXPECT_TRUE(junk["reason"].is_string());
  EXPECT_FALSE(junk["reason"].get<std::string>().empty());

  // Caught: --skip-existing kept a picture of another size than the one
  // asked, and a kept line said no size.
  struct Again {
    const char* size;
    const char* status;
    int width;
  };
  for (Again again : {Again{"256", "kept", 256}, Again{"64", "written", 64}, Again{"64", "kept", 64}}) {
    EXPECT_EQ(RunCommand("cd " + ShellQuote(folder) + " && " + ShellQuote(THUMBNAIL_TOOL_PATH) +
                             " -q --json --skip-existing -s " + again.size + " -o out 'clip 0.mp4'",
                         &output),
              0);
    std::vector<nlohmann::json> lines = JsonLines(output);
    ASSERT_EQ(lines.size(), 1u) << output;
    EXPECT_EQ(lines[0]["status"], again.status) << again.size;
    EXPECT_EQ(lines[0]["size"]["width"], again.width) << output;
  }
}

// Three machines given one list and --shard 0/3, 1/3 and 2/3 do each video
// exactly once between them.
TEST(ThumbnailToolPipeline, ShardsDoEveryVideoExactlyOnce) {
  std::string folder = NineVideosAndJunk("tool-shards");
  std::map<std::string, int> done;
  int busy_shards = 0;
  for (int shard = 0; shard < 3; ++shard) {
    std::string output;
    RunCommand("cd " + ShellQuote(folder) + " && ls *.mp4 | " + ShellQuote(THUMBNAIL_TOOL_PATH) +
                   " -q --json --files-from - -o out --shard " + std::to_string(shard) + "/3 2>/dev/null",
               &output);
    std::vector<nlohmann::json> lines = JsonLines(output);
    busy_shards += !lines.empty();
    for (const nlohmann::json& line : lines) ++done[line["path"]];
  }
  EXPECT_EQ(done.size(), 10u);
  for (const auto& [path, times] : done) EXPECT_EQ(times, 1) << path;
  EXPECT_GE(busy_shards, 2);
}

// The choice by default and the walk one option away; --crop must cut the
// bars the choice found, and --json must tell which candidate won.
TEST(ThumbnailToolPipeline, DefaultChoosesAndTellsWhyWalkAndCropAsAsked) {
  const std::string video = Fixture(
      "tool-letterboxed.mp4",
      "-filter_complex \"color=black:s=320x180:d=3:r=25[a];testsrc2=s=320x136:d=5:r=25,pad=320:180:0:22[b];"
      "[a][b]concat=n=2\" -c:v libx264 -preset ultrafast -pix_fmt yuv420p");
  const std::string folder = ScratchFolder("tool-choice");
  std::string output;
  ASSERT_EQ(RunTool("-q --json -s 160 -o " + ShellQuote(folder + "/chosen.png") + " " + ShellQuote(video), &output), 0)
      << output;
  nlohmann::json chosen = JsonLines(output).at(0);
  ASSERT_TRUE(chosen["chosen"].is_number()) << output;
  EXPECT_EQ(chosen["chosen"], chosen["position"]);
  EXPECT_GE(chosen["chosen"].get<double>(), 3.0) << "the black lead-in was chosen";
  ASSERT_GE(chosen["candidates"].size(), 5u);
  // The winner was judged for a transition, and leads every candidate that
  // was: a score not judged is only a bound.
  double best = -10;
  for (const nlohmann::json& c : chosen["candidates"])
    if (!c["change"].is_null()) best = std::max(best, c["score"].get<double>());
  bool winner_listed = false;
  for (const nlohmann::json& c : chosen["candidates"])
    winner_listed |= c["time"] == chosen["chosen"] && !c["change"].is_null() && c["score"].get<double>() == best;
  EXPECT_TRUE(winner_listed) << output;
  EXPECT_EQ(chosen["size"]["height"], 90);

  ASSERT_EQ(RunTool("-q --json --crop -s 160 -o " + ShellQuote(folder + "/cropped.png") + " " + ShellQuote(video),
                    &output),
            0)
      << output;
  nlohmann::json cropped = JsonLines(output).at(0);
  EXPECT_EQ(cropped["size"]["width"], 160);
  EXPECT_NEAR(cropped["size"]["height"].get<int>(), 68, 2) << "the bars were kept";

  ASSERT_EQ(RunTool("-q --json --walk -s 160 -o " + ShellQuote(folder + "/walk.png") + " " + ShellQuote(video),
                    &output),
            0)
      << output;
  nlohmann::json walked = JsonLines(output).at(0);
  EXPECT_TRUE(walked["chosen"].is_null());
  EXPECT_TRUE(walked["candidates"].empty());
  EXPECT_GE(walked["position"].get<double>(), 3.0) << "the walk took a frame too dark";
}

}  // namespace
