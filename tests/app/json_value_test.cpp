#include "app/json_value.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace nimbra {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

Value parsed(const std::string& text) {
  Decoded<Value> d = parseJsonValue(text);
  EXPECT_TRUE(d) << text << ": " << d.error;
  return d ? *d.value : Value();
}

std::string parseError(const std::string& text) {
  Decoded<Value> d = parseJsonValue(text);
  EXPECT_FALSE(d) << text;
  EXPECT_THAT(d.error, Not(StartsWith("[json.exception"))) << "internal tag left in";
  EXPECT_FALSE(d.error.empty()) << text;
  return d.error;
}

TEST(JsonValueIn, IntegersBecomeInt64AndEverythingElseADouble) {
  EXPECT_EQ(parsed("5"), Value(int64_t{5}));
  EXPECT_EQ(parsed("-0"), Value(int64_t{0}));
  EXPECT_EQ(parsed("9223372036854775807"), Value(std::numeric_limits<int64_t>::max()));
  EXPECT_EQ(parsed("-9223372036854775808"), Value(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(parsed("5.0"), Value(5.0));
  EXPECT_EQ(parsed("1e3"), Value(1000.0));
  EXPECT_EQ(parsed("-2.5E-1"), Value(-0.25));

  // Out of range: a double would silently change the number the user typed.
  EXPECT_THAT(parseError("9223372036854775808"), HasSubstr("outside the 64-bit range"));
  EXPECT_THAT(parseError("-9223372036854775809"), HasSubstr("outside the 64-bit range"));
  EXPECT_THAT(parseError("[123456789012345678901234567890]"), HasSubstr("outside the 64-bit range"));
  EXPECT_THAT(parseError("1e400"), HasSubstr("number overflow"));
}

TEST(JsonValueIn, ObjectsAndArraysBecomeMapsAndLists) {
  EXPECT_EQ(parsed(R"( {"root": "/tmp/a b", "minSize": 1048576, "flags": [true, false, null, 0.5],
                      "nested": {"é": {}}} )"),
            Value(ValueMap{{"root", Value("/tmp/a b")},
                           {"minSize", Value(int64_t{1048576})},
                           {"flags", Value(ValueList{Value(true), Value(false), Value(), Value(0.5)})},
                           {"nested", Value(ValueMap{{"\xC3\xA9", Value(ValueMap{})}})}}));
  EXPECT_EQ(parsed(R"("line\nbreak \"quoted\" \u00e9")"), Value("line\nbreak \"quoted\" \xC3\xA9"));
}

TEST(JsonValueIn, AnythingButOneJsonValueIsAnErrorNotAnException) {
  for (const char* text : {"", "   ", "1 2", "{", "[1,]", "{'a': 1}", "nan", "Infinity", "// c\n1",
                           "{\"a\":1}}", "\"\xFF\"", "[\"unterminated]"}) {
    SCOPED_TRACE(text);
    parseError(text);
  }
  EXPECT_THAT(parseError(R"({"a": 1, "b": 2, "a": 3})"), HasSubstr("repeated key \"a\""));
}

TEST(JsonValueIn, NestingIsBoundedLikeTheChannel) {
  auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(parseJsonValue(arrays(kMaxNestingDepth)));
  EXPECT_THAT(parseError(arrays(kMaxNestingDepth + 1)), HasSubstr("nested deeper"));
  EXPECT_THAT(parseError(std::string(1'000'000, '[')), HasSubstr("nested deeper"));
}

TEST(JsonValueIn, ParsedDocumentsConvertUnderTheSameRules) {
  const nlohmann::json doc = nlohmann::json::parse(R"({"a": [1, 2.0, "x", null, true]})");
  Decoded<Value> fromDoc = valueFromJson(doc);
  ASSERT_TRUE(fromDoc) << fromDoc.error;
  EXPECT_EQ(*fromDoc.value, parsed(R"({"a": [1, 2.0, "x", null, true]})"));

  EXPECT_THAT(valueFromJson(nlohmann::json(std::numeric_limits<uint64_t>::max())).error,
              HasSubstr("outside the 64-bit range"));
  nlohmann::json deep = nullptr;
  for (int i = 0; i <= kMaxNestingDepth; ++i) deep = nlohmann::json::array({deep});
  EXPECT_THAT(valueFromJson(deep).error, HasSubstr("nested deeper"));
}

TEST(JsonValueOut, DoublesStayDistinguishableFromIntegers) {
  EXPECT_EQ(toJsonText(Value(5.0)), "5.0");
  EXPECT_EQ(toJsonText(Value(-0.0)), "-0.0");
  EXPECT_EQ(toJsonText(Value(0.1)), "0.1");
  EXPECT_EQ(toJsonText(Value(1e300)), "1e+300");
  EXPECT_EQ(toJsonText(Value(int64_t{5})), "5");
  EXPECT_EQ(toJsonText(Value(std::numeric_limits<int64_t>::min())), "-9223372036854775808");
  // No JSON number can say these; null is what JSON.stringify writes.
  EXPECT_EQ(toJsonText(Value(std::nan(""))), "null");
  EXPECT_EQ(toJsonText(Value(Float64List{std::numeric_limits<double>::infinity(), 1.0})), "[null,1.0]");

  const Value answer(ValueMap{{"bytes", Value(int64_t{1} << 40)},
                              {"ratio", Value(3.0)},
                              {"items", Value(ValueList{Value("a"), Value(), Value(false)})}});
  EXPECT_EQ(parsed(toJsonText(answer)), answer);
}

TEST(JsonValueOut, OtherChannelTypesBecomeArrays) {
  EXPECT_EQ(toJsonText(Value(Bytes{0, 255})), "[0,255]");
  EXPECT_EQ(toJsonText(Value(Int32List{-1, 2})), "[-1,2]");
  EXPECT_EQ(toJsonText(Value(Int64List{int64_t{1} << 40})), "[1099511627776]");
  EXPECT_EQ(toJsonText(Value(Float32List{1.5f})), "[1.5]");
  EXPECT_EQ(toJsonText(Value(ValuePairs{{Value(int64_t{1}), Value("one")},
                                        {Value(ValueList{}), Value(ValueMap{})}})),
            R"([[1,"one"],[[],{}]])");
}

TEST(JsonValueOut, TextIsOneValidLineWhateverTheStrings) {
  const std::string text = toJsonText(
      Value(ValueMap{{"path\n\"x\"", Value("bad \xFF utf8\tand \xC3\xA9")}}));
  EXPECT_EQ(text, "{\"path\\n\\\"x\\\"\":\"bad \xEF\xBF\xBD utf8\\tand \xC3\xA9\"}");
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace nimbra
