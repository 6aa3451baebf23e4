#include "server_child.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>


namespace {

std::string ServerPath() {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "thumbnail-server.exe";
}

// An anonymous pipe whose child end alone is inherited.
bool MakePipe(HANDLE* childEnd, HANDLE* parentEnd, bool childReads) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
  *childEnd = childReads ? readEnd : writeEnd;
  *parentEnd = childReads ? writeEnd : readEnd;
  SetHandleInformation(*parentEnd, HANDLE_FLAG_INHERIT, 0);
  return true;
}

unsigned long Value(HANDLE h) { return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h)); }

}  // namespace

ServerChild::ServerChild() {
  HANDLE childRead = nullptr, childWrite = nullptr;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  reply_event_ = CreateEventA(&inherit, FALSE, FALSE, nullptr);
  if (!reply_event_ || !MakePipe(&childRead, &to_server_, true) || !MakePipe(&childWrite, &from_server_, false))
    return;
  char command[512];
  std::snprintf(command, sizeof command, "\"%s\" -com %lu %lu %lu", ServerPath().c_str(), Value(childRead),
                Value(childWrite), Value(reply_event_));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    process_ = info.hProcess;
    CloseHandle(info.hThread);
  }
  // The child holds its own copies now; ours would keep the pipes open after
  // it is gone.
  CloseHandle(childRead);
  CloseHandle(childWrite);
}

ServerChild::~ServerChild() {
  if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
  }
  for (HANDLE h : {process_, to_server_, from_server_, reply_event_})
    if (h) CloseHandle(h);
}

wire::ChannelResult ServerChild::Write(const uint8_t* bytes, size_t size, wire::Clock::time_point) {
  // The pipe has room for any command; a write fails only when the server
  // has gone.
  DWORD written = 0;
  return WriteFile(to_server_, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size
             ? wire::ChannelResult::kOk
             : wire::ChannelResult::kGone;
}

DWORD ServerChild::Waiting() {
  DWORD available = 0;
  if (!PeekNamedPipe(from_server_, nullptr, 0, nullptr, &available, nullptr)) return 0;
  return available;
}

wire::ChannelResult ServerChild::Read(uint8_t* out, size_t size, wire::Clock::time_point deadline) {
  size_t have = 0;
  while (have < size) {
    DWORD available = 0;
    if (!PeekNamedPipe(from_server_, nullptr, 0, nullptr, &available, nullptr)) return wire::ChannelResult::kGone;
    if (available == 0) {
      if (wire::Clock::now() > deadline) return wire::ChannelResult::kTimedOut;
      Sleep(2);
      continue;
    }
    DWORD want = static_cast<DWORD>(size - have < available ? size - have : available);
    DWORD read = 0;
    if (!ReadFile(from_server_, out + have, want, &read, nullptr) || read == 0) return wire::ChannelResult::kGone;
    have += read;
  }
  return wire::ChannelResult::kOk;
}

wire::ChannelResult ServerChild::TakeEvent(wire::Clock::time_point deadline, bool alone, uint64_t* settings) {
  *settings = 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - wire::Clock::now()).count();
  if (WaitForSingleObject(reply_event_, left > 0 ? static_cast<DWORD>(left) : 0) != WAIT_OBJECT_0)
    return wire::ChannelResult::kTimedOut;
  *settings = 1;
  return alone && Waiting() > 0 ? wire::ChannelResult::kOverrun : wire::ChannelResult::kOk;
}

long ServerChild::WaitExit(DWORD timeoutMs) {
  if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<long>(code);
}

std::string FixturePath(const std::string& name) {
  const char* folder = std::getenv("THUMBNAIL_FIXTURES");
  return std::string(folder ? folder : ".") + "\\" + name;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + n);
    std::fclose(f);
  }
  return bytes;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}
