// `thumbnail --cache`: the desktop thumbnail cache filled as a file manager
// reads it, on the real server and real videos.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace {

using thumbnail::Frame;

std::string Md5(const std::string& text) {
  std::string sum;
  RunCommand("printf '%s' " + ShellQuote(text) + " | md5sum", &sum);
  return sum.substr(0, 32);
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

TEST(ThumbnailToolCache, FillsTheEntriesADesktopReadsAndKeepsThemWhileCurrent) {
  std::string folder = ScratchFolder("tool-cache");
  std::string videos = folder + "/My Videos";
  std::string cache = folder + "/cache";
  ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(videos + "/sub") + " " + ShellQuote(videos + "/.hidden") +
                       " && cp " + ShellQuote(WideVideo()) + " " + ShellQuote(videos + "/clip.mp4") + " && cp " +
                       ShellQuote(WideVideo()) + " " + ShellQuote(videos + "/sub/Film (2020).MKV") + " && cp " +
                       ShellQuote(WideVideo()) + " " + ShellQuote(videos + "/.hidden/secret.mp4") +
                       " && echo notes > " + ShellQuote(videos + "/notes.txt") + " && echo junk > " +
                       ShellQuote(folder + "/junk.mp4")),
            0);
  // Desktops key entries by the MD5 of the URI as GLib writes it: blanks
  // escaped, parentheses not.
  std::string clip_uri = "file://" + folder + "/My%20Videos/clip.mp4";
  std::string film_uri = "file://" + folder + "/My%20Videos/sub/Film%20(2020).MKV";
  std::string junk_uri = "file://" + folder + "/junk.mp4";
  std::map<std::string, std::string> entries = {
      {cache + "/thumbnails/normal/" + Md5(clip_uri) + ".png", clip_uri},
      {cache + "/thumbnails/normal/" + Md5(film_uri) + ".png", film_uri}};
  std::string fail_folder = cache + "/thumbnails/fail/thumbnail-" + THUMBNAIL_VERSION;
  std::string junk_record = fail_folder + "/" + Md5(junk_uri) + ".png";

  std::string environment = "XDG_CACHE_HOME=" + ShellQuote(cache);
  std::string run = "-q --cache " + ShellQuote(videos) + " " + ShellQuote(folder + "/junk.mp4");
  std::string errors;
  // The file that is no video fails, alone, and is recorded as failed.
  EXPECT_EQ(RunTool(run, &errors, environment), 1);
  EXPECT_EQ(CountLines(errors), 1) << errors;
  EXPECT_NE(errors.find("junk.mp4"), std::string::npos) << errors;

  EXPECT_EQ(ListFolder(cache + "/thumbnails/normal"), Md5(clip_uri) < Md5(film_uri)
                                                          ? Md5(clip_uri) + ".png " + Md5(film_uri) + ".png"
                                                          : Md5(film_uri) + ".png " + Md5(clip_uri) + ".png");
  EXPECT_EQ(Stat(cache + "/thumbnails").st_mode & 0777, 0700u);
  for (const auto& [entry, uri] : entries) {
    Frame frame;
    std::map<std::string, std::string> text;
    ASSERT_TRUE(ReadPng(entry, &frame, &text)) << entry;
    EXPECT_EQ(frame.width, 128);
    EXPECT_EQ(frame.height, 72);
    EXPECT_EQ(Stat(entry).st_mode & 0777, 0600u);
    EXPECT_EQ(text["Thumb::URI"], uri);
    struct stat video = Stat(WideVideo());
    EXPECT_EQ(text["Thumb::Size"], std::to_string(video.st_size));
    EXPECT_FALSE(text["Thumb::MTime"].empty());
    EXPECT_EQ(text["Software"], std::string("thumbnail ") + THUMBNAIL_VERSION);
  }
  Frame record;
  std::map<std::string, std::string> record_text;
  ASSERT_TRUE(ReadPng(junk_record, &record, &record_text));
  EXPECT_EQ(record_text["Thumb::URI"], junk_uri);
  EXPECT_EQ(record_text["Thumb::MTime"], std::to_string(Stat(folder + "/junk.mp4").st_mtime));
  EXPECT_NE(record_text["X-Thumbnail::Failure"].find("not a video"), std::string::npos)
      << "the record says why: " << record_text["X-Thumbnail::Failure"];

  // A second run rewrites nothing: every entry keeps its inode. The failure
  // it remembers is a skip with its first reason, not a failure again
  // (caught: a cron job that failed on every run, saying "failed before").
  std::map<std::string, ino_t> inodes;
  for (const auto& [entry, uri] : entries) inodes[entry] = Stat(entry).st_ino;
  inodes[junk_record] = Stat(junk_record).st_ino;
  EXPECT_EQ(RunTool(run + " --json", &errors, environment), 0) << errors;
  EXPECT_NE(errors.find("\"status\":\"skipped\""), std::string::npos) << errors;
  EXPECT_NE(errors.find("not a video"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("thumbnail: "), std::string::npos) << errors;
  for (const auto& [entry, inode] : inodes) EXPECT_EQ(Stat(entry).st_ino, inode) << entry;
  EXPECT_EQ(RunTool(run + " --retry-failed", &errors, environment), 1);
  EXPECT_NE(Stat(junk_record).st_ino, inodes[junk_record]) << "tried again, and recorded again";

  // A video that changed gets a new entry.
  std::string clip_entry = cache + "/thumbnails/normal/" + Md5(clip_uri) + ".png";
  ASSERT_EQ(RunCommand("touch -d '+1 hour' " + ShellQuote(videos + "/clip.mp4")), 0);
  EXPECT_EQ(RunTool("-q --cache --cache-size large " + ShellQuote(videos + "/clip.mp4"), &errors, environment), 0)
      << errors;
  Frame large;
  ASSERT_TRUE(ReadPng(cache + "/thumbnails/large/" + Md5(clip_uri) + ".png", &large));
  EXPECT_EQ(large.width, 256);
  EXPECT_EQ(RunTool("-q --cache " + ShellQuote(videos + "/clip.mp4"), &errors, environment), 0) << errors;
  EXPECT_NE(Stat(clip_entry).st_ino, inodes[clip_entry]);
}

