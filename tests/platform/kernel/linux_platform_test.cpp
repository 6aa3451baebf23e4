// LinuxPlatform over real pipes and an eventfd.
#include "platform/kernel/linux_platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

HANDLE H(int fd) { return HandleFromValue(static_cast<DWORD>(fd)); }

class Pipe {
 public:
  Pipe() { EXPECT_EQ(pipe2(fds_, O_CLOEXEC), 0); }
  ~Pipe() {
    CloseReader();
    CloseWriter();
  }
  int reader() const { return fds_[0]; }
  int writer() const { return fds_[1]; }
  void CloseReader() { Close(fds_[0]); }
  void CloseWriter() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int fds_[2] = {-1, -1};
};

TEST(LinuxPlatform, PeekCountsWaitingBytesAndFailsOnlyOnABrokenPipe) {
  LinuxPlatform platform;
  Pipe p;
  BYTE byte = 0;
  DWORD copied = 99, total = 99;
  EXPECT_TRUE(platform.PeekNamedPipe(H(p.reader()), &byte, 1, &copied, &total));
  EXPECT_EQ(copied, 0u);
  EXPECT_EQ(total, 0u);

  ASSERT_EQ(write(p.writer(), "abc", 3), 3);
  EXPECT_TRUE(platform.PeekNamedPipe(H(p.reader()), &byte, 1, &copied, &total));
  EXPECT_EQ(copied, 1u);
  EXPECT_EQ(total, 3u);

  // Bytes written before the writer left are still there to be taken.
  p.CloseWriter();
  EXPECT_TRUE(platform.PeekNamedPipe(H(p.reader()), &byte, 1, &copied, &total));
  EXPECT_EQ(total, 3u);
  char buffer[3];
  DWORD read = 0;
  EXPECT_TRUE(platform.ReadFile(H(p.reader()), buffer, 3, &read));
  EXPECT_EQ(read, 3u);
  EXPECT_FALSE(platform.PeekNamedPipe(H(p.reader()), &byte, 1, &copied, &total));
  EXPECT_EQ(copied, 0u);

  // End of pipe reads as no bytes.
  EXPECT_TRUE(platform.ReadFile(H(p.reader()), buffer, 1, &read));
  EXPECT_EQ(read, 0u);
}

// The idle poll waits here, so a command written during the wait must end it
// rather than wait out the interval.
TEST(LinuxPlatform, WaitForPipeInputEndsOnInputOrHangupAndLeavesTheBytes) {
  LinuxPlatform platform;
  Pipe p;
  const DWORD before = platform.GetTickCount();
  platform.WaitForPipeInput(H(p.reader()), 20);
  EXPECT_GE(platform.GetTickCount() - before, 20u);

  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(write(p.writer(), "x", 1), 1);
  });
  const DWORD start = platform.GetTickCount();
  platform.WaitForPipeInput(H(p.reader()), 60000);
  writer.join();
  EXPECT_LT(platform.GetTickCount() - start, 30000u);
  BYTE byte = 0;
  DWORD copied = 0, total = 0;
  EXPECT_TRUE(platform.PeekNamedPipe(H(p.reader()), &byte, 1, &copied, &total));
  EXPECT_EQ(total, 1u);

  char taken;
  DWORD read = 0;
  ASSERT_TRUE(platform.ReadFile(H(p.reader()), &taken, 1, &read));
  p.CloseWriter();
  const DWORD hangup = platform.GetTickCount();
  platform.WaitForPipeInput(H(p.reader()), 60000);
  EXPECT_LT(platform.GetTickCount() - hangup, 30000u);
}

TEST(LinuxPlatform, BadHandlesFail) {
  LinuxPlatform platform;
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(fd);  // a number that is surely closed now
  BYTE byte;
  DWORD n = 0;
  EXPECT_FALSE(platform.PeekNamedPipe(H(fd), &byte, 1, &n, nullptr));
  EXPECT_FALSE(platform.ReadFile(H(fd), &byte, 1, &n));
  EXPECT_FALSE(platform.WriteFile(H(fd), &byte, 1, &n));
  EXPECT_FALSE(platform.SetEvent(H(fd)));
  EXPECT_FALSE(platform.CloseHandle(H(fd)));
}

// A parent may hand the server descriptors it made non-blocking. A read that
// finds nothing yet must wait for the bytes, not report the parent gone; a
// write that finds the pipe full must wait for room, not drop the rest of a
// reply.
const bool kBlocking[] = {true, false};

void SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL);
  ASSERT_EQ(fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK), 0);
}

