#include "protocol/messages.h"

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

}  // namespace wire
