// The tool on an ordinary media folder: names that never clash, pictures
// kept or sent to standard output, problems reported one line each, and
// the tool's end taking its servers with it. The real server, real videos.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <fstream>
#include <thread>

#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace {

using thumbnail::Frame;

ino_t Inode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

// film.mp4 beside film.jpg, show.mkv beside show.ass, a trailer.mp4 in two
// folders and a file given twice: before, these shared pictures and the
// tool refused real videos for the sake of files that were no video at all.
TEST(ThumbnailToolNames, EveryVideoOfAMixedFolderGetsItsOwnPicture) {
  std::string folder = ScratchFolder("tool-mixed");
  std::string q = ShellQuote(folder);
  ASSERT_EQ(RunCommand("cd " + q + " && mkdir a b && cp " + ShellQuote(WideVideo()) + " film.mp4 && cp " +
                       ShellQuote(TallVideo()) + " show.mkv && cp film.mp4 a/trailer.mp4 && cp show.mkv b/trailer.mp4" +
                       " && echo jpeg > film.jpg && echo subtitles > show.ass"),
            0);
  std::string all = "film.mp4 film.jpg show.mkv show.ass a/trailer.mp4 b/trailer.mp4 film.mp4 ./film.mp4";
  struct Case {
    const char* options;
    std::string pictures;
    std::vector<std::string> failures;
  };
  const Case kCases[] = {
      // Without --tree the second trailer alone fails, and says how to keep it.
      {"",
       "film.mp4.png show.mkv.png trailer.mp4.png",
       {"thumbnail: film.jpg: ", "thumbnail: show.ass: ",
        "thumbnail: b/trailer.mp4: its picture out/trailer.mp4.png is that of a/trailer.mp4 (--tree keeps both)"}},
      {"--tree", "a b film.mp4.png show.mkv.png", {"thumbnail: film.jpg: ", "thumbnail: show.ass: "}},
  };
  for (const Case& c : kCases) {
    RunCommand("rm -rf " + ShellQuote(folder + "/out"));
    std::string errors;
    EXPECT_EQ(RunCommand("cd " + q + " && " + ShellQuote(THUMBNAIL_TOOL_PATH) + " -q -j 2 -o out " + c.options + " " +
                             all + " 2>&1",
                         &errors),
              1)
        << c.options;
    EXPECT_EQ(CountLines(errors), static_cast<int>(c.failures.size())) << c.options << "\n" << errors;
    for (const std::string& failure : c.failures)
      EXPECT_NE(errors.find(failure), std::string::npos) << c.options << ": " << failure << "\n" << errors;
    EXPECT_EQ(ListFolder(folder + "/out"), c.pictures) << c.options;
  }
  // With --tree each trailer has its own picture, of its own video.
  Frame a, b;
  ASSERT_TRUE(ReadPng(folder + "/out/a/trailer.mp4.png", &a));
  ASSERT_TRUE(ReadPng(folder + "/out/b/trailer.mp4.png", &b));
  EXPECT_EQ(a.width, 256);
  EXPECT_EQ(b.width, 144);
}

std::string Md5Of(const std::string& path) {
  std::string sum;
  RunCommand("md5sum < " + ShellQuote(path), &sum);
  return sum.substr(0, 32);
}

