// The thumbnail request commands over a fake platform and a fake thumbnailer
// whose frame bytes are known.
#include "tests/server/server_test_base.h"

#include "protocol/messages.h"
#include "server/thumbnail_server.h"

namespace {

class ThumbnailRequests : public ServerTest {
 protected:
  // Sends command 2 and polls it; returns the reply values.
  std::vector<DWORD> Request(const std::string& path, LONG width, LONG height) {
    fake.replies.clear();
    fake.events_at.clear();
    fake.Send(wire::EncodeRequest(wire::ThumbnailRequest{path, width, height, std::nullopt}));
    server.PollCommand();
    EXPECT_EQ(fake.Waiting(), 0u);
    return fake.ReplyDwords();
  }

  // Sends command 3 and polls it; returns the bytes it wrote.
  std::vector<BYTE> Lines(DWORD first, DWORD count) {
    fake.replies.clear();
    fake.write_sizes.clear();
    fake.events_at.clear();
    fake.Send(wire::EncodeRequest(wire::GetLinesRequest{first, count}));
    server.PollCommand();
    EXPECT_EQ(fake.events_at, std::vector<size_t>{fake.replies.size()}) << "one event, after the last row";
    return fake.replies;
  }

  // Sends a command that takes no arguments and polls it; returns its reply,
  // which one event must follow.
  std::vector<BYTE> Ask(BYTE command) {
    fake.replies.clear();
    fake.events_at.clear();
    fake.Send({command});
    server.PollCommand();
    EXPECT_EQ(fake.events_at, std::vector<size_t>{fake.replies.size()}) << "one event, after the reply";
    return fake.replies;
  }

  void End() {
    fake.Send({wire::kEndThumbnail});
    server.PollCommand();
  }

  // Row r of the wire as the frame holds it: memory row (height - 1 - r).
  static std::vector<BYTE> FrameRow(LONG height, size_t r, size_t bytes) {
    std::vector<BYTE> row(bytes);
    for (size_t x = 0; x < bytes; ++x) row[x] = FramePixel(static_cast<size_t>(height - 1) - r, x);
    return row;
  }

  static void Append(std::vector<BYTE>& to, const std::vector<BYTE>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
  }

