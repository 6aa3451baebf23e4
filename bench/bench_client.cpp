// Times the thumbnail server as a parent sees it. It starts the server with
// two pipes and an eventfd and asks for native-size thumbnails: command 2 with
// the path and a size of 0 x 0, the reply (1, width, height, 24), command 3
// for every row, and the event after the last row.
//
//   bench_client --server PATH [--cold] [--repeat N] [--warmup N] FILE...
//   bench_client --server PATH --serve
//
// Warm (the default): one server for every request. Each request goes out as
// the status command, the end of the previous request and the new request in
// one write; the status reply shows the moment the server took the bytes, so
// a request's time runs from that reply to the event after its last row, and
// the server's idle poll pace (up to 50 ms before it notices a command) stays
// out of it. That pace is reported apart: the time from the write itself.
// Warm-up rounds (default 1) are not reported. With --serve the paths come
// from stdin, one a line, each answered at once, so that a driver can
// interleave the server with other programs under the same load.
//
// Cold (--cold): a fresh server per request, timed from the spawn to the event
// after the last row.
//
// One line per request on stdout, tab-separated: file ms WxH, then for a warm
// request the ms from the write and for a cold one the server's peak resident
// memory in KiB, then the processor time the server spent on the request in
// ms (for a warm one in the kernel's 10 ms ticks); a failure is
// "file fail reason". A warm run ends with the
// line "#maxrss KiB" for its server.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/descriptor_ends.h"
#include "protocol/messages.h"
#include "protocol/parent_channel.h"

namespace {

using Clock = wire::Clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The longest the client waits for any part of a reply; the server's own
// watchdog ends a request after ten seconds.
constexpr auto kReplyDeadline = std::chrono::seconds(30);

// The status command, the end of the previous request and a native-size
// request for path, in one write.
std::vector<uint8_t> StatusAndNativeRequest(const std::string& path) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& command :
       {wire::EncodeRequest(wire::StatusRequest{}), wire::EncodeRequest(wire::EndThumbnailRequest{}),
        wire::EncodeRequest(wire::ThumbnailRequest{path, 0, 0, std::nullopt})})
    out.insert(out.end(), command.begin(), command.end());
  return out;
}

bool Ok(wire::ChannelResult result) { return result == wire::ChannelResult::kOk; }

// One server child and the parent's ends of its channel.
class Server {
 public:
  explicit Server(std::string program) : program_(std::move(program)) {}
  ~Server() { Stop(); }

