// The wire protocol's one definition, pinned: both sides build their bytes
// from it, so a slip here would keep them agreeing with each other while
// every existing parent broke.
#include "protocol/messages.h"

#include <gtest/gtest.h>

namespace {

// Each number with the bytes it travels as. The high bytes with their top
// bit set catch a decoder that sign-extends a byte before shifting it.
struct NumberCase {
  uint32_t value;
  std::vector<uint8_t> bytes;
};

const NumberCase kNumbers[] = {
    {0, {0, 0, 0, 0}},
    {1, {1, 0, 0, 0}},
    {24, {0x18, 0, 0, 0}},
    {0x0800, {0x00, 0x08, 0, 0}},
    {0x04030201u, {0x01, 0x02, 0x03, 0x04}},
    {0xA1B2C3D4u, {0xD4, 0xC3, 0xB2, 0xA1}},
    {0x80000000u, {0, 0, 0, 0x80}},
    {0xFFFFFFFEu, {0xFE, 0xFF, 0xFF, 0xFF}},
    {static_cast<uint32_t>(-320), {0xC0, 0xFE, 0xFF, 0xFF}},  // a negative width
};

TEST(Wire, NumbersAreLittleEndianBothWays) {
  for (const NumberCase& c : kNumbers) {
    SCOPED_TRACE(c.value);
    std::vector<uint8_t> appended{0xEE};
    wire::AppendNumber(&appended, c.value);
    EXPECT_EQ(std::vector<uint8_t>(appended.begin() + 1, appended.end()), c.bytes);
    uint8_t encoded[wire::kNumberBytes];
    wire::EncodeNumber(c.value, encoded);
    EXPECT_EQ(std::vector<uint8_t>(encoded, encoded + wire::kNumberBytes), c.bytes);
    EXPECT_EQ(wire::DecodeNumber(c.bytes.data()), c.value);
  }
}

// Renumbering a command would break every parent that exists.
TEST(Wire, CommandBytesKeepTheirValues) {
  const std::pair<wire::Command, uint8_t> kCommands[] = {
      {wire::kQuit, 1},      {wire::kThumbnailFile, 2}, {wire::kGetLines, 3},
      {wire::kEndThumbnail, 4}, {wire::kGetStatus, 5},     {wire::kGetDirectXLevel, 6},
      {wire::kThumbnailFileAt, 7}, {wire::kGetFailure, 8}, {wire::kGetFrameOrigin, 9},
  };
  for (const auto& [command, byte] : kCommands) EXPECT_EQ(static_cast<uint8_t>(command), byte);
}

TEST(Wire, StringsEndInOneNulAndFitTheServersBuffer) {
  std::vector<uint8_t> out;
  wire::AppendString(&out, "/a b");
  wire::AppendString(&out, "");
  EXPECT_EQ(out, (std::vector<uint8_t>{'/', 'a', ' ', 'b', 0, 0}));
  EXPECT_EQ(wire::kMaxStringBytes, 260u);
}

}  // namespace
