// Channel values as JSON for the `call` and `serve --json` front ends.

#include "app/json_value.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace nimbra {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

Value parsed(const std::string& text) {
  Decoded<Value> d = parseJsonValue(text);
  EXPECT_TRUE(d) << text << ": " << d.error;
  return d ? *d.value : Value();
}

std::string parseError(const std::string& text) {
  Decoded<Value> d = parseJsonValue(text);
  EXPECT_FALSE(d) << text;
  EXPECT_THAT(d.error, AllOf(Not(IsEmpty()), Not(HasSubstr("[json.exception"))));
  return d.error;
}

TEST(JsonValueIn, IntegersBecomeInt64OtherNumbersDoublesObjectsMapsArraysLists) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(parsed(R"( {"ints": [5, -0, 9223372036854775807, -9223372036854775808],
                        "doubles": [5.0, 1e3, -2.5E-1], "text": "line\nbreak \"q\" \u00e9",
                        "nested": {"é": {}}, "flags": [true, false, null]} )"),
            Value(ValueMap{{"ints", ValueList{int64_t{5}, int64_t{0}, kMax, kMin}},
                           {"doubles", ValueList{5.0, 1000.0, -0.25}}, {"text", "line\nbreak \"q\" \xC3\xA9"},
                           {"nested", ValueMap{{"\xC3\xA9", ValueMap{}}}},
                           {"flags", ValueList{true, false, Value()}}}));
}

TEST(JsonValueIn, AnythingButOneRepresentableValueIsAnErrorNotAnException) {
  auto arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(parseJsonValue(arrays(kMaxNestingDepth)));
  const std::string range = "outside the 64-bit range";  // a double would change the number typed
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", ""}, {"   ", ""}, {"1 2", ""}, {"{", ""}, {"[1,]", ""}, {"{'a': 1}", ""}, {"nan", ""},
      {"Infinity", ""}, {"// c\n1", ""}, {"{\"a\":1}}", ""}, {"\"\xFF\"", ""}, {"[\"unterminated]", ""},
      {"9223372036854775808", range}, {"-9223372036854775809", range},
      {"[123456789012345678901234567890]", range},
      {"1e400", "number overflow"}, {R"({"a": 1, "b": 2, "a": 3})", "repeated key \"a\""},
      {arrays(kMaxNestingDepth + 1), "nested deeper"}, {std::string(1'000'000, '['), "nested deeper"},
  };
  for (const auto& [text, error] : cases) EXPECT_THAT(parseError(text), HasSubstr(error));
}

TEST(JsonValueOut, DoublesStayDoublesAndOtherTypesBecomeArrays) {
  const double infinity = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<Value, std::string>> cases{
      {5.0, "5.0"}, {-0.0, "-0.0"}, {0.1, "0.1"}, {1e300, "1e+300"}, {int64_t{5}, "5"},
      {std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
      // No JSON number can say these; null is what JSON.stringify writes.
      {std::nan(""), "null"}, {Float64List{infinity, 1.0}, "[null,1.0]"},
      {Bytes{0, 255}, "[0,255]"}, {Int32List{-1, 2}, "[-1,2]"}, {Float32List{1.5f}, "[1.5]"},
      {Int64List{int64_t{1} << 40}, "[1099511627776]"},
      {ValuePairs{{int64_t{1}, "one"}, {ValueList{}, ValueMap{}}}, R"([[1,"one"],[[],{}]])"},
      // One line, and valid UTF-8, whatever the strings hold.
      {ValueMap{{"path\n\"x\"", "bad \xFF utf8\tand \xC3\xA9"}},
       "{\"path\\n\\\"x\\\"\":\"bad \xEF\xBF\xBD utf8\\tand \xC3\xA9\"}"},
      {ValueMap{{"a", ValueList{int64_t{1}, 2.5, "\x01"}}, {"b", ValueMap{}}}, R"({"a":[1,2.5,"\u0001"],"b":{}})"},
      // A part of an answer kept in its encoded form prints as what it holds.
      {ValueList{*encodePiece(ValueMap{{"files", ValueList{"/a"}}})}, R"([{"files":["/a"]}])"},
  };
  // The front ends write an answer straight from its bytes; the text must be the same.
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(toJsonText(value), text);
    EXPECT_EQ(successAsJsonText(encodeSuccessEnvelope(value)).value, text);
  }
  EXPECT_FALSE(successAsJsonText(encodeErrorEnvelope("E", "no", Value())));
}

}  // namespace
}  // namespace nimbra
