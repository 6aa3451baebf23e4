// The parent's hand-over of a file: one message on the hand-over socket, one
// descriptor in it. Everything that can go wrong with the message is told
// apart, and every descriptor that came is either held or closed here, so a
// parent that sends too many, or a file the server will not read, leaks
// nothing into the server.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "platform/kernel/linux_platform.h"

namespace {

// Room for a few descriptors, so that a message with too many is seen as
// such rather than only as cut short.
constexpr int kRoomForDescriptors = 4;

HandOver Judge(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return HandOver::kNotReadable;
  if (!S_ISREG(st.st_mode)) return HandOver::kNotRegularFile;
  const int flags = ::fcntl(fd, F_GETFL);
  // A write-only descriptor, or one that only names a file (O_PATH), reads nothing.
  if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY || (flags & O_PATH)) return HandOver::kNotReadable;
  return HandOver::kHeld;
}

}  // namespace

HandOver LinuxPlatform::ReceiveFile(HANDLE socket, ULONGLONG readBudget) {
  handed_file::Drop();
  const int sock = DescriptorOf(socket);
  if (sock <= 0) return HandOver::kNothing;
  char byte = 0;
  iovec iov{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kRoomForDescriptors)];
  msghdr message{};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got;
  do {
    got = ::recvmsg(sock, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return HandOver::kNothing;

  // Every descriptor the message carried, whatever else is wrong with it.
  int fds[kRoomForDescriptors * 2];
  int count = 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < n && count < static_cast<int>(std::size(fds)); ++i)
      std::memcpy(&fds[count++], CMSG_DATA(c) + i * sizeof(int), sizeof(int));
  }
  auto closeAll = [&](HandOver told) {
    for (int i = 0; i < count; ++i) ::close(fds[i]);
    return told;
  };
  if (message.msg_flags & MSG_CTRUNC) return closeAll(HandOver::kCutShort);
  if (count == 0) return HandOver::kNothing;
  if (count > 1) return closeAll(HandOver::kSeveral);
  const HandOver judged = Judge(fds[0]);
  if (judged != HandOver::kHeld) return closeAll(judged);
  handed_file::Hold(fds[0], readBudget);
  return HandOver::kHeld;
}

void LinuxPlatform::DropHandedFile() { handed_file::Drop(); }

ReadTally LinuxPlatform::LastReadTally() { return handed_file::Tally(); }

