// Random byte streams on the command pipe of a TThumbnailServer over
// in-memory pipes: no crash, no access outside a buffer (the sanitizers), and
// every reply exactly as long as the protocol says, with the event set once
// after it. Paths in the stream may name the small videos in the folder the
// harness runs in (FUZZ_MEDIA_DIR), so real frames go out as rows too.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/com/com_runtime.h"
#include "platform/gdi/bitmap.h"
#include "platform/media/graph/media_classes.h"
#include "protocol/messages.h"
#include "server/thumbnail_server.h"

namespace {

constexpr DWORD kReadPipe = 3;
constexpr DWORD kWritePipe = 4;
constexpr DWORD kReplyEvent = 5;
// More reply than this is cut short: a GetLines of four billion rows is legal.
constexpr size_t kOutputBudget = size_t{2} << 20;

struct OutputBudgetSpent {};

// Pipes in memory, a clock that moves only when the server sleeps, no
// watchdog thread, and a process end that the harness sees.
class FuzzPlatform final : public Platform {
 public:
  FuzzPlatform(const uint8_t* data, size_t size) : input_(data), size_(size) {}

  size_t consumed() const { return offset_; }
  bool drained() const { return offset_ == size_; }
  const std::vector<uint8_t>& output() const { return output_; }
  int events() const { return events_; }

  BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) override {
    if (!Is(file, kReadPipe)) __builtin_trap();
    size_t n = std::min<size_t>(toRead, size_ - offset_);
    std::memcpy(buffer, input_ + offset_, n);
    offset_ += n;
    *read = static_cast<DWORD>(n);
    return TRUE;
  }
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) override {
    if (!Is(file, kWritePipe)) __builtin_trap();
    if (output_.size() + toWrite > kOutputBudget) throw OutputBudgetSpent{};
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    output_.insert(output_.end(), bytes, bytes + toWrite);
    *written = toWrite;
    return TRUE;
  }
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* total) override {
    if (!Is(pipe, kReadPipe)) __builtin_trap();
    size_t left = size_ - offset_;
    size_t n = std::min<size_t>(bufferSize, left);
    if (n) std::memcpy(buffer, input_ + offset_, n);
    if (read) *read = static_cast<DWORD>(n);
    if (total) *total = static_cast<DWORD>(left);
    return TRUE;
  }
  BOOL SetEvent(HANDLE event) override {
    if (!Is(event, kReplyEvent)) __builtin_trap();
    ++events_;
    return TRUE;
  }
  BOOL CloseHandle(HANDLE) override { return TRUE; }
  DWORD GetTickCount() override { return now_; }
  void Sleep(DWORD milliseconds) override { now_ += milliseconds; }
  void WaitForPipeInput(HANDLE, DWORD milliseconds) override { now_ += milliseconds; }
  bool StartThread(void (*)(void*), void*) override { return false; }
  void SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER) override {}
  void TerminateProcess(UINT) override { __builtin_trap(); }
  void ExitProcess(UINT) override { __builtin_trap(); }
  HRESULT CoInitialize(void* reserved) override { return ::CoInitialize(reserved); }
  void CoUninitialize() override { ::CoUninitialize(); }
  HBITMAP CreateBitmap(int w, int h, UINT planes, UINT bits, const void* data) override {
    return ::CreateBitmap(w, h, planes, bits, data);
  }
  int GetObjectA(HGDIOBJ object, int size, void* out) override { return ::GetObjectA(object, size, out); }
  BOOL DeleteObject(HGDIOBJ object) override { return ::DeleteObject(object); }
  HMODULE LoadLibraryA(LPCSTR) override { return nullptr; }
  FARPROC GetProcAddress(HMODULE, LPCSTR) override { return nullptr; }
  BOOL FreeLibrary(HMODULE) override { return FALSE; }

 private:
  static bool Is(HANDLE handle, DWORD value) { return handle == HandleFromValue(value); }

  const uint8_t* input_;
  size_t size_;
  size_t offset_ = 0;
  std::vector<uint8_t> output_;
  int events_ = 0;
  DWORD now_ = 1000;
};

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// The whole of `bytes` read as one message, or nothing when they are fewer
// or more than it.
template <typename Message>
std::optional<Message> Whole(Message message, const uint8_t* bytes, size_t size) {
  wire::ByteSource source(bytes, size);
  if (!message.Read(source) || source.left() != 0) return std::nullopt;
  return message;
}

