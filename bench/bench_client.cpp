// Times the thumbnail server as a parent sees it. It starts the server with
// two pipes and an eventfd and asks for native-size thumbnails: command 2 with
// the path and a size of 0 x 0, the reply (1, width, height, 24), command 3
// for every row, and the event after the last row.
//
//   bench_client --server PATH [--cold] [--repeat N] [--warmup N] [--gap MS] FILE...
//
// Warm (the default): one server for every request. Each request is written
// while the previous one is still sending its rows, so the server finds it at
// its next poll without sleeping, and a request's time runs from the event
// that ended the previous request (when the server takes the command byte) to
// the event after its own last row; it includes closing the previous request.
// With --gap MS the client instead waits MS milliseconds before each request
// and times it from its command byte, so the server's idle poll pace shows.
// Warm-up rounds (default 1) are not reported.
//
// Cold (--cold): a fresh server per request, timed from the spawn to the event
// after the last row.
//
// One line per request on stdout, tab-separated: file ms WxH, or file fail
// reason. Cold lines add the server's peak resident memory in KiB; a warm run
// ends with the line "#maxrss KiB" for its server.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The longest the client waits for any part of a reply; the server's own
// watchdog ends a request after ten seconds.
constexpr auto kReplyDeadline = std::chrono::seconds(30);

void PutDword(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xff));
}