  TThumbnailServer server{fake, kGoodTail};
};

// Also caught: the graph (decoders and their pictures) kept while rows are
// sent, or its release taking the frame with it.
TEST_F(ThumbnailRequests, NativeSizeRepliesFrameSizeAndSendsRowsTopDown) {
  NextGrab.width = 5;
  NextGrab.height = 3;
  EXPECT_EQ(Request("/videos/a.mp4", 0, 0), (std::vector<DWORD>{1, 5, 3, 24}));
  EXPECT_EQ(fake.events_at, std::vector<size_t>{16});
  EXPECT_EQ(GraphReleases, 1);
  EXPECT_EQ(LastGrabPath, "/videos/a.mp4");
  EXPECT_TRUE(Traced("Reading /videos/a.mp4\n"));

  std::vector<BYTE> expected;
  for (size_t r = 0; r < 3; ++r) Append(expected, FrameRow(3, r, 15));
  EXPECT_EQ(Lines(0, 3), expected);
  EXPECT_EQ(fake.write_sizes, (std::vector<DWORD>{15, 15, 15}));

  // A range in the middle, then the rows past the bottom as zeros.
  EXPECT_EQ(Lines(1, 1), FrameRow(3, 1, 15));
  std::vector<BYTE> tail = FrameRow(3, 2, 15);
  tail.resize(45, 0);
  EXPECT_EQ(Lines(2, 3), tail);

  End();
  EXPECT_EQ(ThumbnailersAlive, 0);
  EXPECT_FALSE(server.State.Quit);
}

TEST_F(ThumbnailRequests, RowsAreReadAtTheProbedStride) {
  for (bool aligned : {true, false}) {
    SCOPED_TRACE(aligned);
    server.State.RowsDwordAligned = aligned;
    NextGrab.width = 321;
    NextGrab.height = 2;
    NextGrab.stride = aligned ? 964 : 963;
    EXPECT_EQ(Request("odd.mkv", 0, 0), (std::vector<DWORD>{1, 321, 2, 24}));
    std::vector<BYTE> expected;
    Append(expected, FrameRow(2, 0, 963));
    Append(expected, FrameRow(2, 1, 963));
    EXPECT_EQ(Lines(0, 2), expected);
    End();
  }
}

TEST_F(ThumbnailRequests, FixedSizeRepliesBeforeTheGrab) {
  std::vector<size_t> eventsAtGrab;
  NextGrab.on_grab = [&] { eventsAtGrab = fake.events_at; };
  NextGrab.width = 4;
  NextGrab.height = 2;
  EXPECT_EQ(Request("v.avi", 4, 2), (std::vector<DWORD>{1, 4, 2, 24}));
  EXPECT_EQ(eventsAtGrab, std::vector<size_t>{16});
  EXPECT_EQ(fake.events_at.size(), 1u);
  std::vector<BYTE> expected = FrameRow(2, 0, 12);
  Append(expected, FrameRow(2, 1, 12));
  EXPECT_EQ(Lines(0, 2), expected);
  End();
  EXPECT_FALSE(server.State.Quit);
  EXPECT_EQ(ThumbnailersAlive, 0);
}

TEST_F(ThumbnailRequests, FixedSizeWiderThanTheFrameFillsWithZerosThenEndsTheServer) {
  NextGrab.width = 5;
  NextGrab.height = 2;
  Request("v.avi", 7, 2);
  std::vector<BYTE> expected = FrameRow(2, 0, 15);
  expected.resize(21, 0);
  Append(expected, FrameRow(2, 1, 15));
  expected.resize(42, 0);
  EXPECT_EQ(Lines(0, 2), expected);
  EXPECT_EQ(fake.write_sizes, (std::vector<DWORD>{15, 6, 15, 6}));
  End();
  EXPECT_TRUE(Traced("wrong info\n"));
  EXPECT_TRUE(Traced("5x2   7x2\n"));
  EXPECT_TRUE(server.State.Quit);
  EXPECT_EQ(ThumbnailersAlive, 1) << "kept until the server ends";
}

TEST_F(ThumbnailRequests, FixedSizeNarrowerCutsAndTallerAddsZeroRows) {
  NextGrab.width = 5;
  NextGrab.height = 2;
  Request("v.avi", 3, 4);
  std::vector<BYTE> expected = FrameRow(2, 0, 9);
  Append(expected, FrameRow(2, 1, 9));
  expected.resize(36, 0);
  EXPECT_EQ(Lines(0, 4), expected);
  EXPECT_EQ(fake.write_sizes, (std::vector<DWORD>{9, 9, 9, 9}));
  End();
  EXPECT_TRUE(server.State.Quit);
}

TEST_F(ThumbnailRequests, FixedSizeRowsNeverExceedThePromisedLength) {
  // A 32-bit frame of the requested width has more bytes per row than the
  // 24-bit rows the reply promised.
  NextGrab.width = 4;
  NextGrab.height = 1;
  NextGrab.bit_count = 32;
  NextGrab.stride = 16;
  Request("v.avi", 4, 1);
  EXPECT_EQ(Lines(0, 1), FrameRow(1, 0, 12));
  End();
}

TEST_F(ThumbnailRequests, FailedFixedSizeGrabSendsBlackRows) {
  NextGrab.result = 0;
  EXPECT_EQ(Request("missing.mp4", 6, 3), (std::vector<DWORD>{1, 6, 3, 24}));
  EXPECT_TRUE(server.State.ThumbnailFailed);
  EXPECT_EQ(Lines(0, 3), std::vector<BYTE>(54, 0));
  EXPECT_EQ(fake.write_sizes, (std::vector<DWORD>{18, 18, 18}));
  End();  // the thumbnailer reports 0 x 0: the size check ends the server
  EXPECT_TRUE(server.State.Quit);
}

TEST_F(ThumbnailRequests, FailedNativeGrabRepliesZeroAndLeavesNoFrame) {
  NextGrab.result = 0;
  NextGrab.width = 5;
  NextGrab.height = 2;
  EXPECT_EQ(Request("junk.bin", 0, 0), std::vector<DWORD>{0});
  EXPECT_EQ(fake.events_at, std::vector<size_t>{4});
  EXPECT_EQ(GraphReleases, 1);
  EXPECT_EQ(ThumbnailersAlive, 0);
  EXPECT_TRUE(Lines(0, 2).empty());
  EXPECT_FALSE(server.State.Quit);
}

TEST_F(ThumbnailRequests, EitherSizeNotPositiveIsANativeRequest) {
  NextGrab.width = 8;
  NextGrab.height = 6;
  EXPECT_EQ(Request("a", 160, 0), (std::vector<DWORD>{1, 8, 6, 24}));
  EXPECT_FALSE(server.State.FixedSize);
  EXPECT_EQ(Request("a", -1, 120), (std::vector<DWORD>{1, 8, 6, 24}));
  EXPECT_FALSE(server.State.FixedSize);
  End();
}

TEST_F(ThumbnailRequests, LinesWithoutAFrameOrWithoutRows) {
  EXPECT_TRUE(Lines(0, 10).empty()) << "no request open";
  NextGrab.width = 4;
  NextGrab.height = 2;
  Request("a", 0, 0);
  EXPECT_TRUE(Lines(0, 0).empty());
  EXPECT_TRUE(Lines(0xFFFFFFFFu, 2).empty()) << "the range wraps";
  End();
  EXPECT_TRUE(Lines(0, 2).empty()) << "after the request ended";
}

TEST_F(ThumbnailRequests, SuccessWithoutPixelsSendsZeroRows) {
  NextGrab.width = 4;
  NextGrab.height = 2;
  NextGrab.with_bits = false;
  Request("a", 0, 0);
  EXPECT_EQ(Lines(0, 2), std::vector<BYTE>(24, 0));
  End();
}

TEST_F(ThumbnailRequests, PathOf260BytesWithoutNulFailsTheRequest) {
  const std::string full(260, 'p');
  fake.Send({wire::kThumbnailFile});
  fake.Send(std::vector<BYTE>(full.begin(), full.end()));
  fake.SendDword(0);
  fake.SendDword(0);
  server.PollCommand();
  EXPECT_EQ(fake.ReplyDwords(), std::vector<DWORD>{0});
  EXPECT_EQ(GrabCalls, 0);

  fake.replies.clear();
  fake.Send({wire::kThumbnailFile});
  fake.Send(std::vector<BYTE>(full.begin(), full.end()));
  fake.SendDword(2);
  fake.SendDword(1);
  server.PollCommand();
  EXPECT_EQ(fake.ReplyDwords(), (std::vector<DWORD>{1, 2, 1, 24}));
  EXPECT_EQ(GrabCalls, 0);
  EXPECT_EQ(Lines(0, 1), std::vector<BYTE>(6, 0));

  // 259 characters and the NUL are a whole path.
  NextGrab.width = 2;
  NextGrab.height = 1;
  Request(std::string(259, 'q'), 0, 0);
  EXPECT_EQ(LastGrabPath, std::string(259, 'q'));
  End();
}

TEST_F(ThumbnailRequests, NewRequestEndsTheOpenOne) {
  NextGrab.width = 4;
  NextGrab.height = 2;
  Request("first", 0, 0);
  int aliveAtSecondGrab = -1;
  NextGrab.on_grab = [&] { aliveAtSecondGrab = ThumbnailersAlive; };
  Request("second", 0, 0);
  EXPECT_EQ(aliveAtSecondGrab, 1) << "the first thumbnailer went before the second grab";
  EXPECT_TRUE(Traced("starting new thumbnail\n"));
  End();
}

TEST_F(ThumbnailRequests, ThumbnailerKeptByAFailedSizeCheckIsReplacedByTheNextRequest) {
  NextGrab.width = 5;
  NextGrab.height = 2;
  Request("a", 7, 2);
  End();
  ASSERT_TRUE(server.State.Quit);
  ASSERT_EQ(ThumbnailersAlive, 1);
  Request("b", 5, 2);
  EXPECT_EQ(ThumbnailersAlive, 1);
}

TEST_F(ThumbnailRequests, EndWithNothingOpenChangesNothing) {
  End();
  EXPECT_TRUE(fake.replies.empty());
  EXPECT_TRUE(fake.events_at.empty());
  EXPECT_FALSE(server.State.Quit);
}

TEST_F(ThumbnailRequests, ArgumentsCutOffByTheParentAreNotActedOn) {
  fake.Send({wire::kThumbnailFile});
  fake.Send({'a', 'b'});
  fake.command_pipe_closed = true;
  server.PollCommand();
  EXPECT_TRUE(server.State.Quit);
  EXPECT_EQ(GrabCalls, 0);
  EXPECT_TRUE(fake.replies.empty());
  EXPECT_TRUE(fake.events_at.empty());

  fake.Send({wire::kThumbnailFile});
  fake.SendString("a");
  fake.SendDword(4);
  server.PollCommand();
  EXPECT_EQ(GrabCalls, 0);
  EXPECT_TRUE(fake.replies.empty());

  fake.Send({wire::kGetLines});
  fake.SendDword(0);
  server.PollCommand();
  EXPECT_TRUE(fake.replies.empty());
  EXPECT_TRUE(fake.events_at.empty());
}

// Command 7 takes two values more than command 2 and is answered the same
// way; a wrong count of argument bytes would put the parent out of step.
TEST_F(ThumbnailRequests, APositionedRequestTakesItsPositionAndAnswersAsCommandTwo) {
  struct Case {
    DWORD kind;
    DWORD value;
    bool fraction;
    LONGLONG start;
  };
  const Case cases[] = {{wire::kMilliseconds, 1500, false, 15000000},
                        {wire::kMillionthsOfDuration, 500000, true, 500000},
                        {77, 2, false, 20000}};  // an unknown kind counts as milliseconds
  for (const Case& c : cases) {
    NextGrab.width = 5;
    NextGrab.height = 3;
    fake.replies.clear();
    fake.events_at.clear();
    fake.Send(wire::EncodeRequest(
        wire::ThumbnailRequest{"/videos/a.mp4", 0, 0, wire::ThumbnailRequest::Position{c.kind, c.value}}));
    server.PollCommand();
    EXPECT_EQ(fake.Waiting(), 0u);
    EXPECT_EQ(fake.ReplyDwords(), (std::vector<DWORD>{1, 5, 3, 24}));
    EXPECT_EQ(fake.events_at, std::vector<size_t>{16});
    ASSERT_TRUE(LastGrabStart.has_value());
    EXPECT_EQ(LastGrabStart->fraction, c.fraction);
    EXPECT_EQ(LastGrabStart->value, c.start);
    End();
  }
  // Command 2 keeps the fixed walk.
  Request("/videos/a.mp4", 0, 0);
  EXPECT_FALSE(LastGrabStart.has_value());
  End();
}

// Command 8 answers the last request's reason and the codec only a missing
// decoder names, each reply ended by the event; a success clears it.
TEST_F(ThumbnailRequests, TheReasonOfTheLastFailureIsAnsweredWithItsCodec) {
  auto reason = [this] { return Ask(wire::kGetFailure); };
  auto bytes = [](DWORD code, const std::string& codec) { return wire::EncodeReply(wire::FailureReply{code, codec}); };
  EXPECT_EQ(reason(), bytes(wire::kNoFailure, ""));

  NextGrab.result = 0;
  NextGrab.failure = E_MEDIA_NO_DECODER;
  NextGrab.codec = "hevc";
  EXPECT_EQ(Request("a", 0, 0), std::vector<DWORD>{0});
  EXPECT_EQ(reason(), bytes(wire::kCodecUnavailable, "hevc"));

  NextGrab.failure = E_MEDIA_ENCRYPTED;  // the codec goes with no other reason
  Request("a", 4, 2);
  End();
  EXPECT_EQ(reason(), bytes(wire::kEncrypted, ""));

  NextGrab = ThumbnailerScript{};
  NextGrab.width = 4;
  NextGrab.height = 2;
  Request("a", 0, 0);
  End();
  EXPECT_EQ(reason(), bytes(wire::kNoFailure, ""));
}

// Command 9 tells where the last request's frame came from. A time kept
// from an earlier request, a cover reported as a time, or a time not cut to
// the reply's 32 bits would each tell a script a wrong place in the video.
TEST_F(ThumbnailRequests, TheOriginOfTheLastFrameIsAnswered) {
  auto origin = [this] {
    EXPECT_EQ(Ask(wire::kGetFrameOrigin).size(), 8u);
    return fake.ReplyDwords();
  };
  EXPECT_EQ(origin(), (std::vector<DWORD>{wire::kNoFrame, 0}));
  struct Case {
    int result;
    LONGLONG position;
    bool cover;
    std::vector<DWORD> reply;
  };
  const Case cases[] = {
      {1, 15000000, false, {wire::kVideoFrame, 1500}},
      {1, 0, false, {wire::kVideoFrame, 0}},
      {1, LONGLONG{1} << 50, false, {wire::kVideoFrame, 0xFFFFFFFF}},
      {1, -1, false, {wire::kFrameOfUnknownTime, 0}},
      {1, -1, true, {wire::kCoverPicture, 0}},
      {0, 15000000, false, {wire::kNoFrame, 0}},
  };
  for (const Case& c : cases) {
    NextGrab = ThumbnailerScript{};
    NextGrab.result = c.result;
    NextGrab.width = c.result ? 4 : 0;
    NextGrab.height = c.result ? 2 : 0;
    NextGrab.position = c.position;
    NextGrab.from_cover = c.cover;
    Request("a", 0, 0);
    End();
    EXPECT_EQ(origin(), c.reply) << c.position << (c.cover ? " cover" : "");
  }
}

}  // namespace