// Caught: --strip-extension -f jpg replaced the photo film.jpg beside
// film.mp4, even when film.jpg was itself given (and refused) as an input.
// A file is replaced only when this tool made it, or with --force, and an
// input never.
TEST(ThumbnailToolNames, NoFileTheToolDidNotMakeIsReplaced) {
  std::string folder = ScratchFolder("tool-replace");
  std::string q = ShellQuote(folder);
  struct Case {
    const char* what;
    const char* arguments;
    int status;
    const char* says;       // in the output, when not empty
    const char* untouched;  // a file whose bytes must not change, when not empty
  };
  const Case kCases[] = {
      {"a photo named as the picture", "--strip-extension -f jpg film.mp4", 1, "did not make (--force", "film.jpg"},
      {"the photo given too", "--strip-extension -f jpg film.mp4 film.jpg", 1, "would replace", "film.jpg"},
      {"--force spares an input", "--force --strip-extension -f jpg film.mp4 film.jpg", 1, "another input",
       "film.jpg"},
      {"-o naming a user's file", "-o notes.png film.mp4", 1, "did not make", "notes.png"},
      {"--force replaces it", "--force -o notes.png film.mp4", 0, "", ""},
      {"its own picture is made again", "-o notes.png film.mp4", 0, "", ""},
      {"a BMP of its own too", "-f bmp film.mp4 && " THUMBNAIL_TOOL_PATH " -q -f bmp film.mp4", 0, "", ""},
      {"a JPEG of its own too", "-o again.jpg film.mp4 && " THUMBNAIL_TOOL_PATH " -q -o again.jpg film.mp4", 0, "",
       ""},
      {"a WebP of its own too", "-Q 60 -f webp film.mp4 && " THUMBNAIL_TOOL_PATH " -q -f webp film.mp4", 0, "", ""},
      {"in one folder --tree cannot help", "--strip-extension film.mp4 film.mkv", 1,
       "without --strip-extension each has its own", ""},
      {"a thumbnail by its whole-name, unmarked", "-o old/ film.mp4", 0, "", ""},
  };
  ASSERT_EQ(RunCommand("cd " + q + " && cp " + ShellQuote(WideVideo()) + " film.mp4 && cp " + ShellQuote(WideVideo()) +
                       " film.mkv && ffmpeg -loglevel error -y -f lavfi -i color=c=red:s=32x32 -frames:v 1 film.jpg" +
                       " && echo 'a user file' > notes.png && mkdir old && cp film.jpg old/film.mp4.png"),
            0);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::string before = *c.untouched ? Md5Of(folder + "/" + c.untouched) : "";
    std::string out;
    EXPECT_EQ(RunCommand("cd " + q + " && " + THUMBNAIL_TOOL_PATH + " -q " + c.arguments + " 2>&1", &out), c.status)
        << out;
    if (*c.says) EXPECT_NE(out.find(c.says), std::string::npos) << out;
    if (*c.untouched) EXPECT_EQ(Md5Of(folder + "/" + c.untouched), before);
  }
}

TEST(ThumbnailToolNames, SkipExistingKeepsPicturesNewerThanTheirVideos) {
  std::string folder = ScratchFolder("tool-skip");
  std::string video = folder + "/clip.mp4";
  std::string picture = folder + "/out/clip.mp4.png";
  ASSERT_EQ(RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(video)), 0);
  std::string run = "-q --skip-existing -o " + ShellQuote(folder + "/out/") + " " + ShellQuote(video);
  std::string errors;
  ASSERT_EQ(RunTool(run, &errors), 0) << errors;
  ino_t first = Inode(picture);
  // A picture is written under a new name and renamed, so a new inode is
  // a new picture.
  ASSERT_EQ(RunTool(run, &errors), 0) << errors;
  EXPECT_EQ(Inode(picture), first);
  ASSERT_EQ(RunCommand("touch -d '+1 hour' " + ShellQuote(video)), 0);
  ASSERT_EQ(RunTool(run, &errors), 0) << errors;
  EXPECT_NE(Inode(picture), first);
  first = Inode(picture);
  ASSERT_EQ(RunTool("-q -o " + ShellQuote(folder + "/out/") + " " + ShellQuote(video), &errors), 0);
  EXPECT_NE(Inode(picture), first);
}

