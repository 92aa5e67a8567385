// The standard message and method codecs against the shared byte vectors of Flutter's format,
// and against hostile input.

#include "channel/standard_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/codec_vectors.h"

namespace nimbra {
namespace {

using test::bytesFromHex;
using test::Json;
using test::loadCodecVectors;
using test::valueFromNotation;
using ::testing::HasSubstr;
using Wire = std::vector<uint8_t>;

Value decodeOk(const Wire& in) {
  Decoded<Value> d = decodeMessage(in);
  EXPECT_TRUE(d) << d.error;
  return d ? *d.value : Value();
}

std::string decodeError(const Wire& in) {
  Decoded<Value> d = decodeMessage(in);
  EXPECT_FALSE(d) << ::testing::PrintToString(in);
  EXPECT_FALSE(d.error.empty());
  return d.error;
}

// `depth` copies of `opener` in front of a null.
Wire nestedIn(const Wire& opener, int depth) {
  Wire wire;
  for (int i = 0; i < depth; ++i) wire.insert(wire.end(), opener.begin(), opener.end());
  wire.push_back(0);
  return wire;
}

// Every standard type, nested, with doubles and typed arrays at odd offsets (a golden value).
const Value kRich = valueFromNotation(loadCodecVectors()["golden"][0]["value"]);

TEST(StandardCodecBytes, SharedVectorsEncodeAndDecodeExactly) {
  const Json vectors = loadCodecVectors();
  // The page's decoder holds the same bound.
  EXPECT_EQ(vectors["maxNestingDepth"], kMaxNestingDepth);
  for (const Json& vector : vectors["messages"]) {
    SCOPED_TRACE(vector["name"].get<std::string>());
    const Value value = valueFromNotation(vector["value"]);
    const Wire wire = bytesFromHex(vector["hex"]);
    EXPECT_EQ(decodeOk(wire), value);
    if (!vector.value("decodeOnly", false)) {
      EXPECT_EQ(encodeMessage(value), wire);
    }
    // Cut anywhere, each read is checked against the bytes that remain.
    for (size_t n = 0; n < wire.size(); ++n) EXPECT_FALSE(decodeMessage(std::span(wire.data(), n)));
  }
  for (const Json& vector : vectors["malformed"]) {
    SCOPED_TRACE(vector["name"].get<std::string>());
    EXPECT_THAT(decodeError(bytesFromHex(vector["hex"])), HasSubstr(vector["error"]));
  }
  // Sizes beyond two bytes take the four-byte form.
  for (const auto& [length, header] : std::vector<std::pair<size_t, Wire>>{
           {65535, {7, 254, 0xFF, 0xFF}}, {65536, {7, 255, 0, 0, 1, 0}}}) {
    const std::string text(length, 'x');
    Wire wire = header;
    wire.insert(wire.end(), text.begin(), text.end());
    EXPECT_EQ(encodeMessage(text), wire) << length;
    EXPECT_EQ(decodeOk(wire), Value(text));
  }
}

// The golden values as this encoder writes them, read back here first. With NIMBRA_CODEC_GOLDEN
// set (ctest sets it before the page's tests run) each is left there as N.bin, the Nth golden
// value, for the page's decoder to read back and its encoder to match.
TEST(StandardCodecBytes, GoldenValuesReadBackAndAreLeftForThePage) {
  const Json vectors = loadCodecVectors();
  const char* folder = std::getenv("NIMBRA_CODEC_GOLDEN");
  if (folder) std::filesystem::create_directories(folder);
  for (size_t index = 0; index < vectors["golden"].size(); ++index) {
    const Value value = valueFromNotation(vectors["golden"][index]["value"]);
    const Wire wire = encodeMessage(value);
    EXPECT_EQ(decodeOk(wire), value) << vectors["golden"][index]["name"];
    if (!folder) continue;
    std::ofstream out(
        std::filesystem::path(folder) / (std::to_string(index) + ".bin"), std::ios::binary);
    EXPECT_TRUE(out.write(
        reinterpret_cast<const char*>(wire.data()), static_cast<std::streamsize>(wire.size())));
  }
}

TEST(StandardCodecAlignment, PiecesHoldNothingPaddedAndReadTheSameAtAnyOffset) {
  // An answer's part encoded ahead reads the same wherever it lands; a value the format pads
  // is refused, its bytes would be right at offset 0 only.
  const Value part(ValueMap{
      {"files", ValueList{"/a", "/b"}}, {"size", int64_t{1} << 40}, {"icon", Bytes{1, 2}}});
  const std::optional<EncodedValue> piece = encodePiece(part);
  ASSERT_TRUE(piece);
  for (const Value& aligned :
      {Value(ValueList{"x", 0.5}), Value(ValueMap{{"n", Int32List{1}}}), Value(Float64List{})}) {
    EXPECT_FALSE(encodePiece(aligned)) << ::testing::PrintToString(encodeMessage(aligned));
  }
  // Whatever goes before it, the piece's bytes are the part's. (The padding itself, at every
  // offset, is compared with the page's encoder through the golden values.)
  for (size_t prefix = 0; prefix < 9; ++prefix) {
    const std::string before(prefix, 'p');
    EXPECT_EQ(encodeMessage(ValueList{before, *piece}), encodeMessage(ValueList{before, part}))
        << prefix;
  }
}

TEST(StandardMethodCodec, CallsAndEnvelopesAndTheEmptyReply) {
  const Json vectors = loadCodecVectors();
  for (const Json& vector : vectors["calls"]) {
    SCOPED_TRACE(vector["name"].get<std::string>());
    const MethodCall call{vector["method"].get<std::string>(), valueFromNotation(vector["args"])};
    const Wire wire = bytesFromHex(vector["hex"]);
    EXPECT_EQ(encodeMethodCall(call), wire);
    EXPECT_EQ(decodeMethodCall(wire).value, call);
    for (size_t n = 0; n < wire.size(); ++n)
      EXPECT_FALSE(decodeMethodCall(std::span(wire.data(), n)));
  }
  for (const Json& vector : vectors["envelopes"]) {
    SCOPED_TRACE(vector["name"].get<std::string>());
    const Wire wire = bytesFromHex(vector["hex"]);
    for (size_t n = 0; n < wire.size(); ++n)
      EXPECT_FALSE(decodeEnvelope(std::span(wire.data(), n)));
    if (vector.contains("success")) {
      const Value result = valueFromNotation(vector["success"]);
      EXPECT_EQ(encodeSuccessEnvelope(result), wire);
      EXPECT_EQ(decodeEnvelope(wire).value, (Envelope{true, result, "", "", Value()}));
    } else {
      const Json& error = vector["error"];
      const Value details = valueFromNotation(error[2]);
      EXPECT_EQ(encodeErrorEnvelope(error[0], error[1], details), wire);
      EXPECT_EQ(
          decodeEnvelope(wire).value, (Envelope{false, Value(), error[0], error[1], details}));
    }
  }
  for (const Json& vector : vectors["malformedEnvelopes"]) {
    SCOPED_TRACE(vector["name"].get<std::string>());
    EXPECT_THAT(decodeEnvelope(bytesFromHex(vector["hex"])).error, HasSubstr(vector["error"]));
  }
  EXPECT_THAT(decodeEnvelope(Wire{}).error, HasSubstr("empty reply"));

  EXPECT_EQ(decodeMethodCall(encodeMethodCall({"scan", kRich})).value, (MethodCall{"scan", kRich}));
  EXPECT_EQ(
      decodeEnvelope(encodeSuccessEnvelope(kRich)).value, (Envelope{true, kRich, "", "", Value()}));
  // A name that is not a string, a call cut short, a trailing byte, nothing at all.
  for (const Wire& bad : {Wire{3, 1, 0, 0, 0, 0}, Wire{7, 1, 'm'}, Wire{7, 1, 'm', 0, 0}, Wire{}}) {
    EXPECT_FALSE(decodeMethodCall(bad)) << ::testing::PrintToString(bad);
  }
}

TEST(StandardCodecText, InvalidUtf8IsRepairedOnWriting) {
  const std::string kFffd = "\xEF\xBF\xBD";
  // A stray byte, a lone continuation, sequences cut short by the end or by ASCII, an overlong "/",
  // a surrogate, a code point above U+10FFFF; a valid four-byte character; a bad byte after a long
  // ASCII run.
  const std::vector<std::pair<std::string, std::string>> repairs = {{"a\377b", "a" + kFffd + "b"},
      {"\x80", kFffd}, {"ok\xE2\x82", "ok" + kFffd}, {"\360\237\230x", kFffd + "x"},
      {"\xC0\xAF", kFffd + kFffd}, {"\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd}, {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {std::string(20, 'a') + "\xFE", std::string(20, 'a') + kFffd},
      // Overlong three- and four-byte forms, a lead byte no character starts with; U+10FFFF and NUL
      // are valid.
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd}, {"\xF0\x80\x80\xAF", kFffd + kFffd + kFffd + kFffd},
      {"\xF5\x80\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {std::string("\xF4\x8F\xBF\xBF\0z", 6), std::string("\xF4\x8F\xBF\xBF\0z", 6)}};
  for (const auto& [in, out] : repairs) EXPECT_EQ(decodeOk(encodeMessage(in)), Value(out));
  EXPECT_EQ(decodeOk(encodeMessage(ValueMap{{"k\xFF", Value()}})),
      Value(ValueMap{{"k" + kFffd, Value()}}));
}

TEST(StandardCodecHostile, DeepNestingAndClaimedSizesAreRejectedWithoutRecursionOrAllocation) {
  // Sizes of 4 Gi elements of each type are among the shared vectors. Nested lists each claiming
  // nearly all the remaining bytes cannot all be right.
  Wire nested = nestedIn({12, 254, 0xF0, 0x03}, 200);
  nested.resize(1100, 0);
  EXPECT_THAT(decodeError(nested), HasSubstr("exceeds"));
  // The deepest value allowed, a map in a list in a map ..., goes through the encoder, the
  // decoder and destruction on this thread's stack: none of them may recurse per level.
  const Wire deepest = nestedIn({13, 1, 7, 1, 'k', 12, 1}, kMaxNestingDepth / 2);
  Decoded<Value> deep = decodeMessage(deepest);
  ASSERT_TRUE(deep) << deep.error;
  EXPECT_EQ(encodeMessage(*deep.value), deepest);
  EXPECT_THAT(decodeError(nestedIn({12, 1}, kMaxNestingDepth + 1)), HasSubstr("nested deeper"));
  EXPECT_THAT(decodeError(nestedIn({12, 1}, 1'000'000)), HasSubstr("nested deeper"));
  // {"k": {"k": ...}}
  EXPECT_THAT(decodeError(nestedIn({13, 1, 7, 1, 'k'}, 100'000)), HasSubstr("nested deeper"));
}

}  // namespace
}  // namespace nimbra