// Caught: a server that could not start (a missing library) was "the
// server crashed on it" for every video, its own words lost, and each video
// got a failure record that kept it from ever being tried again.
TEST(ThumbnailToolCache, AServerThatCannotStartStopsTheRunAndRecordsNothing) {
  std::string folder = ScratchFolder("tool-cache-no-server");
  std::string server = folder + "/broken-server";
  ASSERT_EQ(RunCommand("printf '#!/bin/sh\\necho \"broken-server: error while loading shared libraries: "
                       "libavcodec.so.59\" >&2\\nexit 127\\n' > " + ShellQuote(server) + " && chmod +x " +
                       ShellQuote(server) + " && cp " + ShellQuote(WideVideo()) + " " + ShellQuote(folder + "/a.mp4") +
                       " && cp " + ShellQuote(WideVideo()) + " " + ShellQuote(folder + "/b.mp4")),
            0);
  std::string out;
  EXPECT_EQ(RunTool("-q -j 1 --json --cache " + ShellQuote(folder + "/a.mp4") + " " + ShellQuote(folder + "/b.mp4"),
                    &out, "THUMBNAIL_SERVER=" + ShellQuote(server) + " XDG_CACHE_HOME=" + ShellQuote(folder + "/cache")),
            1);
  EXPECT_NE(out.find("cannot start the server"), std::string::npos) << out;
  EXPECT_NE(out.find("status 127: broken-server: error while loading shared libraries"), std::string::npos) << out;
  EXPECT_EQ(out.find("crashed"), std::string::npos) << out;
  EXPECT_NE(out.find("thumbnail: 1 video was not tried"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '{'), 2) << "a JSON line for each video: " << out;
  EXPECT_EQ(ListFolder(folder + "/cache/thumbnails/fail/thumbnail-" THUMBNAIL_VERSION), "");
}

}  // namespace
