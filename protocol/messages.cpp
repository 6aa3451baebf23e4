#include "protocol/messages.h"

#include <algorithm>

namespace wire {

void ThumbnailReply::Write(FieldSink& out) const {
  out.Number(result);
  if (result != 1) return;
  out.Number(width);
  out.Number(height);
  out.Number(bits);
}

bool ThumbnailReply::Read(FieldSource& in) {
  if (!in.Number(&result)) return false;
  return result != 1 || (in.Number(&width) && in.Number(&height) && in.Number(&bits));
}

void DirectXLevelReply::Write(FieldSink& out) const {
  out.Number(level);
  out.Number(filterGraph);
}

bool DirectXLevelReply::Read(FieldSource& in) { return in.Number(&level) && in.Number(&filterGraph); }

void FailureReply::Write(FieldSink& out) const {
  out.Number(reason);
  out.String(codec);
}

bool FailureReply::Read(FieldSource& in) {
  return in.Number(&reason) && in.String(&codec) && codec.size() < kMaxStringBytes;
}

void FrameOriginReply::Write(FieldSink& out) const {
  out.Number(origin);
  out.Number(milliseconds);
}

bool FrameOriginReply::Read(FieldSource& in) { return in.Number(&origin) && in.Number(&milliseconds); }

void LockReply::Write(FieldSink& out) const {
  out.Number(locked);
  out.Number(landlockAbi);
}

bool LockReply::Read(FieldSource& in) { return in.Number(&locked) && in.Number(&landlockAbi); }

void ReadTallyReply::Write(FieldSink& out) const {
  for (uint32_t value : {bytesLow, bytesHigh, seeks, budgetSpent}) out.Number(value);
}

bool ReadTallyReply::Read(FieldSource& in) {
  for (uint32_t* value : {&bytesLow, &bytesHigh, &seeks, &budgetSpent})
    if (!in.Number(value)) return false;
  return true;
}

void HandFileRequest::Write(FieldSink& out) const {
  out.Number(static_cast<uint32_t>(budget));
  out.Number(static_cast<uint32_t>(budget >> 32));
}

bool HandFileRequest::Read(FieldSource& in) {
  uint32_t low = 0, high = 0;
  if (!in.Number(&low) || !in.Number(&high)) return false;
  budget = uint64_t{high} << 32 | low;
  return true;
}

ThumbnailRequest ThumbnailRequest::Of(uint8_t command) {
  ThumbnailRequest request;
  if (command == kThumbnailFileAt) request.position = Position{kMilliseconds, 0};
  return request;
}

void ThumbnailRequest::Write(FieldSink& out) const {
  out.String(path);
  out.Number(static_cast<uint32_t>(width));
  out.Number(static_cast<uint32_t>(height));
  if (!position) return;
  out.Number(position->kind);
  out.Number(position->value);
}

bool ThumbnailRequest::Read(FieldSource& in) {
  uint32_t w = 0, h = 0;
  if (!in.String(&path) || !in.Number(&w) || !in.Number(&h)) return false;
  width = static_cast<int32_t>(w);
  height = static_cast<int32_t>(h);
  return !position || (in.Number(&position->kind) && in.Number(&position->value));
}

void GetLinesRequest::Write(FieldSink& out) const {
  out.Number(first);
  out.Number(count);
}

bool GetLinesRequest::Read(FieldSource& in) { return in.Number(&first) && in.Number(&count); }

void FramesReply::Write(FieldSink& out) const {
  out.Number(result);
  if (result != 1) return;
  out.Number(count);
  out.Number(durationMs);
  out.Number(width);
  out.Number(height);
  out.String(videoCodec);
  out.String(audioCodec);
}

bool FramesReply::Read(FieldSource& in) {
  if (!in.Number(&result)) return false;
  if (result != 1) return true;
  return in.Number(&count) && in.Number(&durationMs) && in.Number(&width) && in.Number(&height) &&
         in.String(&videoCodec) && videoCodec.size() < kMaxStringBytes && in.String(&audioCodec) &&
         audioCodec.size() < kMaxStringBytes;
}

void NextFrameReply::Write(FieldSink& out) const {
  for (uint32_t value : {status, index, origin, milliseconds, width, height}) out.Number(value);
}

bool NextFrameReply::Read(FieldSource& in) {
  for (uint32_t* value : {&status, &index, &origin, &milliseconds, &width, &height})
    if (!in.Number(value)) return false;
  return true;
}

void FramesRequest::Write(FieldSink& out) const {
  out.String(path);
  out.Number(longerEdge);
  out.Number(mode);
  out.Number(kind);
  out.Number(static_cast<uint32_t>(positions.size()));
  for (uint32_t position : positions) out.Number(position);
}

bool FramesRequest::Read(FieldSource& in) {
  uint32_t count = 0;
  if (!in.String(&path) || !in.Number(&longerEdge) || !in.Number(&mode) || !in.Number(&kind) || !in.Number(&count))
    return false;
  positions.clear();
  tooMany = count > kMaxFramePositions;
  positions.reserve(std::min(count, kMaxFramePositions));
  // Every value is taken, so that the next command starts where it should;
  // those past the limit are not kept.
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value = 0;
    if (!in.Number(&value)) return false;
    if (i < kMaxFramePositions) positions.push_back(value);
  }
  return true;
}

}  // namespace wire
