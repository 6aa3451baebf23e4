// Command 11: the next frame of the open frames request, in time order; its
// rows then come with command 3, as a thumbnail's do. Each frame is one
// command, so the watchdog gives every frame its ten seconds, however many a
// request has, and one picture is held at a time.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

namespace {

using Capture = TDirectShowThumbnailer::Capture;

// Takes the plan's next step: its frame, or none there.
wire::NextFrameReply TakeStep(ServerState& state, FramesPlan& plan, CommandChannel& channel) {
  TDirectShowThumbnailer& thumbnailer = *state.Thumbnailer;
  const FramesPlan::Step step = plan.steps[plan.next];
  // A position repeated gives the frame it gave before: the graph is not
  // run again for the same picture.
  const bool repeat = plan.haveFrame && plan.next > 0 && plan.steps[plan.next - 1].time == step.time;
  const bool walked = plan.haveFrame && plan.next == 0;
  ++plan.next;
  Capture capture = Capture::kFrame;
  if (!repeat && !walked) capture = thumbnailer.CaptureAt(step.time, plan.keyFrames && !thumbnailer.FromCover);
  plan.haveFrame = capture == Capture::kFrame;
  wire::NextFrameReply reply;
  // Past the read budget every later step would fail as well.
  const bool budgetSpent = channel.LastReadTally().budgetSpent;
  if (capture == Capture::kFailed || (budgetSpent && capture == Capture::kNone)) {
    // The graph stopped working: the request ends here, and command 8 says
    // why.
    state.KeepOutcome(true, false, budgetSpent);
    plan.next = plan.steps.size();
    return reply;
  }
  reply.index = step.index;
  if (capture == Capture::kNone) {
    reply.status = wire::kFrameMissing;
    return reply;
  }
  state.KeepOutcome(true, true);
  const BITMAPINFOHEADER& frame = thumbnailer.BitmapInfo.bmiHeader;
  reply.status = wire::kFrameFollows;
  reply.origin = state.LastOrigin;
  reply.milliseconds = state.LastFrameMs;
  reply.width = static_cast<uint32_t>(frame.biWidth);
  reply.height = static_cast<uint32_t>(frame.biHeight);
  return reply;
}

}  // namespace

template <>
void Handle<wire::kNextFrame>(CommandContext& context) {
  DebugTrace("TThumbnailServer::NextFrame\n");
  ServerState& state = context.State;
  wire::NextFrameReply reply;
  if (state.Frames && state.Thumbnailer && state.Frames->next < state.Frames->steps.size())
    reply = TakeStep(state, *state.Frames, context.Channel);
  Answer(context.Channel, reply);
}
