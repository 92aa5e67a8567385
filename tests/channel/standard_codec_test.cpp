#include "channel/standard_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace nimbra {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using ByteList = std::vector<uint8_t>;

ByteList bytes(std::initializer_list<int> list) {
  ByteList out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

ByteList concat(ByteList a, const ByteList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ByteList textBytes(const std::string& s) { return ByteList(s.begin(), s.end()); }

Value decodeOk(const ByteList& in) {
  Decoded<Value> d = decodeMessage(in);
  EXPECT_TRUE(d) << d.error;
  return d ? *d.value : Value();
}

std::string decodeError(const ByteList& in) {
  Decoded<Value> d = decodeMessage(in);
  EXPECT_FALSE(d);
  EXPECT_THAT(d.error, Not(IsEmpty()));
  return d.error;
}

// A value using every standard type, nested, with doubles and typed arrays at odd offsets.
Value richValue() {
  return Value(ValueMap{
      {"items", Value(ValueList{
                    Value(ValueMap{{"path", Value("/home/u/a \xC3\xA9.bin")},
                                   {"size", Value(int64_t{5'000'000'000})},
                                   {"modified", Value(int64_t{1'700'000'000})},
                                   {"ratio", Value(0.25)}}),
                    Value(),
                    Value(true),
                    Value(false),
                })},
      {"typed", Value(ValueList{Value(Bytes{1, 2, 3}), Value(Int32List{-1, 7}),
                                Value(Int64List{int64_t{1} << 40}), Value(Float32List{1.5f}),
                                Value(Float64List{-2.5, 1e300})})},
      {"pairs", Value(ValuePairs{{Value(int64_t{1}), Value("one")},
                                 {Value(ValueList{}), Value(ValueMap{})}})},
  });
}

// --- Exact bytes, as Flutter's format writes them -------------------------------------

struct Exact {
  const char* name;
  Value value;
  ByteList wire;
};

TEST(StandardCodecBytes, EveryTypeEncodesAndDecodesToFlutterBytes) {
  const std::vector<Exact> cases = {
      {"null", Value(), bytes({0})},
      {"true", Value(true), bytes({1})},
      {"false", Value(false), bytes({2})},
      {"int32", Value(int64_t{-2}), bytes({3, 0xFE, 0xFF, 0xFF, 0xFF})},
      {"int64", Value(int64_t{0x0102030405060708}), bytes({4, 8, 7, 6, 5, 4, 3, 2, 1})},
      {"float64 aligned to 8", Value(1.0), bytes({6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
      {"string", Value("hello"), bytes({7, 5, 'h', 'e', 'l', 'l', 'o'})},
      {"string, two-byte character", Value("\xC3\xA9"), bytes({7, 2, 0xC3, 0xA9})},
      {"empty string", Value(""), bytes({7, 0})},
      {"uint8 list", Value(Bytes{1, 2, 0xFF}), bytes({8, 3, 1, 2, 0xFF})},
      {"int32 list aligned to 4", Value(Int32List{1, -1}),
       bytes({9, 2, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"int64 list aligned to 8", Value(Int64List{-1}),
       bytes({10, 1, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"float32 list aligned to 4", Value(Float32List{1.0f}), bytes({14, 1, 0, 0, 0, 0, 0x80, 0x3F})},
      {"float64 list aligned to 8", Value(Float64List{1.0}),
       bytes({11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
      {"list", Value(ValueList{Value(int64_t{1}), Value("a")}), bytes({12, 2, 3, 1, 0, 0, 0, 7, 1, 'a'})},
      {"map with string keys", Value(ValueMap{{"a", Value(int64_t{1})}, {"b", Value()}}),
       bytes({13, 2, 7, 1, 'a', 3, 1, 0, 0, 0, 7, 1, 'b', 0})},
      {"map with other keys", Value(ValuePairs{{Value(int64_t{1}), Value(true)}, {Value("k"), Value()}}),
       bytes({13, 2, 3, 1, 0, 0, 0, 1, 7, 1, 'k', 0})},
      {"empty list", Value(ValueList{}), bytes({12, 0})},
      {"empty map", Value(ValueMap{}), bytes({13, 0})},
      // Empty typed lists still pad: the data would start at the aligned offset.
      {"empty uint8 list", Value(Bytes{}), bytes({8, 0})},
      {"empty int32 list", Value(Int32List{}), bytes({9, 0, 0, 0})},
      {"empty int64 list", Value(Int64List{}), bytes({10, 0, 0, 0, 0, 0, 0, 0})},
      {"empty float32 list", Value(Float32List{}), bytes({14, 0, 0, 0})},
      {"empty float64 list", Value(Float64List{}), bytes({11, 0, 0, 0, 0, 0, 0, 0})},
  };
  for (const Exact& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encodeMessage(c.value), c.wire);
    EXPECT_EQ(decodeOk(c.wire), c.value);
  }
}

TEST(StandardCodecBytes, IntegersTakeInt32WheneverTheyFit) {
  struct Case {
    int64_t value;
    uint8_t type;
  };
  constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
  const Case cases[] = {
      {0, 3},
      {kMax32, 3},
      {kMax32 + 1, 4},
      {kMin32, 3},
      {kMin32 - 1, 4},
      {std::numeric_limits<int64_t>::max(), 4},
      {std::numeric_limits<int64_t>::min(), 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const ByteList wire = encodeMessage(Value(c.value));
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire[0], c.type);
    EXPECT_EQ(wire.size(), c.type == 3 ? 5u : 9u);
    EXPECT_EQ(decodeOk(wire), Value(c.value));
  }
  // A small number sent as int64 by another writer reads as the same integer.
  EXPECT_EQ(decodeOk(bytes({4, 5, 0, 0, 0, 0, 0, 0, 0})), Value(int64_t{5}));
}

TEST(StandardCodecBytes, SizesUseOneThreeOrFiveBytes) {
  struct Case {
    size_t length;
    ByteList header;
  };
  const Case cases[] = {
      {253, bytes({7, 253})},
      {254, bytes({7, 254, 254, 0})},
      {65535, bytes({7, 254, 0xFF, 0xFF})},
      {65536, bytes({7, 255, 0, 0, 1, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string text(c.length, 'x');
    const ByteList wire = encodeMessage(Value(text));
    EXPECT_EQ(wire, concat(c.header, textBytes(text)));
    EXPECT_EQ(decodeOk(wire), Value(text));
  }
  // The same rule for element counts.
  const ValueList many(300, Value());
  const ByteList wire = encodeMessage(Value(many));
  EXPECT_EQ(ByteList(wire.begin(), wire.begin() + 4), bytes({12, 254, 0x2C, 0x01}));
  EXPECT_EQ(decodeOk(wire), Value(many));
  // Other writers may spend more size bytes than needed; that is still one string.
  EXPECT_EQ(decodeOk(bytes({7, 254, 1, 0, 'a'})), Value("a"));
  EXPECT_EQ(decodeOk(bytes({7, 255, 1, 0, 0, 0, 'a'})), Value("a"));
}

TEST(StandardCodecBytes, LargeIntReadsAsItsText) {
  EXPECT_EQ(decodeOk(bytes({5, 3, '1', '0', '0'})), Value("100"));
}

// --- Alignment counts from the start of the whole message -----------------------------

// Offset of the first byte of `tail` inside `wire` when `wire` ends with it.
size_t offsetOfTail(const ByteList& wire, size_t tailLength) { return wire.size() - tailLength; }

TEST(StandardCodecAlignment, DoublesInsideListsAndMapsAlignToTheMessageStart) {
  // A string of growing length before the double moves the double through every offset.
  for (size_t prefix = 0; prefix < 9; ++prefix) {
    SCOPED_TRACE(prefix);
    const Value list(ValueList{Value(std::string(prefix, 'p')), Value(-0.5)});
    const ByteList wire = encodeMessage(list);
    const size_t dataOffset = offsetOfTail(wire, 8);
    EXPECT_EQ(dataOffset % 8, 0u);
    const size_t typeOffset = 2 + 2 + prefix;  // list header, string header, string
    EXPECT_EQ(wire[typeOffset], 6);
    for (size_t i = typeOffset + 1; i < dataOffset; ++i) EXPECT_EQ(wire[i], 0) << "padding at " << i;
    EXPECT_LT(dataOffset - typeOffset, 9u);
    EXPECT_EQ(decodeOk(wire), list);

    const Value map(ValueMap{{std::string(prefix + 1, 'k'), Value(3.25)}});
    const ByteList mapWire = encodeMessage(map);
    EXPECT_EQ(offsetOfTail(mapWire, 8) % 8, 0u);
    EXPECT_EQ(decodeOk(mapWire), map);
  }
}

TEST(StandardCodecAlignment, TypedListsInsideListsAlignToTheirElementWidth) {
  for (size_t prefix = 0; prefix < 9; ++prefix) {
    SCOPED_TRACE(prefix);
    const Value value(ValueList{Value(std::string(prefix, 'p')), Value(Int32List{7}),
                                Value(Float32List{2.0f}), Value(Int64List{-7}),
                                Value(Float64List{0.125}), Value(Bytes{9})});
    const ByteList wire = encodeMessage(value);
    EXPECT_EQ(decodeOk(wire), value);

    // Walk the wire by hand: each typed list's data must start at a multiple of its width.
    size_t at = 2 + 2 + prefix;
    for (auto [type, width] : {std::pair{9, 4}, {14, 4}, {10, 8}, {11, 8}}) {
      ASSERT_EQ(wire[at], type);
      ASSERT_EQ(wire[at + 1], 1);
      size_t data = at + 2;
      while (data % width != 0) EXPECT_EQ(wire[data++], 0);
      at = data + width;
    }
    EXPECT_EQ(ByteList(wire.begin() + at, wire.end()), bytes({8, 1, 9}));
  }
}

TEST(StandardCodecAlignment, MethodCallsAndEnvelopesAlignAcrossTheirParts) {
  // The arguments follow the name in the same buffer: 3 name bytes, type byte, 4 padding.
  const ByteList call = encodeMethodCall({"m", Value(1.0)});
  EXPECT_EQ(call, bytes({7, 1, 'm', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  Decoded<MethodCall> decoded = decodeMethodCall(call);
  ASSERT_TRUE(decoded) << decoded.error;
  EXPECT_EQ(*decoded.value, (MethodCall{"m", Value(1.0)}));

  const ByteList envelope = encodeSuccessEnvelope(Value(Float64List{1.0}));
  EXPECT_EQ(envelope, bytes({0, 11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}

// --- Method calls and envelopes -------------------------------------------------------

TEST(StandardMethodCodec, CallsCarryANameAndOneArgument) {
  EXPECT_EQ(encodeMethodCall({"cancel", Value()}), concat(bytes({7, 6}), concat(textBytes("cancel"), bytes({0}))));
  const MethodCall call{"scanLargeFiles", Value(ValueMap{{"root", Value("/tmp")}})};
  Decoded<MethodCall> decoded = decodeMethodCall(encodeMethodCall(call));
  ASSERT_TRUE(decoded) << decoded.error;
  EXPECT_EQ(*decoded.value, call);

  EXPECT_THAT(decodeMethodCall(bytes({3, 1, 0, 0, 0, 0})).error, HasSubstr("not a string"));
  EXPECT_FALSE(decodeMethodCall(bytes({7, 1, 'm'})));          // no arguments
  EXPECT_FALSE(decodeMethodCall(bytes({7, 1, 'm', 0, 0})));    // trailing byte
  EXPECT_FALSE(decodeMethodCall(ByteList{}));
}

TEST(StandardMethodCodec, EnvelopesRoundTripAndEmptyRepliesAreNotEnvelopes) {
  EXPECT_EQ(encodeSuccessEnvelope(Value(true)), bytes({0, 1}));
  EXPECT_EQ(encodeErrorEnvelope("E", "bad", Value(int64_t{2})),
            bytes({1, 7, 1, 'E', 7, 3, 'b', 'a', 'd', 3, 2, 0, 0, 0}));
  // An empty message travels as null and comes back empty.
  const ByteList noMessage = encodeErrorEnvelope("E", "", Value());
  EXPECT_EQ(noMessage, bytes({1, 7, 1, 'E', 0, 0}));

  Decoded<Envelope> success = decodeEnvelope(encodeSuccessEnvelope(richValue()));
  ASSERT_TRUE(success) << success.error;
  EXPECT_EQ(*success.value, (Envelope{true, richValue(), "", "", Value()}));

  Decoded<Envelope> error = decodeEnvelope(encodeErrorEnvelope("code", "why", Value("more")));
  ASSERT_TRUE(error) << error.error;
  EXPECT_EQ(*error.value, (Envelope{false, Value(), "code", "why", Value("more")}));
  Decoded<Envelope> bare = decodeEnvelope(noMessage);
  ASSERT_TRUE(bare) << bare.error;
  EXPECT_EQ(bare.value->message, "");

  EXPECT_THAT(decodeEnvelope(ByteList{}).error, HasSubstr("empty reply"));
  EXPECT_THAT(decodeEnvelope(bytes({2, 0})).error, HasSubstr("envelope kind"));
  EXPECT_THAT(decodeEnvelope(bytes({1, 0, 0, 0})).error, HasSubstr("code is not a string"));
  EXPECT_THAT(decodeEnvelope(bytes({1, 7, 1, 'E', 1, 0})).error, HasSubstr("message"));
  EXPECT_FALSE(decodeEnvelope(bytes({0, 0, 0})));  // trailing byte
  EXPECT_FALSE(decodeEnvelope(bytes({1, 7, 1, 'E', 0})));  // details missing
}

// --- Text -----------------------------------------------------------------------------

TEST(StandardCodecText, InvalidUtf8IsWrittenWithReplacementCharacters) {
  const std::string kFffd = "\xEF\xBF\xBD";
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"stray byte", "a\xFF" "b", "a" + kFffd + "b"},
      {"lone continuation", "\x80", kFffd},
      {"sequence cut short at the end", "ok\xE2\x82", "ok" + kFffd},
      {"sequence cut short by ASCII", "\xF0\x9F\x98" "x", kFffd + "x"},
      {"overlong slash", "\xC0\xAF", kFffd + kFffd},
      {"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"above U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"valid four-byte character kept", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"long ASCII run then a bad byte", std::string(20, 'a') + "\xFE", std::string(20, 'a') + kFffd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decodeOk(encodeMessage(Value(c.in))), Value(c.out));
  }
  // Map keys pass through the same repair.
  EXPECT_EQ(decodeOk(encodeMessage(Value(ValueMap{{"k\xFF", Value()}}))),
            Value(ValueMap{{"k" + kFffd, Value()}}));
}

TEST(StandardCodecText, DecodingRejectsInvalidUtf8) {
  EXPECT_THAT(decodeError(bytes({7, 1, 0xFF})), HasSubstr("UTF-8"));
  EXPECT_THAT(decodeError(bytes({7, 2, 0xC0, 0xAF})), HasSubstr("UTF-8"));
  EXPECT_THAT(decodeError(bytes({7, 3, 0xED, 0xA0, 0x80})), HasSubstr("UTF-8"));
  EXPECT_THAT(decodeError(bytes({13, 1, 7, 1, 0x80, 0})), HasSubstr("UTF-8"));
  EXPECT_THAT(decodeError(bytes({5, 1, 0xFF})), HasSubstr("UTF-8"));
}

// --- Maps -----------------------------------------------------------------------------

TEST(StandardCodecMaps, KeysInAnyWireOrderDecodeToTheRightShape) {
  // Dart writes maps in insertion order, not sorted.
  EXPECT_EQ(decodeOk(bytes({13, 3, 7, 1, 'c', 0, 7, 1, 'a', 1, 7, 1, 'b', 2})),
            Value(ValueMap{{"a", Value(true)}, {"b", Value(false)}, {"c", Value()}}));
  // One non-string key makes the whole map pairs, in wire order, whether the string keys
  // before it arrived sorted or not.
  EXPECT_EQ(decodeOk(bytes({13, 3, 7, 1, 'a', 0, 7, 1, 'b', 1, 3, 9, 0, 0, 0, 2})),
            Value(ValuePairs{{Value("a"), Value()},
                             {Value("b"), Value(true)},
                             {Value(int64_t{9}), Value(false)}}));
  EXPECT_EQ(decodeOk(bytes({13, 4, 7, 1, 'c', 0, 7, 1, 'a', 1, 7, 1, 'b', 2, 0, 0})),
            Value(ValuePairs{{Value("c"), Value()},
                             {Value("a"), Value(true)},
                             {Value("b"), Value(false)},
                             {Value(), Value()}}));
  EXPECT_EQ(decodeOk(bytes({13, 2, 12, 0, 0, 7, 1, 'z', 1})),
            Value(ValuePairs{{Value(ValueList{}), Value()}, {Value("z"), Value(true)}}));
}

TEST(StandardCodecMaps, RepeatedStringKeyIsRejectedRatherThanDropped) {
  EXPECT_THAT(decodeError(bytes({13, 2, 7, 1, 'a', 1, 7, 1, 'a', 2})), HasSubstr("repeated map key"));
  EXPECT_THAT(decodeError(bytes({13, 3, 7, 1, 'b', 1, 7, 1, 'a', 1, 7, 1, 'b', 2})),
              HasSubstr("repeated map key"));
}

// --- Hostile input --------------------------------------------------------------------

TEST(StandardCodecHostile, EveryTruncationOfARichMessageIsAnError) {
  const ByteList wire = encodeMessage(richValue());
  ASSERT_EQ(decodeOk(wire), richValue());
  for (size_t length = 0; length < wire.size(); ++length) {
    SCOPED_TRACE(length);
    decodeError(ByteList(wire.begin(), wire.begin() + length));
  }
  const ByteList call = encodeMethodCall({"scanLargeFiles", richValue()});
  for (size_t length = 0; length < call.size(); ++length) {
    EXPECT_FALSE(decodeMethodCall(std::span(call.data(), length))) << length;
  }
  const ByteList envelope = encodeErrorEnvelope("E", "message", richValue());
  for (size_t length = 0; length < envelope.size(); ++length) {
    EXPECT_FALSE(decodeEnvelope(std::span(envelope.data(), length))) << length;
  }
}

TEST(StandardCodecHostile, HugeSizeFieldsFailWithoutAllocating) {
  // Under ASan an attempt to allocate 4 GiB elements of any type would abort the test.
  for (int type : {5, 7, 8, 9, 10, 11, 12, 13, 14}) {
    SCOPED_TRACE(type);
    EXPECT_THAT(decodeError(bytes({type, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0})),
                HasSubstr("exceeds"));
  }
  // Nested lists that each claim nearly all the remaining bytes cannot all be right; the
  // first claim that overlaps an enclosing one fails.
  ByteList nested;
  for (int i = 0; i < 200; ++i) nested.insert(nested.end(), {12, 254, 0xF0, 0x03});
  nested.resize(1100, 0);
  EXPECT_THAT(decodeError(nested), HasSubstr("exceeds"));
  // A list of two whose first element is a string swallowing the second element's byte.
  EXPECT_THAT(decodeError(bytes({12, 2, 7, 1, 'a'})), HasSubstr("exceeds"));
}

TEST(StandardCodecHostile, UnknownTypeBytesAreRejectedWherever) {
  for (int type = 15; type < 256; ++type) {
    EXPECT_THAT(decodeError(bytes({type})), HasSubstr("unknown type byte " + std::to_string(type)));
  }
  EXPECT_THAT(decodeError(bytes({12, 2, 0, 99})), HasSubstr("unknown type byte 99 at offset 3"));
  EXPECT_THAT(decodeError(bytes({13, 1, 7, 1, 'k', 200})), HasSubstr("unknown type byte 200"));
}

TEST(StandardCodecHostile, NestingIsBoundedAndDeepInputDoesNotOverflowTheStack) {
  auto nestedLists = [](int depth) {
    ByteList wire;
    for (int i = 0; i < depth; ++i) wire.insert(wire.end(), {12, 1});
    wire.push_back(0);
    return wire;
  };
  EXPECT_TRUE(decodeMessage(nestedLists(kMaxNestingDepth)));
  EXPECT_THAT(decodeError(nestedLists(kMaxNestingDepth + 1)), HasSubstr("nested deeper"));
  EXPECT_THAT(decodeError(nestedLists(1'000'000)), HasSubstr("nested deeper"));

  ByteList maps;  // {"k": {"k": ...}}
  for (int i = 0; i < 100'000; ++i) maps.insert(maps.end(), {13, 1, 7, 1, 'k'});
  maps.push_back(0);
  EXPECT_THAT(decodeError(maps), HasSubstr("nested deeper"));
}

TEST(StandardCodecHostile, TrailingBytesAreAnError) {
  EXPECT_THAT(decodeError(bytes({0, 0})), HasSubstr("1 trailing bytes"));
  EXPECT_THAT(decodeError(concat(encodeMessage(richValue()), bytes({0}))), HasSubstr("trailing"));
}

}  // namespace
}  // namespace nimbra