// Caught: -o - on a terminal poured PNG bytes onto it.
TEST(ThumbnailToolNames, StandardOutputIsNoTerminal) {
  std::string out;
  if (RunCommand("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) to give the tool a terminal";
  EXPECT_NE(RunCommand("script -qec " + ShellQuote(ShellQuote(THUMBNAIL_TOOL_PATH) + " -o - " + ShellQuote(WideVideo())) +
                           " /dev/null",
                       &out),
            0);
  EXPECT_NE(out.find("onto the terminal"), std::string::npos) << out;
  EXPECT_EQ(out.find("PNG"), std::string::npos);
}

TEST(ThumbnailToolNames, StandardOutputAndJpegQuality) {
  std::string folder = ScratchFolder("tool-stdout");
  std::string errors;
  ASSERT_EQ(RunCommand(ShellQuote(THUMBNAIL_TOOL_PATH) + " -q -o - " + ShellQuote(WideVideo()) + " > " +
                       ShellQuote(folder + "/p.png")),
            0);
  Frame png;
  ASSERT_TRUE(ReadPng(folder + "/p.png", &png));
  EXPECT_EQ(png.width, 256);
  off_t sizes[2] = {};
  int qualities[2] = {10, 95};
  for (int i = 0; i < 2; ++i) {
    std::string jpeg = folder + "/q" + std::to_string(qualities[i]) + ".jpg";
    ASSERT_EQ(RunCommand(ShellQuote(THUMBNAIL_TOOL_PATH) + " -q -f jpg --quality " + std::to_string(qualities[i]) +
                         " --output - " + ShellQuote(WideVideo()) + " > " + ShellQuote(jpeg)),
              0);
    Frame frame;
    ASSERT_TRUE(ReadJpeg(jpeg, &frame));
    struct stat st;
    ASSERT_EQ(::stat(jpeg.c_str(), &st), 0);
    sizes[i] = st.st_size;
  }
  EXPECT_LT(sizes[0] * 2, sizes[1]);
  // Only what was asked for went to the folder: no picture named after the video.
  EXPECT_EQ(ListFolder(folder), "p.png q10.jpg q95.jpg");
}

// Output problems are no bad options (exit 1, not 2) and are found before
// any video is decoded: the server, which here cannot even start, is never
// asked.
TEST(ThumbnailToolNames, OutputProblemsAreFoundBeforeAnyDecoding) {
  std::string folder = ScratchFolder("tool-output-problem");
  ASSERT_EQ(RunCommand("echo file > " + ShellQuote(folder + "/file")), 0);
  std::string errors;
  EXPECT_EQ(
      RunTool("-q -o " + ShellQuote(folder + "/file/sub") + " " + ShellQuote(WideVideo()) + " " + ShellQuote(TallVideo()),
              &errors, "THUMBNAIL_SERVER=/nonexistent/server"),
      1);
  EXPECT_EQ(errors, "thumbnail: cannot make the folder " + folder + "/file/sub: Not a directory\n");
  // Caught: with --json nothing was printed, and a consumer counting lines
  // lost every video.
  EXPECT_EQ(RunTool("-q --json -o " + ShellQuote(folder + "/file/sub") + " " + ShellQuote(WideVideo()) + " " +
                        ShellQuote(TallVideo()),
                    &errors, "THUMBNAIL_SERVER=/nonexistent/server"),
            1);
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '{'), 2) << errors;
  EXPECT_NE(errors.find("\"status\":\"failed\""), std::string::npos) << errors;

  // A name without an extension is a folder, for one video too.
  ASSERT_EQ(RunCommand("cd " + ShellQuote(folder) + " && " + ShellQuote(THUMBNAIL_TOOL_PATH) + " -q -o thumbs " +
                       ShellQuote(WideVideo()) + " 2>&1"),
            0);
  EXPECT_EQ(ListFolder(folder + "/thumbs"), WideVideo().substr(WideVideo().rfind('/') + 1) + ".png");
}

// Reasons that misled: a URL and a URI were "no such file", a folder got no
// hint of how its videos are done, and a long name blamed its folder.
TEST(ThumbnailToolNames, ReasonsSayWhatIsWrong) {
  std::string folder = ScratchFolder("tool-reasons");
  std::string video = folder + "/clip.mp4";
  ASSERT_EQ(RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(video)), 0);
  std::string long_name = std::string(250, 'v') + ".mp4";
  ASSERT_EQ(RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(folder + "/" + long_name)), 0);
  struct Case {
    std::string arguments;
    int status;
    std::string says;
  };
  const Case kCases[] = {
      {"http://example.com/v.mp4", 1, "a URL, not a file"},
      {"file://" + video, 0, ""},
      {ShellQuote(folder), 1, "--files-from"},
      {ShellQuote(folder + "/" + long_name), 1, "cannot write " + long_name + ".png: File name too long"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.arguments);
    std::string out;
    EXPECT_EQ(RunCommand("cd " + ShellQuote(folder) + " && " + THUMBNAIL_TOOL_PATH + " -q " + c.arguments + " 2>&1",
                         &out),
              c.status)
        << out;
    EXPECT_EQ(CountLines(out), c.status == 0 ? 0 : 1) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
  }
  EXPECT_EQ(ListFolder(folder), "clip.mp4 clip.mp4.png " + long_name) << "the URI's picture beside its file";
}