// What the parent knows of the open request: the length of one row.
struct Request {
  size_t rowBytes = 0;
};

// What one command took and gave: `arguments` are the bytes it took after
// its command byte, `reply` what it wrote.
struct Exchange {
  const uint8_t* arguments;
  size_t argumentBytes;
  const uint8_t* reply;
  size_t replyBytes;
  int events;
};

// Reply values the protocol allows, beyond their layout. A reply type
// without an overload here is checked for its layout alone.
bool Allowed(const wire::StatusReply& status) { return status.status == 1; }
bool Allowed(const wire::DirectXLevelReply& level) { return level.filterGraph <= 1; }
bool Allowed(const wire::FailureReply& failure) {
  return failure.codec.size() < kMaxCodecNameBytes &&
         (failure.reason <= wire::kTooLarge || failure.reason == wire::kIncomplete ||
          failure.reason == wire::kBadRequest || failure.reason == wire::kTooCostly ||
          failure.reason == wire::kPathRefused || failure.reason == wire::kNotHandedOver);
}
bool Allowed(const wire::HandFileReply& handed) {
  return handed.reason == wire::kNoFailure || handed.reason == wire::kUnreadable ||
         handed.reason == wire::kNotHandedOver;
}
bool Allowed(const wire::LockReply& lock) { return lock.locked <= 1 && (lock.locked == 1 || lock.landlockAbi == 0); }
bool Allowed(const wire::ReadTallyReply& tally) { return tally.budgetSpent <= 1; }
bool Allowed(const wire::FrameOriginReply& origin) { return origin.origin <= wire::kFrameOfUnknownTime; }
bool Allowed(const wire::FramesReply& frames) {
  return frames.result <= 1 && frames.count <= wire::kMaxFramePositions &&
         frames.videoCodec.size() < kMaxCodecNameBytes && frames.audioCodec.size() < kMaxCodecNameBytes;
}
bool Allowed(const wire::NextFrameReply& frame) {
  if (frame.status > wire::kFrameMissing || frame.origin > wire::kFrameOfUnknownTime) return false;
  return frame.status != wire::kFrameFollows ||
         DibGeometryAcceptable(static_cast<LONG>(frame.width), static_cast<LONG>(frame.height), 24);
}
bool Allowed(const auto&) { return true; }

// What a reply tells the parent of the open request. Only the thumbnail
// reply and the end of a request change it.
void Follow(const auto&, const auto&, const TThumbnailServer&, std::optional<Request>&) {}

void Follow(const wire::ThumbnailRequest& asked, const wire::ThumbnailReply& answer, const TThumbnailServer& server,
            std::optional<Request>& request) {
  if (asked.fixedSize()) {
    Require(answer == wire::ThumbnailReply::Frame(asked.width, asked.height));
    request = Request{static_cast<size_t>(asked.width) * 3};
  } else if (answer.result == 0) {
    Require(!server.State.Thumbnailer);
    request.reset();
  } else {
    Require(answer.result == 1 && answer.bits == 24 && server.State.Thumbnailer);
    const int32_t frameWidth = static_cast<int32_t>(answer.width);
    const int32_t frameHeight = static_cast<int32_t>(answer.height);
    Require(frameWidth > 0 && frameHeight != 0 && DibGeometryAcceptable(frameWidth, frameHeight, 24));
    request = Request{static_cast<size_t>(frameWidth) * 3};
  }
}

void Follow(const wire::EndThumbnailRequest&, const wire::NoReply&, const TThumbnailServer& server,
            std::optional<Request>& request) {
  if (!server.State.Quit) request.reset();
}

// A frames request holds a frame only once command 11 gave one (a walk's at
// once); until then, and at a position that gave none, it has no rows.
size_t HeldRowBytes(const TThumbnailServer& server) {
  const TDirectShowThumbnailer* held = server.State.Thumbnailer.get();
  if (!held) return 0;
  const BITMAPINFOHEADER& frame = held->BitmapInfo.bmiHeader;
  return static_cast<size_t>(std::max<LONG>(frame.biWidth, 0)) * (frame.biBitCount / 8);
}

