#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace nimbra {
namespace {

TEST(Utf8, AcceptsWellFormedText) {
  for (const std::string& text : std::initializer_list<std::string>{"", "plain/ascii path", "Safari.app \u00B7 fr.lproj", "\u4E2D\u6587",
                           "\U0001F600 emoji", "\U0010FFFF", std::string("nul\0inside", 10)}) {
    EXPECT_TRUE(isValidUtf8(text)) << text;
  }
}

TEST(Utf8, RejectsWhatAFlutterStringCannotHold) {
  for (const std::string& text : std::initializer_list<std::string>{
           "\xff",              // never a UTF-8 byte
           "bad\x80",           // continuation without a lead
           "\xC3",              // truncated at the end
           "\xE2\x82",          // truncated three-byte sequence
           "\xC0\xAF",          // overlong "/"
           "\xE0\x80\xAF",      // overlong, three bytes
           "\xF0\x80\x80\xAF",  // overlong, four bytes
           "\xED\xA0\x80",      // surrogate U+D800
           "\xF4\x90\x80\x80",  // above U+10FFFF
           "\xF5\x80\x80\x80",  // lead byte beyond the range
           "\xE2\x28\xA1",      // second byte not a continuation
       }) {
    EXPECT_FALSE(isValidUtf8(text)) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace nimbra
