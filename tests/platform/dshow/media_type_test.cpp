// The one ownership rule of the media type record, as the grabber, the
// filters and the renderers rely on it.
#include "platform/dshow/media_type.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct FakeUnknown final : IUnknown {
  ULONG refs = 1;
  HRESULT QueryInterface(REFIID, void**) override {
    ADD_FAILURE() << "unexpected QueryInterface";
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

BYTE kBlock[6] = {1, 2, 3, 4, 5, 6};

AM_MEDIA_TYPE Source(FakeUnknown* unk, ULONG cbFormat) {
  AM_MEDIA_TYPE t{};
  t.majortype = MEDIATYPE_Video;
  t.subtype = MEDIASUBTYPE_YUY2;
  t.bFixedSizeSamples = TRUE;
  t.lSampleSize = 77;
  t.formattype = FORMAT_VideoInfo;
  t.pUnk = unk;
  t.cbFormat = cbFormat;
  t.pbFormat = kBlock;
  return t;
}

TEST(CopyMediaType, OwnedBlockIsCopiedAndPunkReferenced) {
  FakeUnknown unk;
  size_t start = TaskMemOutstanding();
  AM_MEDIA_TYPE source = Source(&unk, sizeof kBlock);
  AM_MEDIA_TYPE copy;
  CopyMediaType(&copy, &source);
  EXPECT_EQ(TaskMemOutstanding(), start + 1);
  ASSERT_NE(copy.pbFormat, source.pbFormat);
  EXPECT_EQ(copy.cbFormat, sizeof kBlock);
  EXPECT_EQ(0, std::memcmp(copy.pbFormat, kBlock, sizeof kBlock));
  EXPECT_EQ(copy.subtype, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(copy.lSampleSize, 77u);
  EXPECT_EQ(unk.refs, 2u);

  FreeMediaType(copy);
  EXPECT_EQ(TaskMemOutstanding(), start);
  EXPECT_EQ(copy.pbFormat, nullptr);
  EXPECT_EQ(copy.cbFormat, 0u);
  EXPECT_EQ(copy.pUnk, nullptr);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(copy.subtype, MEDIASUBTYPE_YUY2);  // the GUIDs stay
  FreeMediaType(copy);                          // a second free changes nothing
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(TaskMemOutstanding(), start);
}

TEST(CopyMediaType, BorrowedBlockIsNeitherCopiedNorFreed) {
  size_t start = TaskMemOutstanding();
  AM_MEDIA_TYPE source = Source(nullptr, 0);
  AM_MEDIA_TYPE copy;
  CopyMediaType(&copy, &source);
  EXPECT_EQ(TaskMemOutstanding(), start);
  EXPECT_EQ(copy.pbFormat, kBlock);
  FreeMediaType(copy);
  EXPECT_EQ(copy.pbFormat, kBlock);
}

TEST(CopyMediaType, FailedAllocationLeavesNoBlockButCopiesTheRest) {
  FakeUnknown unk;
  size_t start = TaskMemOutstanding();
  AM_MEDIA_TYPE source = Source(&unk, sizeof kBlock);
  AM_MEDIA_TYPE copy;
  {
    ScopedTaskMemFailure fail([](size_t) { return true; });
    EXPECT_EQ(CopyMediaType(&copy, &source), E_OUTOFMEMORY);
  }
  EXPECT_EQ(copy.pbFormat, nullptr);
  EXPECT_EQ(copy.cbFormat, 0u);
  EXPECT_EQ(copy.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(copy.lSampleSize, 77u);
  EXPECT_EQ(unk.refs, 2u);
  FreeMediaType(copy);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(TaskMemOutstanding(), start);
}

TEST(MediaType, AssignmentFreesWhatItHeldAndDestructionFreesTheRest) {
  FakeUnknown first;
  FakeUnknown second;
  size_t start = TaskMemOutstanding();
  AM_MEDIA_TYPE a = Source(&first, sizeof kBlock);
  AM_MEDIA_TYPE b = Source(&second, 3);
  {
    MediaType holder(a);
    EXPECT_EQ(first.refs, 2u);
    holder = b;
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 2u);
    EXPECT_EQ(TaskMemOutstanding(), start + 1);
    EXPECT_EQ(holder.cbFormat, 3u);

    // Assigning the holder to itself must not free the block it copies from.
    holder = static_cast<const AM_MEDIA_TYPE&>(holder);
    EXPECT_EQ(0, std::memcmp(holder.pbFormat, kBlock, 3));
    MediaType copy(holder);
    EXPECT_NE(copy.pbFormat, holder.pbFormat);
    EXPECT_EQ(second.refs, 3u);
  }
  EXPECT_EQ(second.refs, 1u);
  EXPECT_EQ(TaskMemOutstanding(), start);
}

// A caller handed the record's contents (ConnectionMediaType) owns them; the
// record must not free them a second time.
TEST(MediaType, DetachHandsOverTheBlockAndTheReference) {
  FakeUnknown unk;
  size_t start = TaskMemOutstanding();
  AM_MEDIA_TYPE given{};
  {
    MediaType type(Source(&unk, sizeof kBlock));
    given = type.Detach();
    EXPECT_TRUE(type.Empty());
    EXPECT_EQ(type.pbFormat, nullptr);
  }
  EXPECT_EQ(unk.refs, 2u);
  EXPECT_EQ(TaskMemOutstanding(), start + 1);
  FreeMediaType(given);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(TaskMemOutstanding(), start);
}

// An out-of-memory copy is still a whole record: what it says it holds, it
// owns, so freeing it balances every count.
TEST(MediaType, FailedAssignmentReportsAndStaysWhole) {
  FakeUnknown unk;
  size_t start = TaskMemOutstanding();
  MediaType type;
  {
    ScopedTaskMemFailure fail([](size_t) { return true; });
    EXPECT_EQ(type.Assign(Source(&unk, sizeof kBlock)), E_OUTOFMEMORY);
    EXPECT_FALSE(type.SetFormat(kBlock, sizeof kBlock));
  }
  EXPECT_EQ(type.pbFormat, nullptr);
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_YUY2);
  type.Clear();
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(TaskMemOutstanding(), start);
}

}  // namespace
