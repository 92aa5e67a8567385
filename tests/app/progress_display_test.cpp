// The terminal progress line: what it says, how it fits, and that file names cannot reach the
// terminal as control sequences.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "app/progress_display.h"

namespace nimbra {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

ValueMap event(const std::string& path) {
  return {{"task", "large"}, {"path", path}, {"count", int64_t{12}}, {"bytes", int64_t{3'400'000}}};
}

TEST(ProgressDisplay, LineFitsTheTerminalKeepingTheFileNameAndNoControlCharacter) {
  EXPECT_EQ(progressLine(event("/home/a/b.iso"), 80), "large: 12 items, 3.4 MB  /home/a/b.iso");
  const std::string deep = "/home/user/" + std::string(200, 'd') + "/Ünïcode file.mov";
  for (size_t columns : {10u, 40u, 79u}) {
    const std::string line = progressLine(event(deep), columns);
    const auto codePoints = std::count_if(line.begin(), line.end(),
                                          [](char c) { return (c & 0xC0) != 0x80; });
    EXPECT_LE(static_cast<size_t>(codePoints), columns) << line;
    if (columns >= 40) {
      EXPECT_THAT(line, AllOf(HasSubstr("..."), HasSubstr("file.mov")));
    }
  }
  // Newline, an escape sequence, carriage return, DEL and the C1 control CSI.
  EXPECT_THAT(progressLine(event("/tmp/evil\n\x1b[2J\r\x7f\xc2\x9bname"), 80),
              ::testing::EndsWith("/tmp/evil??[2J???name"));
}

}  // namespace
}  // namespace nimbra
