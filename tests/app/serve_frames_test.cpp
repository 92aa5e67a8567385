// The serve framing read from memory in chosen pieces.

#include "app/serve_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nimbra {
namespace {

using Status = FrameReader::Outcome::Status;

// Hands out `bytes` at most `piece` bytes per read, then the end.
ByteSource memorySource(std::string bytes, size_t piece = size_t{1} << 20) {
  return [bytes = std::move(bytes), piece, offset = size_t{0}](uint8_t* buffer, size_t capacity) mutable {
    const size_t take = std::min({capacity, piece, bytes.size() - offset});
    std::memcpy(buffer, bytes.data() + offset, take);
    offset += take;
    return static_cast<ssize_t>(take);
  };
}

std::string asText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string withHeader(uint32_t length, const std::string& body = "") {
  return std::string{char(length), char(length >> 8), char(length >> 16), char(length >> 24)} + body;
}

TEST(ServeFrames, EncodesLengthPrefixAndCodecListExactly) {
  // 21 bytes follow: a list of 4, kind 1, id 7, the channel, the message bytes.
  EXPECT_EQ(encodeFrame(Frame{FrameKind::answer, 7, "a/b", Bytes{0x00, 0x01}}),
            (std::vector<uint8_t>{0x15, 0, 0, 0, 0x0c, 0x04, 0x03, 0x01, 0, 0, 0, 0x03, 0x07, 0, 0, 0,
                                  0x07, 0x03, 'a', '/', 'b', 0x08, 0x02, 0x00, 0x01}));
}

TEST(ServeFrames, ReaderTakesFramesWhateverPiecesTheyArriveIn) {
  // Larger than the read buffer, so it also takes the direct path into the frame's storage.
  const Frame first{FrameKind::request, 1, "nimbra/native", Bytes(70000, 0x5a)};
  const Frame second{FrameKind::notice, int64_t{1} << 40, "nimbra/events", std::nullopt};
  for (size_t piece : {size_t{3}, size_t{4096}, size_t{1} << 20}) {
    FrameReader reader(memorySource(asText(encodeFrame(first)) + asText(encodeFrame(second)), piece));
    EXPECT_EQ(reader.next().frame, first);
    EXPECT_EQ(reader.next().frame, second);
    EXPECT_EQ(reader.next().status, Status::endOfInput);
  }
}

TEST(ServeFrames, BadFramingIsMalformedAndEndsTheReading) {
  const std::string good = asText(encodeFrame(Frame{FrameKind::notice, 1, "c", std::nullopt}));
  auto framed = [](const Value& value) {
    const std::string body = asText(encodeMessage(value));
    return withHeader(static_cast<uint32_t>(body.size()), body);
  };
  // Lengths of zero and over the limit, input cut in the length and in the body, a length at the
  // limit with no data behind it, no codec message; bodies that are not a list, have three fields,
  // an unknown kind, a string id, a number for the channel, a string for the message.
  for (const std::string& bytes : {
           withHeader(0), withHeader(static_cast<uint32_t>(kMaxFrameBodySize + 1)), good.substr(0, 2),
           good.substr(0, good.size() - 1),
           withHeader(static_cast<uint32_t>(kMaxFrameBodySize), "ab"),
           withHeader(2, "\xff\xff"), framed(true), framed(ValueList{int64_t{0}, int64_t{1}, "c"}),
           framed(ValueList{int64_t{3}, int64_t{1}, "c", Value()}),
           framed(ValueList{int64_t{0}, "1", "c", Value()}),
           framed(ValueList{int64_t{0}, int64_t{1}, int64_t{5}, Value()}),
           framed(ValueList{int64_t{0}, int64_t{1}, "c", "text"})}) {
    FrameReader reader(memorySource(bytes));
    FrameReader::Outcome outcome = reader.next();
    EXPECT_EQ(outcome.status, Status::malformed) << ::testing::PrintToString(bytes);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_EQ(reader.next().status, Status::malformed);
  }
  FrameReader failing([](uint8_t*, size_t) -> ssize_t { errno = EIO; return -1; });
  EXPECT_EQ(failing.next().error, "cannot read input: Input/output error");
}

}  // namespace
}  // namespace nimbra