uint32_t GetDword(const uint8_t* in) {
  return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

std::string NativeRequest(const std::string& path) {
  std::string out(1, '\x02');
  out += path;
  out.push_back('\0');
  PutDword(out, 0);
  PutDword(out, 0);
  return out;
}

std::string LinesRequest(uint32_t rows) {
  std::string out(1, '\x03');
  PutDword(out, 0);
  PutDword(out, rows);
  return out;
}

const std::string kEndThumbnail(1, '\x04');
const std::string kQuit(1, '\x01');

// Waits until fd is ready for events or the deadline passes.
bool WaitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool ReadExact(int fd, void* buffer, size_t size, Clock::time_point deadline) {
  auto* at = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    if (!WaitReady(fd, POLLIN, deadline)) return false;
    const ssize_t got = read(fd, at, size);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    at += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

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
    event_ = eventfd(0, EFD_CLOEXEC);
    const std::string r = std::to_string(commands[0]);
    const std::string w = std::to_string(replies[1]);
    const std::string e = std::to_string(event_);
    pid_ = event_ < 0 ? -1 : fork();
    if (pid_ == 0) {
      // Only the child's ends cross the exec.
      for (int fd : {commands[0], replies[1], event_}) fcntl(fd, F_SETFD, 0);
      execl(program_.c_str(), program_.c_str(), "-com", r.c_str(), w.c_str(), e.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(commands[0]);
    close(replies[1]);
    commands_ = commands[1];
    replies_ = replies[0];
    events_seen_ = 0;
    replies_awaited_ = 0;
    if (pid_ < 0) {
      Stop();
      return false;
    }
    return true;
  }

  // Ends the server with the quit command, then by force if it lingers.
  // Gives its peak resident memory in KiB, or -1.
  long Stop() {
    if (commands_ >= 0) {
      WriteAll(commands_, kQuit);
      close(commands_);
      commands_ = -1;
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
      if (done == pid_) peak = usage.ru_maxrss;
      pid_ = -1;
    }
    for (int* fd : {&replies_, &event_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    return peak;
  }

  bool Send(const std::string& bytes) { return WriteAll(commands_, bytes); }
  bool Receive(void* buffer, size_t size) { return ReadExact(replies_, buffer, size, Clock::now() + kReplyDeadline); }

  // Waits for the event that ends the next reply. The eventfd adds up the
  // events not yet read, and one read may take those of later replies too,
  // so the replies are counted, not the reads.
  bool AwaitReplyEvent() {
    ++replies_awaited_;
    const auto deadline = Clock::now() + kReplyDeadline;
    while (events_seen_ < replies_awaited_) {
      uint64_t value = 0;
      if (!ReadExact(event_, &value, sizeof value, deadline)) return false;
      events_seen_ += value;
    }
    return true;
  }

 private:
  std::string program_;
  pid_t pid_ = -1;
  int commands_ = -1;
  int replies_ = -1;
  int event_ = -1;
  uint64_t events_seen_ = 0;
  uint64_t replies_awaited_ = 0;
};

struct Result {
  bool ok = false;
  const char* failure = "";
  uint32_t width = 0;
  uint32_t height = 0;
  bool sent_next = false;  // the bytes to follow went out
  Clock::time_point done;
};

// Finishes a native request whose command is already written: the size
// reply, the rows, the events. `next` goes out right behind the rows command
// (or right after a refusal), so the server finds it as soon as it is done.
Result FinishRequest(Server& server, std::vector<uint8_t>& rows, const std::string& next) {
  Result result;
  auto fail = [&result](const char* reason) {
    result.failure = reason;
    return result;
  };
  uint8_t reply[16];
  if (!server.Receive(reply, 4)) return fail("no reply");
  if (GetDword(reply) != 1) {
    result.sent_next = server.Send(next);
    if (!server.AwaitReplyEvent()) return fail("no event after refusal");
    result.done = Clock::now();
    return fail("refused");
  }
  if (!server.Receive(reply + 4, 12) || !server.AwaitReplyEvent()) return fail("short reply");
  result.width = GetDword(reply + 4);
  result.height = GetDword(reply + 8);
  const uint64_t size = uint64_t{result.width} * result.height * 3;
  if (GetDword(reply + 12) != 24 || size == 0 || size > (uint64_t{1} << 31)) return fail("bad size");
  rows.resize(size);
  if (!server.Send(LinesRequest(result.height) + next)) return fail("pipe closed");
  result.sent_next = true;
  if (!server.Receive(rows.data(), rows.size())) return fail("rows missing");
  if (!server.AwaitReplyEvent()) return fail("no event after rows");
  result.done = Clock::now();
  result.ok = true;
  return result;
}

void Report(const std::string& file, double ms, const Result& result, long peak) {
  if (!result.ok) {
    std::printf("%s\tfail\t%s\n", file.c_str(), result.failure);
  } else if (peak >= 0) {
    std::printf("%s\t%.3f\t%ux%u\t%ld\n", file.c_str(), ms, result.width, result.height, peak);
  } else {
    std::printf("%s\t%.3f\t%ux%u\n", file.c_str(), ms, result.width, result.height);
  }
  std::fflush(stdout);
}

int RunWarm(const std::string& program, const std::vector<std::string>& files, int rounds, int warmup, int gap) {
  Server server(program);
  if (!server.Start()) return std::fprintf(stderr, "bench_client: cannot start %s\n", program.c_str()), 1;
  std::vector<uint8_t> rows;
  std::vector<std::string> order;
  for (int round = 0; round < warmup + rounds; ++round) order.insert(order.end(), files.begin(), files.end());

  bool queued = false;  // the next request is already in the command pipe
  Clock::time_point start;
  for (size_t i = 0; i < order.size(); ++i) {
    if (!queued) {
      if (gap > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gap));
      start = Clock::now();
      if (!server.Send(kEndThumbnail + NativeRequest(order[i]))) {
        server.Stop();
        server.Start();
        continue;
      }
    }
    const bool queue_next = gap == 0 && i + 1 < order.size();
    const std::string next = queue_next ? kEndThumbnail + NativeRequest(order[i + 1]) : std::string();
    const Result result = FinishRequest(server, rows, next);
    const bool refused = result.failure == std::string("refused");
    queued = queue_next && result.sent_next && (result.ok || refused);
    const bool reported = i >= files.size() * warmup;
    if (reported) Report(order[i], Milliseconds(start, result.done), result, -1);
    if (result.ok || refused) {
      start = result.done;
    } else {
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
      } else if (server.Send(NativeRequest(file))) {
        result = FinishRequest(server, rows, std::string());
      }
      const long peak = server.Stop();
      Report(file, Milliseconds(start, result.done), result, peak);
    }
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr, "usage: bench_client --server PATH [--cold] [--repeat N] [--warmup N] [--gap MS] FILE...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  bool cold = false;
  int rounds = 1;
  int warmup = 1;
  int gap = 0;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    int* number = argument == "--repeat" ? &rounds : argument == "--warmup" ? &warmup : argument == "--gap" ? &gap : nullptr;
    if (argument == "--cold") {
      cold = true;
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
  if (program.empty() || files.empty() || rounds < 1 || warmup < 0 || gap < 0) return Usage();
  // A server that dies mid-request must not take the client with it.
  signal(SIGPIPE, SIG_IGN);
  return cold ? RunCold(program, files, rounds) : RunWarm(program, files, rounds, warmup, gap);
}
