#include "protocol/file_hand_over.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace wire {

int MakeHandOverSockets(int ends[2]) {
  return ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0 ? 0 : errno;
}

int SendDescriptors(int socket, const int* fds, size_t count) {
  char byte = 'f';
  iovec iov{&byte, 1};
  msghdr message{};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  std::vector<char> control(count ? CMSG_SPACE(sizeof(int) * count) : 0);
  if (count) {
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int) * count);
    std::memcpy(CMSG_DATA(c), fds, sizeof(int) * count);
  }
  ssize_t sent;
  do {
    sent = ::sendmsg(socket, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == 1 ? 0 : sent < 0 ? errno : EIO;
}

}  // namespace wire
