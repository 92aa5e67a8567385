// What the front ends read and write, in memory: channel values as JSON for `call` and
// `serve --json`, and the serve framing read in chosen pieces.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "host/json/json_parse.h"
#include "host/json/json_text.h"
#include "host/serve/serve_frames.h"
#include "support/codec_vectors.h"

namespace nimbra {
namespace {

using namespace ::testing;

// Objects become maps and arrays lists; anything but one representable value is an error.
TEST(JsonValueIn, IntegersBecomeInt64AndOtherNumbersDoublesOrElseAnErrorNotAnException) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max(),
                    kMin = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(parseJsonValue(R"( {"ints": [5, -0, 9223372036854775807, -9223372036854775808],
                        "doubles": [5.0, 1e3, -2.5E-1], "text": "line\nbreak \"q\" \u00e9",
                        "nested": {"é": {}}, "flags": [true, false, null]} )")
                .value,
      Value(ValueMap{{"ints", ValueList{int64_t{5}, int64_t{0}, kMax, kMin}},
          {"doubles", ValueList{5.0, 1000.0, -0.25}}, {"text", "line\nbreak \"q\" \xC3\xA9"},
          {"nested", ValueMap{{"\xC3\xA9", ValueMap{}}}},
          {"flags", ValueList{true, false, Value()}}}));

  auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(parseJsonValue(arrays(kMaxNestingDepth)));
  const std::string range = "outside the 64-bit range";  // a double would change the number typed
  const std::vector<std::pair<std::string, std::string>> cases{
      // The grammar is the parser library's; one broken text shows its failures become errors.
      {"", ""}, {"   ", ""}, {"1 2", ""}, {"[1,]", ""}, {"// c\n1", ""}, {"\"\xFF\"", ""},
      {"9223372036854775808", range}, {"-9223372036854775809", range},
      {"[123456789012345678901234567890]", range}, {"1e400", "number overflow"},
      {R"({"a": 1, "b": 2, "a": 3})", "repeated key \"a\""},
      {arrays(kMaxNestingDepth + 1), "nested deeper"},
      {std::string(1'000'000, '['), "nested deeper"}};
  for (const auto& [text, error] : cases) {
    EXPECT_THAT(parseJsonValue(text).error,
        AllOf(Not(IsEmpty()), HasSubstr(error), Not(HasSubstr("[json.exception"))))
        << text;
  }
}

TEST(JsonValueOut, DoublesStayDoublesAndOtherTypesBecomeArrays) {
  const double infinity = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<Value, std::string>> cases{{5.0, "5.0"}, {-0.0, "-0.0"}, {0.1, "0.1"},
      {1e300, "1e+300"}, {int64_t{5}, "5"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
      // No JSON number can say these; null is what JSON.stringify writes.
      {std::nan(""), "null"}, {Float64List{infinity, 1.0}, "[null,1.0]"},
      {Bytes{0, 255}, "[0,255]"}, {Int32List{-1, 2}, "[-1,2]"}, {Float32List{1.5f}, "[1.5]"},
      {Int64List{int64_t{1} << 40}, "[1099511627776]"},
      {ValuePairs{{int64_t{1}, "one"}, {ValueList{}, ValueMap{}}}, R"([[1,"one"],[[],{}]])"},
      // One line, and valid UTF-8, whatever the strings hold.
      {ValueMap{{"path\n\"x\"", "bad \xFF utf8\tand \xC3\xA9"}},
          "{\"path\\n\\\"x\\\"\":\"bad \xEF\xBF\xBD utf8\\tand \xC3\xA9\"}"},
      {ValueMap{{"a", ValueList{int64_t{1}, 2.5, "\x01"}}, {"b", ValueMap{}}},
          R"({"a":[1,2.5,"\u0001"],"b":{}})"},
      // A part of an answer kept in its encoded form prints as what it holds.
      {ValueList{*encodePiece(ValueMap{{"files", ValueList{"/a"}}})}, R"([{"files":["/a"]}])"}};
  // The front ends write an answer straight from its bytes; the text must be the same.
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(toJsonText(value), text);
    EXPECT_EQ(successAsJsonText(encodeSuccessEnvelope(value)).value, text);
  }
  EXPECT_FALSE(successAsJsonText(encodeErrorEnvelope("E", "no", Value())));
}

