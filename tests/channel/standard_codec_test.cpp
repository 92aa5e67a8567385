// The standard message and method codecs against hand-written bytes of Flutter's format, and
// against hostile input.

#include "channel/standard_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace nimbra {
namespace {

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

// Every standard type, nested, with doubles and typed arrays at odd offsets.
const Value kRich(ValueMap{
    {"items", ValueList{ValueMap{{"path", "/home/u/a \xC3\xA9.bin"}, {"size", int64_t{5'000'000'000}},
                                 {"modified", int64_t{1'700'000'000}}, {"ratio", 0.25}},
                        Value(), true, false}},
    {"typed", ValueList{Bytes{1, 2, 3}, Int32List{-1, 7}, Int64List{int64_t{1} << 40}, Float32List{1.5f},
                        Float64List{-2.5, 1e300}}},
    {"pairs", ValuePairs{{int64_t{1}, "one"}, {ValueList{}, ValueMap{}}}},
});

TEST(StandardCodecBytes, EveryTypeEncodesAndDecodesToFlutterBytes) {
  const std::vector<std::pair<Value, Wire>> cases = {
      {Value(), {0}}, {true, {1}}, {false, {2}}, {int64_t{-2}, {3, 0xFE, 0xFF, 0xFF, 0xFF}},
      {int64_t{0x0102030405060708}, {4, 8, 7, 6, 5, 4, 3, 2, 1}},
      {1.0, {6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {"h\xC3\xA9", {7, 3, 'h', 0xC3, 0xA9}}, {Bytes{1, 2, 0xFF}, {8, 3, 1, 2, 0xFF}},
      {Int32List{1, -1}, {9, 2, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      {Int64List{-1}, {10, 1, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {Float32List{1.0f}, {14, 1, 0, 0, 0, 0, 0x80, 0x3F}},
      {Float64List{1.0}, {11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {ValueList{int64_t{1}, "a"}, {12, 2, 3, 1, 0, 0, 0, 7, 1, 'a'}},
      {ValueMap{{"a", int64_t{1}}, {"b", Value()}}, {13, 2, 7, 1, 'a', 3, 1, 0, 0, 0, 7, 1, 'b', 0}},
      {ValuePairs{{int64_t{1}, true}, {"k", Value()}}, {13, 2, 3, 1, 0, 0, 0, 1, 7, 1, 'k', 0}},
      // Empty typed lists still pad: their data would start at the aligned offset.
      {Int32List{}, {9, 0, 0, 0}}, {Int64List{}, {10, 0, 0, 0, 0, 0, 0, 0}}, {Float32List{}, {14, 0, 0, 0}},
      {Float64List{}, {11, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& [value, wire] : cases) {
    EXPECT_EQ(encodeMessage(value), wire);
    EXPECT_EQ(decodeOk(wire), value);
  }
  // Flutter never writes a "large int"; its decoders read the text as a string.
  EXPECT_EQ(decodeOk({5, 3, '1', '0', '0'}), Value("100"));
}

TEST(StandardCodecBytes, IntegersAndSizesTakeTheShortestForm) {
  constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
  for (int64_t n : {int64_t{0}, kMax32, kMax32 + 1, kMin32, kMin32 - 1, std::numeric_limits<int64_t>::max(),
                    std::numeric_limits<int64_t>::min()}) {
    const Wire wire = encodeMessage(n);
    const bool fits = n >= kMin32 && n <= kMax32;
    EXPECT_EQ(std::pair(int{wire[0]}, wire.size()), fits ? std::pair(3, size_t{5}) : std::pair(4, size_t{9})) << n;
    EXPECT_EQ(decodeOk(wire), Value(n));
  }
  EXPECT_EQ(decodeOk({4, 5, 0, 0, 0, 0, 0, 0, 0}), Value(int64_t{5}));  // another writer's int64

  for (const auto& [length, header] : std::vector<std::pair<size_t, Wire>>{
           {253, {7, 253}}, {254, {7, 254, 254, 0}}, {65535, {7, 254, 0xFF, 0xFF}},
           {65536, {7, 255, 0, 0, 1, 0}}}) {
    const std::string text(length, 'x');
    Wire wire = header;
    wire.insert(wire.end(), text.begin(), text.end());
    EXPECT_EQ(encodeMessage(text), wire) << length;
    EXPECT_EQ(decodeOk(wire), Value(text));
  }
  EXPECT_EQ(decodeOk({7, 255, 1, 0, 0, 0, 'a'}), Value("a"));  // sizes need not be minimal
}

TEST(StandardCodecAlignment, PaddingCountsFromTheStartOfTheMessageAndPiecesHoldNone) {
  // An answer's part encoded ahead reads the same wherever it lands; a value the format pads
  // is refused, its bytes would be right at offset 0 only.
  const Value part(ValueMap{{"files", ValueList{"/a", "/b"}}, {"size", int64_t{1} << 40}, {"icon", Bytes{1, 2}}});
  const std::optional<EncodedValue> piece = encodePiece(part);
  ASSERT_TRUE(piece);
  for (const Value& aligned :
       {Value(ValueList{"x", 0.5}), Value(ValueMap{{"n", Int32List{1}}}), Value(Float64List{})}) {
    EXPECT_FALSE(encodePiece(aligned)) << ::testing::PrintToString(encodeMessage(aligned));
  }
  // A string of growing length before them moves the values through every offset.
  for (size_t prefix = 0; prefix < 9; ++prefix) {
    SCOPED_TRACE(prefix);
    const Value list(ValueList{std::string(prefix, 'p'), -0.5, Int32List{7}, Float32List{2.0f},
                               Int64List{-7}, Float64List{0.125}, Bytes{9}});
    const Wire wire = encodeMessage(list);
    EXPECT_EQ(decodeOk(wire), list);
    size_t at = 4 + prefix;  // list header, string header, string
    for (auto [type, width] : {std::pair{6, 8}, {9, 4}, {14, 4}, {10, 8}, {11, 8}}) {
      ASSERT_EQ(wire[at++], type);
      ASSERT_TRUE(type == 6 || wire[at++] == 1) << "element count";
      while (at % width != 0) EXPECT_EQ(wire[at++], 0);
      at += width;
    }
    EXPECT_EQ(Wire(wire.begin() + at, wire.end()), (Wire{8, 1, 9}));
    const std::string before(prefix, 'p');
    EXPECT_EQ(encodeMessage(ValueList{before, *piece}), encodeMessage(ValueList{before, part}));
  }
}

TEST(StandardMethodCodec, CallsAndEnvelopesAndTheEmptyReply) {
  // The arguments share the name's buffer: 3 name bytes, the type byte, 4 bytes of padding.
  const Wire call = {7, 1, 'm', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
  EXPECT_EQ(encodeMethodCall({"m", 1.0}), call);
  EXPECT_EQ(decodeMethodCall(call).value, (MethodCall{"m", 1.0}));
  EXPECT_EQ(decodeMethodCall(encodeMethodCall({"scan", kRich})).value, (MethodCall{"scan", kRich}));
  for (const Wire& bad : {Wire{3, 1, 0, 0, 0, 0}, Wire{7, 1, 'm'}, Wire{7, 1, 'm', 0, 0}, Wire{}}) {
    EXPECT_FALSE(decodeMethodCall(bad)) << ::testing::PrintToString(bad);
  }

  EXPECT_EQ(encodeSuccessEnvelope(true), (Wire{0, 1}));
  EXPECT_EQ(encodeSuccessEnvelope(Float64List{1.0}),
            (Wire{0, 11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(encodeErrorEnvelope("E", "bad", int64_t{2}),
            (Wire{1, 7, 1, 'E', 7, 3, 'b', 'a', 'd', 3, 2, 0, 0, 0}));
  EXPECT_EQ(encodeErrorEnvelope("E", "", Value()), (Wire{1, 7, 1, 'E', 0, 0}));  // empty message as null
  EXPECT_EQ(decodeEnvelope(encodeSuccessEnvelope(kRich)).value, (Envelope{true, kRich, "", "", Value()}));
  EXPECT_EQ(decodeEnvelope(encodeErrorEnvelope("code", "why", "more")).value,
            (Envelope{false, Value(), "code", "why", "more"}));
  EXPECT_EQ(decodeEnvelope(Wire{1, 7, 1, 'E', 0, 0}).value, (Envelope{false, Value(), "E", "", Value()}));

  EXPECT_THAT(decodeEnvelope(Wire{}).error, HasSubstr("empty reply"));
  // Unknown kind, code or message not a string, a trailing byte, details missing.
  for (const Wire& bad :
       {Wire{2, 0}, Wire{1, 0, 0, 0}, Wire{1, 7, 1, 'E', 1, 0}, Wire{0, 0, 0}, Wire{1, 7, 1, 'E', 0}}) {
    EXPECT_FALSE(decodeEnvelope(bad)) << ::testing::PrintToString(bad);
  }
}

TEST(StandardCodecText, InvalidUtf8IsRepairedOnWritingAndRejectedOnReading) {
  const std::string kFffd = "\xEF\xBF\xBD";
  // A stray byte, a lone continuation, sequences cut short by the end or by ASCII, an overlong "/",
  // a surrogate, a code point above U+10FFFF; a valid four-byte character; a bad byte after a long
  // ASCII run.
  const std::vector<std::pair<std::string, std::string>> repairs = {
      {"a\xFF" "b", "a" + kFffd + "b"}, {"\x80", kFffd}, {"ok\xE2\x82", "ok" + kFffd},
      {"\xF0\x9F\x98" "x", kFffd + "x"}, {"\xC0\xAF", kFffd + kFffd}, {"\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd}, {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {std::string(20, 'a') + "\xFE", std::string(20, 'a') + kFffd},
      // Overlong three- and four-byte forms, a lead byte no character starts with; U+10FFFF and NUL are valid.
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd}, {"\xF0\x80\x80\xAF", kFffd + kFffd + kFffd + kFffd},
      {"\xF5\x80\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {std::string("\xF4\x8F\xBF\xBF\0z", 6), std::string("\xF4\x8F\xBF\xBF\0z", 6)},
  };
  for (const auto& [in, out] : repairs) EXPECT_EQ(decodeOk(encodeMessage(in)), Value(out));
  EXPECT_EQ(decodeOk(encodeMessage(ValueMap{{"k\xFF", Value()}})), Value(ValueMap{{"k" + kFffd, Value()}}));

  for (const Wire& bad : {Wire{7, 1, 0xFF}, Wire{7, 2, 0xC0, 0xAF}, Wire{7, 3, 0xED, 0xA0, 0x80},
                          Wire{13, 1, 7, 1, 0x80, 0}, Wire{5, 1, 0xFF}}) {
    EXPECT_THAT(decodeError(bad), HasSubstr("UTF-8"));
  }
}

TEST(StandardCodecMaps, KeysInAnyWireOrderDecodeToTheRightShape) {
  // Dart writes maps in insertion order, not sorted.
  EXPECT_EQ(decodeOk({13, 3, 7, 1, 'c', 0, 7, 1, 'a', 1, 7, 1, 'b', 2}),
            Value(ValueMap{{"a", true}, {"b", false}, {"c", Value()}}));
  // One key that is not a string makes the whole map pairs, in wire order.
  EXPECT_EQ(decodeOk({13, 3, 7, 1, 'b', 0, 7, 1, 'a', 1, 3, 9, 0, 0, 0, 2}),
            Value(ValuePairs{{"b", Value()}, {"a", true}, {int64_t{9}, false}}));
  EXPECT_EQ(decodeOk({13, 2, 12, 0, 0, 7, 1, 'z', 1}),
            Value(ValuePairs{{ValueList{}, Value()}, {"z", true}}));
  // A repeated string key is rejected rather than one entry silently dropped.
  EXPECT_THAT(decodeError({13, 3, 7, 1, 'b', 1, 7, 1, 'a', 1, 7, 1, 'b', 2}), HasSubstr("repeated map key"));
}

TEST(StandardCodecHostile, TruncationAndHugeSizesFailWithoutAllocating) {
  const Wire message = encodeMessage(kRich);
  const Wire call = encodeMethodCall({"scanLargeFiles", kRich});
  const Wire envelope = encodeErrorEnvelope("E", "message", kRich);
  ASSERT_EQ(decodeOk(message), kRich);
  for (size_t n = 0; n < message.size(); ++n) decodeError(Wire(message.begin(), message.begin() + n));
  for (size_t n = 0; n < call.size(); ++n) EXPECT_FALSE(decodeMethodCall(std::span(call.data(), n))) << n;
  for (size_t n = 0; n < envelope.size(); ++n) EXPECT_FALSE(decodeEnvelope(std::span(envelope.data(), n)));

  // Under ASan an attempt to allocate 4 Gi elements of any type would abort the test.
  for (int type : {5, 7, 8, 9, 10, 11, 12, 13, 14}) {
    EXPECT_THAT(decodeError({static_cast<uint8_t>(type), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}),
                HasSubstr("exceeds"));
  }
  // Nested lists each claiming nearly all the remaining bytes cannot all be right.
  Wire nested = nestedIn({12, 254, 0xF0, 0x03}, 200);
  nested.resize(1100, 0);
  EXPECT_THAT(decodeError(nested), HasSubstr("exceeds"));
  EXPECT_THAT(decodeError({12, 2, 7, 1, 'a'}), HasSubstr("exceeds"));  // the string took the second element
}

TEST(StandardCodecHostile, UnknownTypesDeepNestingAndTrailingBytesAreRejected) {
  for (int type = 15; type < 256; ++type) {
    EXPECT_THAT(decodeError({static_cast<uint8_t>(type)}),
                HasSubstr("unknown type byte " + std::to_string(type)));
  }
  EXPECT_THAT(decodeError({12, 2, 0, 99}), HasSubstr("unknown type byte 99 at offset 3"));

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

  EXPECT_THAT(decodeError({0, 0}), HasSubstr("1 trailing bytes"));
}

}  // namespace
}  // namespace nimbra