// An escape sequence in a file name would rewrite the screen, and a newline
// split the one line each failure gets.
TEST(ThumbnailToolNames, ControlCharactersInNamesReachNoTerminal) {
  std::string folder = ScratchFolder("tool-control");
  std::string odd = folder + "/bad\nname\x1b[2J.mp4";
  ASSERT_EQ(RunCommand("echo junk > " + ShellQuote(odd)), 0);
  std::string shown = folder + "/bad\\x0aname\\x1b[2J.mp4";
  std::string errors;
  EXPECT_EQ(RunTool("-q -o " + ShellQuote(folder + "/out/") + " " + ShellQuote(odd), &errors), 1);
  EXPECT_EQ(CountLines(errors), 1) << errors;
  EXPECT_EQ(errors.rfind("thumbnail: " + shown + ": ", 0), 0u) << errors;
  EXPECT_EQ(errors.find('\x1b'), std::string::npos);

  EXPECT_EQ(RunTool("--thumbnailer -s 128 " + ShellQuote(odd) + " " + ShellQuote(folder + "/t.png"), &errors), 1);
  EXPECT_EQ(CountLines(errors), 1) << errors;
  EXPECT_EQ(errors.find('\x1b'), std::string::npos);
  EXPECT_EQ(RunTool(ShellQuote("--bad\x1b[2J"), &errors), 2);
  EXPECT_EQ(errors.find('\x1b'), std::string::npos);
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::string list;
  RunCommand("grep -l '^PPid:[[:space:]]*" + std::to_string(parent) + "$' /proc/[0-9]*/status 2>/dev/null", &list);
  std::vector<pid_t> children;
  for (size_t at = 0; (at = list.find("/proc/", at)) != std::string::npos; at += 6)
    children.push_back(static_cast<pid_t>(std::stol(list.substr(at + 6))));
  return children;
}

bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  return all.empty() || all.find(") Z ") != std::string::npos;
}

// Servers stuck on a file must end with the tool, not by their own
// watchdog seconds later (or never, as this hanging stand-in would).
TEST(ThumbnailToolNames, TermAndHangupEndTheServersAtOnce) {
  std::string folder = ScratchFolder("tool-signal");
  for (int signal_number : {SIGTERM, SIGHUP}) {
    std::string a = WideVideo(), b = TallVideo();
    pid_t tool = ::fork();
    ASSERT_GE(tool, 0);
    if (tool == 0) {
      ::setenv("THUMBNAIL_SERVER", FAKE_SERVER_PATH, 1);
      ::setenv("THUMBNAIL_FAKE_MODE", "hang", 1);
      std::string out = folder + "/out/";
      ::execl(THUMBNAIL_TOOL_PATH, "thumbnail", "-q", "-j", "2", "-o", out.c_str(), a.c_str(), b.c_str(), nullptr);
      ::_exit(127);
    }
    std::vector<pid_t> servers;
    for (int i = 0; i < 500 && servers.size() < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      servers = ChildrenOf(tool);
    }
    ASSERT_EQ(servers.size(), 2u);
    ::kill(tool, signal_number);
    int status = 0;
    ASSERT_EQ(::waitpid(tool, &status, 0), tool);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    // SIGKILL went to each server before the tool ended; all that is left
    // is for the kernel to finish them.
    for (pid_t server : servers) {
      for (int i = 0; i < 300 && !Ended(server); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_TRUE(Ended(server)) << strsignal(signal_number);
      if (!Ended(server)) ::kill(server, SIGKILL);
    }
  }
}

// A tool copied elsewhere finds the server on PATH.
TEST(ThumbnailToolNames, ServerIsFoundOnPathWhenNotBesideTheTool) {
  std::string folder = ScratchFolder("tool-path");
  ASSERT_EQ(RunCommand("cp " + ShellQuote(THUMBNAIL_TOOL_PATH) + " " + ShellQuote(folder + "/thumbnail")), 0);
  std::string server_folder =
      std::string(THUMBNAIL_SERVER_PATH).substr(0, std::string(THUMBNAIL_SERVER_PATH).rfind('/'));
  std::string run = "env -u THUMBNAIL_SERVER PATH=";
  std::string tool = ShellQuote(folder + "/thumbnail") + " -q -o " + ShellQuote(folder + "/out/") + " " +
                     ShellQuote(WideVideo()) + " 2>&1";
  std::string errors;
  EXPECT_EQ(RunCommand(run + ShellQuote("/nowhere:" + server_folder) + " " + tool, &errors), 0) << errors;
  EXPECT_EQ(ListFolder(folder + "/out"), WideVideo().substr(WideVideo().rfind('/') + 1) + ".png");
  EXPECT_EQ(RunCommand(run + "/nowhere " + tool, &errors), 1);
  EXPECT_NE(errors.find("cannot find thumbnail-server"), std::string::npos) << errors;
  EXPECT_NE(errors.find("THUMBNAIL_SERVER"), std::string::npos) << errors;
}

}  // namespace