  bool Start() {
    int commands[2];
    int replies[2];
    if (pipe2(commands, O_CLOEXEC) != 0) return false;
    if (pipe2(replies, O_CLOEXEC) != 0) {
      close(commands[0]);
      close(commands[1]);
      return false;
    }
    const int event = eventfd(0, EFD_CLOEXEC);
    const std::string r = std::to_string(commands[0]);
    const std::string w = std::to_string(replies[1]);
    const std::string e = std::to_string(event);
    pid_ = event < 0 ? -1 : fork();
    if (pid_ == 0) {
      // Only the child's ends cross the exec.
      for (int fd : {commands[0], replies[1], event}) fcntl(fd, F_SETFD, 0);
      execl(program_.c_str(), program_.c_str(), "-com", r.c_str(), w.c_str(), e.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(commands[0]);
    close(replies[1]);
    channel_.reset();
    ends_ = std::make_unique<wire::DescriptorEnds>(commands[1], replies[0], event);
    channel_ = std::make_unique<wire::ParentChannel>(*ends_);
    if (pid_ < 0) {
      Stop();
      return false;
    }
    return true;
  }

  // Ends the server with the quit command, then by force if it lingers.
  // Gives its peak resident memory in KiB, or -1.
  long Stop() {
    if (channel_) {
      channel_->Send(wire::QuitRequest{}, Clock::now() + kReplyDeadline);
      ends_->CloseCommand();
    }
    long peak = -1;
    if (pid_ > 0) {
      const auto deadline = Clock::now() + std::chrono::seconds(3);
      int status = 0;
      rusage usage{};
      pid_t done = 0;
      while ((done = wait4(pid_, &status, WNOHANG, &usage)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (done == 0) {
        kill(pid_, SIGKILL);
        done = wait4(pid_, &status, 0, &usage);
      }
      if (done == pid_) {
        peak = usage.ru_maxrss;
        ended_cpu_ms_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
      }
      pid_ = -1;
    }
    if (ends_) ends_->CloseAll();
    return peak;
  }

  // The processor time of the server so far, all its threads, in ms; the
  // kernel counts it in ticks of 10 ms. -1 when it cannot be read.
  double CpuMilliseconds() const {
    char name[64];
    std::snprintf(name, sizeof name, "/proc/%d/stat", static_cast<int>(pid_));
    FILE* file = std::fopen(name, "r");
    if (!file) return -1;
    char text[1024] = {};
    const size_t got = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    // The fields after the command name, which ends at the last ')':
    // state is field 3, utime 14 and stime 15.
    const char* at = std::strrchr(text, ')');
    if (!at || got == 0) return -1;
    unsigned long utime = 0, stime = 0;
    if (std::sscanf(at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return -1;
    return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  // The server's processor time in ms, from its end (see Stop).
  double ended_cpu_ms() const { return ended_cpu_ms_; }

  // The channel of the running server; each of its waits may take up to
  // kReplyDeadline.
  wire::ParentChannel& channel() { return *channel_; }

 private:
  std::string program_;
  pid_t pid_ = -1;
  std::unique_ptr<wire::DescriptorEnds> ends_;
  std::unique_ptr<wire::ParentChannel> channel_;
  double ended_cpu_ms_ = -1;
};

struct Result {
  bool ok = false;
  const char* failure = "";
  uint32_t width = 0;
  uint32_t height = 0;
  Clock::time_point sent;   // the request was written
  Clock::time_point taken;  // the server was seen to take it
  Clock::time_point done;
};

// One native request on a running server, timed; a request that follows
// another ends it first.
Result Request(Server& server, const std::string& path, std::vector<uint8_t>& rows) {
  Result result;
  auto fail = [&result](const char* reason) {
    result.failure = reason;
    return result;
  };
  // Several replies are in flight at once: each event is taken as the next
  // reply's, never as the end of the only one.
  wire::ParentChannel& channel = server.channel();
  auto in = [] { return Clock::now() + kReplyDeadline; };
  wire::StatusReply status;
  wire::ThumbnailReply reply;
  result.sent = Clock::now();
  if (!Ok(channel.SendBytes(StatusAndNativeRequest(path), in()))) return fail("pipe closed");
  if (!Ok(channel.Receive(&status, in())) || !Ok(channel.AwaitEvent(in()))) return fail("no status reply");
  result.taken = Clock::now();
  if (!Ok(channel.Receive(&reply, in()))) return fail("no reply");
  if (reply.result != 1) {
    if (!Ok(channel.AwaitEvent(in()))) return fail("no event after refusal");
    result.done = Clock::now();
    return fail("refused");
  }
  if (!Ok(channel.AwaitEvent(in()))) return fail("short reply");
  result.width = reply.width;
  result.height = reply.height;
  const uint64_t size = uint64_t{result.width} * result.height * 3;
  if (reply.bits != 24 || size == 0 || size > (uint64_t{1} << 31)) return fail("bad size");
  rows.resize(size);
  if (!Ok(channel.Send(wire::GetLinesRequest{0, result.height}, in()))) return fail("pipe closed");
  if (!Ok(channel.ReceiveRows(rows.data(), rows.size(), in()))) return fail("rows missing");
  if (!Ok(channel.AwaitEvent(in()))) return fail("no event after rows");
  result.done = Clock::now();
  result.ok = true;
  return result;
}

void Report(const std::string& file, const Result& result, Clock::time_point from, long extra, double cpu_ms) {
  if (!result.ok) {
    std::printf("%s\tfail\t%s\n", file.c_str(), result.failure);
  } else {
    std::printf("%s\t%.3f\t%ux%u\t%ld\t%.1f\n", file.c_str(), Milliseconds(from, result.done), result.width,
                result.height, extra, cpu_ms);
  }
  std::fflush(stdout);
}

// Paths from the command line, rounds over, or from stdin. While it waits
// for stdin it calls `idle` every kKeepAlive, so that a server left waiting
// for the next request does not reach its ten-second idle end.
class PathSource {
 public:
  static constexpr int kKeepAliveMs = 3000;

  PathSource(const std::vector<std::string>& files, int rounds, bool serve) : files_(files), rounds_(rounds), serve_(serve) {}

  template <typename Idle>
  bool Next(std::string& path, Idle idle) {
    if (!serve_) {
      if (next_ == files_.size() * rounds_) return false;
      path = files_[next_++ % files_.size()];
      return true;
    }
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        path = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!path.empty() && path.back() == '\r') path.pop_back();
        return true;
      }
      pollfd entry{STDIN_FILENO, POLLIN, 0};
      const int ready = poll(&entry, 1, kKeepAliveMs);
      if (ready == 0) {
        idle();
        continue;
      }
      if (ready < 0 && errno == EINTR) continue;
      char chunk[4096];
      const ssize_t got = ready < 0 ? -1 : read(STDIN_FILENO, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      pending_.append(chunk, static_cast<size_t>(got));
    }
  }
  // Whether the path last given belongs to a warm-up round.
  bool WarmingUp(int warmup) const { return !serve_ && next_ <= files_.size() * warmup; }

 private:
  const std::vector<std::string>& files_;
  size_t rounds_;
  bool serve_;
  size_t next_ = 0;
  std::string pending_;
};

int RunWarm(const std::string& program, PathSource& paths, int warmup) {
  Server server(program);
  if (!server.Start()) return std::fprintf(stderr, "bench_client: cannot start %s\n", program.c_str()), 1;
  std::vector<uint8_t> rows;
  std::string path;
  auto keep_alive = [&server] {
    wire::StatusReply status;
    server.channel().Ask(wire::StatusRequest{}, &status, Clock::now() + kReplyDeadline);
  };
  while (paths.Next(path, keep_alive)) {
    const double cpu_start = server.CpuMilliseconds();
    const Result result = Request(server, path, rows);
    const double cpu = server.CpuMilliseconds() - cpu_start;
    if (!paths.WarmingUp(warmup)) {
      const long sent_ms = std::lround(Milliseconds(result.sent, result.done));
      Report(path, result, result.taken, sent_ms, cpu);
    }
    if (!result.ok && result.failure != std::string("refused")) {
      // The server is gone or out of step: carry on with a fresh one.
      server.Stop();
      if (!server.Start()) return 1;
    }
  }
  std::printf("#maxrss\t%ld\n", server.Stop());
  return 0;
}

int RunCold(const std::string& program, const std::vector<std::string>& files, int rounds) {
  std::vector<uint8_t> rows;
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& file : files) {
      Server server(program);
      const auto start = Clock::now();
      Result result;
      if (!server.Start()) {
        result.failure = "cannot start";
      } else {
        result = Request(server, file, rows);
      }
      const long peak = server.Stop();
      Report(file, result, start, peak, server.ended_cpu_ms());
    }
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_client --server PATH [--cold] [--repeat N] [--warmup N] FILE...\n"
               "       bench_client --server PATH --serve\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  bool cold = false;
  bool serve = false;
  int rounds = 1;
  int warmup = 1;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    int* number = argument == "--repeat" ? &rounds : argument == "--warmup" ? &warmup : nullptr;
    if (argument == "--cold" || argument == "--serve") {
      (argument == "--cold" ? cold : serve) = true;
    } else if (argument == "--server" || number) {
      if (++i == argc) return Usage();
      if (number) {
        *number = std::atoi(argv[i]);
      } else {
        program = argv[i];
      }
    } else if (argument.starts_with("--")) {
      return Usage();
    } else {
      files.push_back(argument);
    }
  }
  if (program.empty() || files.empty() == !(serve && !cold) || rounds < 1 || warmup < 0) return Usage();
  // A server that dies mid-request must not take the client with it.
  signal(SIGPIPE, SIG_IGN);
  if (cold) return RunCold(program, files, rounds);
  PathSource paths(files, serve ? 0 : warmup + rounds, serve);
  return RunWarm(program, paths, serve ? 0 : warmup);
}
