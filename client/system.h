// The calls of the operating system the client makes that differ between
// Unix systems: error and signal names, the paths /proc gives on Linux, and
// starting a server with its channel. system_linux.cpp holds them for Linux;
// a port to another Unix gives this header a file of its own and names it in
// CMakeLists.txt.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace thumbnail {

// The text of an errno value, without the number: "No such file or
// directory".
std::string ErrorText(int error);

// The abbreviation of a signal, with its prefix: "SIGKILL"; "SIG?" when the
// number is not a signal's.
std::string SignalName(int signal_number);

// This program's own file, or "" when the system cannot tell.
std::string OwnExecutablePath();

// A path by which another process opens the file this process holds open as
// fd, however long the file's own path is.
std::string PathOfOpenDescriptor(int fd);

// The mode bits the umask leaves of 0666, learnt without setting the umask
// (which would race with files made by other threads).
mode_t NewFileMode();

// write(2) to a pipe whose reader may be gone: that fails with EPIPE
// instead of raising SIGPIPE, which would end the host program.
ssize_t WriteWithoutSigpipe(int fd, const void* bytes, size_t size);

// A pipe, both ends close-on-exec. 0 or an errno value.
int MakePipe(int ends[2]);

// The event the server sets after each reply: ends[0] is the parent's to
// wait on (readable once set, non-blocking), ends[1] the one the child
// inherits; both close-on-exec. 0 or an errno value.
int MakeReplyEvent(int ends[2]);
// Takes every setting of the event since the last; false when it was not
// set.
bool TakeReplyEvent(int parent_end);

// Starts path with arguments (argv[0] is path). The child keeps exactly the
// descriptors of `inherited`: each pair is a descriptor of this process,
// numbered above every child number so that placing one overwrites no other,
// and the number it gets in the child. Standard descriptors not among them
// are /dev/null. The child starts with no signal blocked and every handler
// at its default.
// 0 or an errno value.
int SpawnWithDescriptors(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::pair<int, int>>& inherited, pid_t* pid);

// The processors this thread may run on, in ascending order; empty when the
// system cannot tell.
std::vector<int> AllowedProcessors();
// Keeps the calling thread to `processors`. 0 or an errno value.
int KeepThreadTo(const std::vector<int>& processors);

}  // namespace thumbnail