void Follow(const wire::FramesRequest& asked, const wire::FramesReply& answer, const TThumbnailServer& server,
            std::optional<Request>& request) {
  if (answer.result == 0) {
    Require(!server.State.Thumbnailer);
    request.reset();
    return;
  }
  Require(answer.count == 1 || !(asked.mode & wire::kFirstBrightFrame));
  request = Request{HeldRowBytes(server)};
}

void Follow(const wire::NextFrameRequest&, const wire::NextFrameReply& answer, const TThumbnailServer& server,
            std::optional<Request>& request) {
  if (!request) Require(answer.status == wire::kNoMoreFrames);
  if (answer.status == wire::kFrameFollows) Require(HeldRowBytes(server) == size_t{answer.width} * 3);
  if (answer.status != wire::kNoMoreFrames) request = Request{HeldRowBytes(server)};
}

// Checks one command of wire::Commands: its arguments are exactly its
// request, and its reply exactly its reply type with one event after it, or
// nothing and no event for a command that answers nothing. The rows of
// command 3 are as long as the open request's rows say.
template <typename Entry>
void CheckCommand(const Exchange& exchange, const TThumbnailServer& server, std::optional<Request>& request) {
  const auto asked = Whole(Entry::Empty(), exchange.arguments, exchange.argumentBytes);
  Require(asked.has_value());
  using Asked = typename Entry::Request;
  if constexpr (std::is_same_v<Asked, wire::GetLinesRequest>) {
    Require(exchange.events == 1);
    const uint64_t rows = static_cast<uint32_t>(asked->first + asked->count) < asked->first ? 0 : asked->count;
    Require(exchange.replyBytes == (request ? rows * request->rowBytes : 0));
  } else {
    using Reply = typename Asked::Reply;
    const auto answer = Whole(Reply{}, exchange.reply, exchange.replyBytes);
    Require(answer && Allowed(*answer));
    Require(exchange.events == (std::is_same_v<Reply, wire::NoReply> ? 0 : 1));
    Follow(*asked, *answer, server, request);
  }
}

template <typename... Entries>
bool CheckKnownCommand(uint8_t command, const Exchange& exchange, const TThumbnailServer& server,
                       std::optional<Request>& request, wire::CommandList<Entries...>) {
  return ((command == Entries::byte && (CheckCommand<Entries>(exchange, server, request), true)) || ...);
}

// Whether the command takes arguments, which the stream can cut short.
template <typename... Entries>
bool TakesArguments(uint8_t command, wire::CommandList<Entries...>) {
  return ((command == Entries::byte && wire::EncodeRequest(Entries::Empty()).size() > 1) || ...);
}

// Checks the reply to one command against the protocol.
void CheckReply(uint8_t command, const Exchange& exchange, bool argumentsComplete, const TThumbnailServer& server,
                std::optional<Request>& request) {
  if (!argumentsComplete) {
    // The parent left in the middle of the command: nothing is answered.
    Require(exchange.replyBytes == 0 && exchange.events == 0);
    return;
  }
  if (CheckKnownCommand(command, exchange, server, request, wire::Commands{})) return;
  // Any other byte is taken and ignored.
  Require(exchange.replyBytes == 0 && exchange.events == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("FUZZ_MEDIA_DIR")) Require(::chdir(dir) == 0);
  RegisterMediaClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzPlatform platform(data, size);
  {
    TThumbnailServer server(platform, "-com 3 4 5");
    Require(!server.InitFailed);
    std::optional<Request> request;
    try {
      while (!server.State.Quit && !platform.drained()) {
        const size_t start = platform.consumed();
        const size_t replyStart = platform.output().size();
        const int eventsBefore = platform.events();
        const uint8_t command = data[start];
        server.PollCommand();
        Require(platform.consumed() > start);
        const size_t taken = platform.consumed() - start - 1;
        // The arguments were complete unless the stream ran out while the
        // command still read them (the server then quits).
        const bool complete = !(server.State.Quit && platform.drained() && platform.output().size() == replyStart &&
                                platform.events() == eventsBefore && TakesArguments(command, wire::Commands{}));
        const Exchange exchange{data + start + 1, taken, platform.output().data() + replyStart,
                                platform.output().size() - replyStart, platform.events() - eventsBefore};
        CheckReply(command, exchange, complete, server, request);
      }
    } catch (const OutputBudgetSpent&) {
      // A reply too long to hold; what went out so far was checked as it went.
    }
  }
  Require(TaskMemOutstanding() == 0);
  return 0;
}
