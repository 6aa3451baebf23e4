// The sandbox in a real process: each forbidden call ends the process with
// exit code 0 through the crash filter, leaves no trace on any output and
// changes nothing on disk; what a thumbnail needs keeps working.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/platform/sandbox/sandbox_probe_codes.h"
#include "tests/support/fixtures.h"

namespace {

// Runs the probe; stdout and stderr both land in *output.
int Probe(const std::string& arguments, std::string* output) {
  return RunCommand(std::string(SANDBOX_PROBE_PATH) + " " + arguments + " 2>&1", output);
}

class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "sandbox-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::mkdir(dir_.c_str(), 0700);
    victim_ = dir_ + "/victim";
    std::ofstream(victim_) << "precious";
  }
  void TearDown() override { RunCommand("rm -rf " + ShellQuote(dir_)); }

  std::string Contents(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  std::string dir_;
  std::string victim_;
};

TEST_F(SandboxTest, ForbiddenCallsEndTheProcessSilentlyWithExitCodeZero) {
  const std::string absent = dir_ + "/absent";
  const std::string calls[] = {
      "socket",        "socketpair",   "execve",    "fork",
      "vfork",         "ptrace",       "kill-parent", "raise-limit",
      "socket-in-new-thread", "socket-in-early-thread",
      "open-write " + victim_, "open-read-write " + victim_, "open-truncate " + victim_,
      "open-create " + absent, "creat " + absent, "rename " + victim_ + " " + absent,
      "unlink " + victim_,     "mkdir " + absent, "truncate " + victim_,
  };
  for (const std::string& call : calls) {
    std::string output;
    EXPECT_EQ(Probe(call, &output), 0) << call;
    EXPECT_EQ(output, "") << call;
    EXPECT_EQ(Contents(victim_), "precious") << call;
    EXPECT_FALSE(Exists(absent)) << call;
  }
}

TEST_F(SandboxTest, ConnectToALocalPortIsRefusedBeforeAnythingConnects) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

  std::string output;
  EXPECT_EQ(Probe("connect " + std::to_string(ntohs(address.sin_port)), &output), 0);
  EXPECT_EQ(output, "");
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "the probe connected";
  ::close(listener);
}

TEST_F(SandboxTest, ReadingPipesEventThreadsMemoryAndTimeStayAllowed) {
  std::string output;
  EXPECT_EQ(Probe("allowed " + victim_, &output), kAllowedWorked);
  EXPECT_EQ(output, "");
}

}  // namespace