using Status = FrameReader::Outcome::Status;

// Hands out `bytes` at most `piece` bytes per read, then the end.
ByteSource memorySource(std::string bytes, size_t piece = size_t{1} << 20) {
  return [bytes = std::move(bytes), piece, offset = size_t{0}](
             uint8_t* buffer, size_t capacity) mutable {
    const size_t take = std::min({capacity, piece, bytes.size() - offset});
    std::memcpy(buffer, bytes.data() + offset, take);
    offset += take;
    return static_cast<ssize_t>(take);
  };
}

std::string asText(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string withHeader(uint32_t length, const std::string& body = "") {
  return std::string{char(length), char(length >> 8), char(length >> 16), char(length >> 24)} +
         body;
}

TEST(ServeFrames, WrittenExactlyReadWhateverPiecesTheyArriveInAndBadFramingEndsTheReading) {
  // The bodies the page's codec writes and reads too, behind their length.
  const test::Json vectors = test::loadCodecVectors();
  for (const test::Json& vector : vectors["frames"]) {
    const test::Json& fields = vector["frame"];
    const Frame frame{static_cast<FrameKind>(fields[0].get<int64_t>()), fields[1], fields[2],
        fields[3].is_null() ? std::nullopt : std::optional(test::bytesFromHex(fields[3]))};
    const std::vector<uint8_t> body = test::bytesFromHex(vector["hex"]);
    EXPECT_EQ(
        asText(encodeFrame(frame)), withHeader(static_cast<uint32_t>(body.size()), asText(body)))
        << vector["name"];
    EXPECT_EQ(decodeFrameBody(body).value, frame);
  }
  // Larger than the read buffer, so it also takes the direct path into the frame's storage.
  const Frame first{FrameKind::request, 1, "nimbra/native", Bytes(70000, 0x5a)};
  const Frame second{FrameKind::notice, int64_t{1} << 40, "nimbra/events", std::nullopt};
  for (size_t piece : {size_t{3}, size_t{4096}, size_t{1} << 20}) {
    FrameReader reader(
        memorySource(asText(encodeFrame(first)) + asText(encodeFrame(second)), piece));
    EXPECT_EQ(reader.next().frame, first);
    EXPECT_EQ(reader.next().frame, second);
    EXPECT_EQ(reader.next().status, Status::endOfInput);
  }

  // Bad framing is malformed and ends the reading.
  const std::string good = asText(encodeFrame(Frame{FrameKind::notice, 1, "c", std::nullopt}));
  // Lengths of zero and over the limit, input cut in the length and in the body, a length at the
  // limit with no data behind it, no codec message; bodies of the wrong shape, from the vectors.
  std::vector<std::string> cases = {withHeader(0),
      withHeader(static_cast<uint32_t>(kMaxFrameBodySize + 1)), good.substr(0, 2),
      good.substr(0, good.size() - 1), withHeader(static_cast<uint32_t>(kMaxFrameBodySize), "ab"),
      withHeader(2, "\xff\xff")};
  for (const test::Json& vector : vectors["malformedFrames"]) {
    const std::vector<uint8_t> body = test::bytesFromHex(vector["hex"]);
    EXPECT_THAT(decodeFrameBody(body).error, HasSubstr(vector["error"])) << vector["name"];
    cases.push_back(withHeader(static_cast<uint32_t>(body.size()), asText(body)));
  }
  for (const std::string& bytes : cases) {
    FrameReader reader(memorySource(bytes));
    FrameReader::Outcome outcome = reader.next();
    EXPECT_EQ(outcome.status, Status::malformed) << ::testing::PrintToString(bytes);
    EXPECT_FALSE(outcome.error.empty());
    EXPECT_EQ(reader.next().status, Status::malformed);
  }
  FrameReader failing([](uint8_t*, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  });
  EXPECT_EQ(failing.next().error, "cannot read input: Input/output error");
}

}  // namespace
}  // namespace nimbra
