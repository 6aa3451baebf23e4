#include "tests/server/fake_platform.h"

#include <cstring>

#include "protocol/wire.h"

void FakePlatform::SendDword(DWORD value) {
  std::vector<BYTE> bytes;
  wire::AppendNumber(&bytes, value);
  Send(bytes);
}

void FakePlatform::SendString(const std::string& text) {
  std::vector<BYTE> bytes;
  wire::AppendString(&bytes, text);
  Send(bytes);
}

size_t FakePlatform::Waiting() const {
  size_t n = 0;
  for (const auto& c : chunks) n += c.size();
  return n;
}

std::vector<DWORD> FakePlatform::ReplyDwords() const {
  EXPECT_EQ(replies.size() % wire::kNumberBytes, 0u) << "reply is not a whole number of 32-bit values";
  std::vector<DWORD> values;
  for (size_t i = 0; i + wire::kNumberBytes <= replies.size(); i += wire::kNumberBytes)
    values.push_back(wire::DecodeNumber(&replies[i]));
  return values;
}

BOOL FakePlatform::ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) {
  EXPECT_FALSE(pipes_forbidden) << "ReadFile after a failed start-up";
  EXPECT_EQ(ValueOf(file), kReadPipe);
  *read = 0;
  if (read_fails) return FALSE;
  // An empty pipe would block a real server; here it must be one the test
  // has closed.
  while (!chunks.empty() && chunks.front().empty()) chunks.pop_front();
  if (chunks.empty()) {
    EXPECT_TRUE(command_pipe_closed) << "the server read from an empty command pipe";
    return TRUE;
  }
  std::vector<BYTE>& chunk = chunks.front();
  DWORD n = std::min<DWORD>(toRead, static_cast<DWORD>(chunk.size()));
  std::memcpy(buffer, chunk.data(), n);
  chunk.erase(chunk.begin(), chunk.begin() + n);
  *read = n;
  return TRUE;
}

BOOL FakePlatform::WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) {
  EXPECT_FALSE(pipes_forbidden) << "WriteFile after a failed start-up";
  EXPECT_EQ(ValueOf(file), kWritePipe);
  write_sizes.push_back(toWrite);
  if (write_fails) {
    if (written) *written = 0;
    return FALSE;
  }
  const BYTE* bytes = static_cast<const BYTE*>(buffer);
  replies.insert(replies.end(), bytes, bytes + toWrite);
  if (written) *written = toWrite;
  return TRUE;
}

BOOL FakePlatform::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) {
  EXPECT_FALSE(pipes_forbidden) << "PeekNamedPipe after a failed start-up";
  EXPECT_EQ(ValueOf(pipe), kReadPipe);
  EXPECT_EQ(bufferSize, 1u);
  *read = 0;
  if (totalAvailable) *totalAvailable = 0;
  const size_t waiting = Waiting();
  if (peek_fails || (waiting == 0 && command_pipe_closed)) return FALSE;
  if (waiting > 0) {
    for (const auto& c : chunks)
      if (!c.empty()) {
        *static_cast<BYTE*>(buffer) = c.front();
        break;
      }
    *read = 1;
    if (totalAvailable) *totalAvailable = static_cast<DWORD>(waiting);
  }
  return TRUE;
}

void FakePlatform::WaitForPipeInput(HANDLE pipe, DWORD milliseconds) {
  EXPECT_EQ(ValueOf(pipe), kReadPipe);
  if (Waiting() > 0 || command_pipe_closed) return;
  waited_ms += milliseconds;
  now += milliseconds;
}

BOOL FakePlatform::SetEvent(HANDLE event) {
  EXPECT_EQ(ValueOf(event), kReplyEvent);
  events_at.push_back(replies.size());
  return TRUE;
}

BOOL FakePlatform::CloseHandle(HANDLE handle) {
  closed_handles.push_back(ValueOf(handle));
  return TRUE;
}

void FakePlatform::Sleep(DWORD milliseconds) {
  slept_ms += milliseconds;
  now += milliseconds;
}

bool FakePlatform::StartThread(void (*body)(void*), void* argument) {
  ++threads_started;
  thread_body = body;
  thread_argument = argument;
  return true;
}

HRESULT FakePlatform::CoInitialize(void*) {
  if (SUCCEEDED(co_initialize_hr)) ++co_initialized;
  return co_initialize_hr;
}

HBITMAP FakePlatform::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void*) {
  EXPECT_EQ(width, 1);
  EXPECT_EQ(height, 1);
  EXPECT_EQ(planes, 1u);
  EXPECT_EQ(bitsPerPixel, 24u);
  if (create_bitmap_fails) return nullptr;
  ++bitmaps_alive;
  return reinterpret_cast<HBITMAP>(&bitmap_);
}

int FakePlatform::GetObjectA(HGDIOBJ object, int size, void* out) {
  EXPECT_EQ(object, static_cast<HGDIOBJ>(&bitmap_));
  EXPECT_EQ(size, static_cast<int>(sizeof(BITMAP)));
  BITMAP description{};
  description.bmWidth = 1;
  description.bmHeight = 1;
  description.bmWidthBytes = bitmap_width_bytes;
  description.bmPlanes = 1;
  description.bmBitsPixel = 24;
  std::memcpy(out, &description, sizeof description);
  return sizeof description;
}

BOOL FakePlatform::DeleteObject(HGDIOBJ object) {
  EXPECT_EQ(object, static_cast<HGDIOBJ>(&bitmap_));
  --bitmaps_alive;
  return TRUE;
}

HMODULE FakePlatform::LoadLibraryA(LPCSTR name) {
  ADD_FAILURE() << "unexpected LoadLibraryA " << name;
  return nullptr;
}

FARPROC FakePlatform::GetProcAddress(HMODULE, LPCSTR name) {
  ADD_FAILURE() << "unexpected GetProcAddress " << name;
  return nullptr;
}

BOOL FakePlatform::FreeLibrary(HMODULE) {
  ADD_FAILURE() << "unexpected FreeLibrary";
  return FALSE;
}

HandOver FakePlatform::ReceiveFile(HANDLE socket, ULONGLONG readBudget) {
  hand_over_sockets.push_back(ValueOf(socket));
  hand_over_budgets.push_back(readBudget);
  files_held = hand_over == HandOver::kHeld ? 1 : 0;
  return hand_over;
}
