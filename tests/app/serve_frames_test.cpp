// The serve framing read from memory in chosen pieces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/serve_frames.h"

namespace nimbra {
namespace {

// Hands out `bytes` at most `piece` bytes per read, then the end (or, with `failAtEnd`, EIO).
ByteSource memorySource(std::string bytes, size_t piece = size_t{1} << 20, bool failAtEnd = false) {
  return [bytes = std::move(bytes), piece, failAtEnd, offset = size_t{0}](uint8_t* buffer,
                                                                         size_t capacity) mutable -> ssize_t {
    if (offset == bytes.size() && failAtEnd) {
      errno = EIO;
      return -1;
    }
    const size_t take = std::min({capacity, piece, bytes.size() - offset});
    std::memcpy(buffer, bytes.data() + offset, take);
    offset += take;
    return static_cast<ssize_t>(take);
  };
}

std::string asText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string header(uint32_t length) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(length >> (8 * i)));
  return bytes;
}

TEST(ServeFrames, EncodesLengthPrefixAndCodecListExactly) {
  EXPECT_EQ(encodeFrame(Frame{FrameKind::answer, 7, "a/b", Bytes{0x00, 0x01}}),
            (std::vector<uint8_t>{0x15, 0x00, 0x00, 0x00,        // 21 bytes follow
                                  0x0c, 0x04,                    // list of 4
                                  0x03, 0x01, 0x00, 0x00, 0x00,  // kind 1
                                  0x03, 0x07, 0x00, 0x00, 0x00,  // id 7
                                  0x07, 0x03, 'a', '/', 'b',     // channel
                                  0x08, 0x02, 0x00, 0x01}));     // message bytes
}

TEST(ServeFrames, ReaderTakesFramesWhateverPiecesTheyArriveIn) {
  // Larger than the read buffer, so it also takes the direct path into the frame's storage.
  const Frame first{FrameKind::request, 1, "nimbra/native", Bytes(70000, 0x5a)};
  const Frame second{FrameKind::notice, int64_t{1} << 40, "nimbra/events", std::nullopt};
  for (size_t piece : {size_t{3}, size_t{4096}, size_t{1} << 20}) {
    FrameReader reader(memorySource(asText(encodeFrame(first)) + asText(encodeFrame(second)), piece));
    FrameReader::Outcome one = reader.next();
    ASSERT_EQ(one.status, FrameReader::Outcome::Status::frame) << one.error;
    EXPECT_EQ(one.frame, first);
    FrameReader::Outcome two = reader.next();
    ASSERT_EQ(two.status, FrameReader::Outcome::Status::frame) << two.error;
    EXPECT_EQ(two.frame, second);
    EXPECT_EQ(reader.next().status, FrameReader::Outcome::Status::endOfInput);
  }
}

TEST(ServeFrames, BadFramingIsMalformedAndEndsTheReading) {
  const std::string good = asText(encodeFrame(Frame{FrameKind::notice, 1, "c", std::nullopt}));
  auto body = [](const Value& value) {
    const std::string bytes = asText(encodeMessage(value));
    return header(static_cast<uint32_t>(bytes.size())) + bytes;
  };
  const std::vector<std::pair<std::string, std::string>> cases{
      {"zero length", header(0)},
      {"over the limit", header(static_cast<uint32_t>(kMaxFrameBodySize + 1))},
      {"cut in the length", good.substr(0, 2)},
      {"cut in the body", good.substr(0, good.size() - 1)},
      // A hostile length at the limit with almost no data behind it.
      {"announced but absent", header(static_cast<uint32_t>(kMaxFrameBodySize)) + "ab"},
      {"not a codec message", header(2) + "\xff\xff"},
      {"not a list", body(true)},
      {"three fields", body(ValueList{int64_t{0}, int64_t{1}, "c"})},
      {"unknown kind", body(ValueList{int64_t{3}, int64_t{1}, "c", Value()})},
      {"id not an integer", body(ValueList{int64_t{0}, "1", "c", Value()})},
      {"channel not a string", body(ValueList{int64_t{0}, int64_t{1}, int64_t{5}, Value()})},
      {"message a string", body(ValueList{int64_t{0}, int64_t{1}, "c", "text"})},
  };
  for (const auto& [what, bytes] : cases) {
    FrameReader reader(memorySource(bytes));
    FrameReader::Outcome outcome = reader.next();
    EXPECT_EQ(outcome.status, FrameReader::Outcome::Status::malformed) << what;
    EXPECT_FALSE(outcome.error.empty()) << what;
    EXPECT_EQ(reader.next().status, FrameReader::Outcome::Status::malformed) << what;
  }

  FrameReader failing(memorySource(good, 1 << 20, /*failAtEnd=*/true));
  EXPECT_EQ(failing.next().status, FrameReader::Outcome::Status::frame);
  EXPECT_EQ(failing.next().error, "cannot read input: Input/output error");
}

}  // namespace
}  // namespace nimbra
