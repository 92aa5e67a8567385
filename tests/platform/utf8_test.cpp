#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace nimbra {
namespace {

TEST(Utf8, AcceptsWellFormedTextAndRejectsWhatAFlutterStringCannotHold) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8(std::string("plain/ascii, Safari.app \u00B7 fr.lproj, \u4E2D \U0010FFFF, nul") + '\0' + "inside"));
  // No lead byte; truncated; overlong "/"; a surrogate; beyond U+10FFFF; a lead byte not
  // followed by a continuation.
  for (const char* text : {"\xff", "bad\x80", "\xC3", "\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF",
                           "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                           "\xF5\x80\x80\x80", "\xE2\x28\xA1"}) {
    EXPECT_FALSE(isValidUtf8(text)) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace nimbra