TEST(LinuxPlatform, WriteLoopsUntilAllIsOut) {
  for (bool blocking : kBlocking) {
    SCOPED_TRACE(blocking ? "blocking" : "non-blocking");
    LinuxPlatform platform;
    Pipe p;
    SetBlocking(p.writer(), blocking);
    std::vector<BYTE> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 13);
    std::vector<BYTE> got;
    std::thread reader([&] {
      // Late, so that the writer surely finds the pipe full.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      BYTE buffer[4096];
      ssize_t n;
      while ((n = read(p.reader(), buffer, sizeof buffer)) > 0) got.insert(got.end(), buffer, buffer + n);
    });
    DWORD written = 0;
    EXPECT_TRUE(platform.WriteFile(H(p.writer()), data.data(), static_cast<DWORD>(data.size()), &written));
    EXPECT_EQ(written, data.size());
    p.CloseWriter();
    reader.join();
    EXPECT_EQ(got, data);
  }
}

TEST(LinuxPlatform, ReadWaitsForBytesThatAreNotThereYet) {
  for (bool blocking : kBlocking) {
    SCOPED_TRACE(blocking ? "blocking" : "non-blocking");
    LinuxPlatform platform;
    Pipe p;
    SetBlocking(p.reader(), blocking);
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      EXPECT_EQ(write(p.writer(), "abc", 3), 3);
      p.CloseWriter();
    });
    char buffer[8];
    DWORD read = 0;
    EXPECT_TRUE(platform.ReadFile(H(p.reader()), buffer, sizeof buffer, &read));
    writer.join();
    EXPECT_EQ(read, 3u);
    // The end of the pipe still reads as no bytes.
    EXPECT_TRUE(platform.ReadFile(H(p.reader()), buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
  }
}

TEST(LinuxPlatform, WriteToAPipeWithoutReaderFailsInsteadOfEndingTheProcess) {
  LinuxPlatform platform;
  Pipe p;
  p.CloseReader();
  DWORD written = 7;
  EXPECT_FALSE(platform.WriteFile(H(p.writer()), "x", 1, &written));
  EXPECT_EQ(written, 0u);
}

TEST(LinuxPlatform, SetEventAddsOneToAnEventfd) {
  LinuxPlatform platform;
  int event = eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(event, 0);
  EXPECT_TRUE(platform.SetEvent(H(event)));
  EXPECT_TRUE(platform.SetEvent(H(event)));
  uint64_t count = 0;
  ASSERT_EQ(read(event, &count, sizeof count), 8);
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(platform.CloseHandle(H(event)));
}

TEST(LinuxPlatform, ModuleLoaderFindsTheDirectXStandInsByWindowsName) {
  LinuxPlatform platform;
  HMODULE ddraw = platform.LoadLibraryA("ddraw.dll");
  ASSERT_NE(ddraw, nullptr);
  EXPECT_NE(platform.GetProcAddress(ddraw, "DirectDrawCreate"), nullptr);
  EXPECT_EQ(platform.GetProcAddress(ddraw, "DirectInputCreateA"), nullptr);
  EXPECT_TRUE(platform.FreeLibrary(ddraw));
  EXPECT_EQ(platform.LoadLibraryA("KERNEL32.DLL"), nullptr);
}

// Recurses until the stack runs out. The volatile frame keeps the compiler
// from turning the recursion into a loop.
int Overflow(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return depth < 0 ? 0 : Overflow(depth + 1) + frame[0];
}

void OverflowOnThisThread() { Overflow(0); }

void OverflowThroughThePlatform() {
  LinuxPlatform platform;
  platform.StartThread([](void*) { Overflow(0); }, nullptr);
  pause();
}

// As FFmpeg starts its decoder threads: straight through pthread_create.
void OverflowOnAThreadOfALibrary() {
  pthread_t thread;
  pthread_create(
      &thread, nullptr,
      [](void*) -> void* {
        Overflow(0);
        return nullptr;
      },
      nullptr);
  pause();
}

// A signal that finds no alternate stack on an overflowed thread cannot be
// handled, and the kernel ends the process by that signal instead.
TEST(LinuxPlatformDeathTest, StackOverflowOnAnyThreadEndsWithCodeZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::pair<const char*, void (*)()> kThreads[] = {
      {"main thread", OverflowOnThisThread},
      {"thread of the platform", OverflowThroughThePlatform},
      {"thread of a library", OverflowOnAThreadOfALibrary},
  };
  for (const auto& [name, overflow] : kThreads) {
    SCOPED_TRACE(name);
    EXPECT_EXIT(
        {
          LinuxPlatform platform;
          platform.SetUnhandledExceptionFilter(nullptr);
          overflow();
        },
        testing::ExitedWithCode(0), "");
  }
}

}  // namespace
