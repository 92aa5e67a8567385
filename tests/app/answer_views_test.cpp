// What people read: sizes at each unit boundary, size arguments, and the views of fixed
// answers — widths kept on narrow and wide terminals, no colour unless asked, and no file name
// that can reach the terminal as anything but text.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>

#include "app/answer_views.h"
#include "support/test_seams.h"

namespace nimbra {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The widest line of `text`, in code points.
size_t widestLine(const std::string& text) {
  size_t widest = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) widest = std::max(widest, displayWidth(line));
  return widest;
}

ValueMap node(const std::string& name, int64_t size, bool isDir, ValueList children = {}) {
  ValueMap map{{"name", name}, {"path", "/r/" + name}, {"size", size}, {"files", int64_t{1}}, {"isDir", isDir}};
  map.emplace("children", std::move(children));  // moved: a list literal would copy it
  return map;
}

TEST(TerminalText, SizesReadAndWrittenAtEveryUnitBoundary) {
  const std::vector<std::pair<int64_t, const char*>> shown = {
      {0, "0 B"}, {999, "999 B"}, {1000, "1.0 KB"}, {999'949, "999.9 KB"}, {999'999, "1.0 MB"},
      {1'234'567'890, "1.2 GB"}, {int64_t{1} << 62, "4.6 EB"}};
  for (const auto& [bytes, text] : shown) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
  const std::vector<std::pair<const char*, std::optional<int64_t>>> parsed = {
      {"1048576", 1048576}, {"500kB", 500'000}, {"100MB", 100'000'000}, {"1.5GB", 1'500'000'000},
      {"1MiB", 1 << 20}, {" 4 kib ", 4096}, {"2T", 2'000'000'000'000}, {"-1", std::nullopt},
      {"1.2.3", std::nullopt}, {"12XB", std::nullopt}, {"", std::nullopt}, {"99999999999EB", std::nullopt},
      {"9223372036854775808", std::nullopt}};
  for (const auto& [text, bytes] : parsed) EXPECT_EQ(parseByteSize(text), bytes) << text;
  EXPECT_EQ(printable("a\nb\x1b[2J\xfe"), "a?b?[2J\xEF\xBF\xBD");
  EXPECT_EQ(bar(0.5, 4), "\u2588\u2588  ");
  EXPECT_EQ(bar(2, 2), "\u2588\u2588");
}

TEST(TerminalText, ColourOnlyOnATerminalAndNeverWithNoColor) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  {
    test::ScopedEnv unset("NO_COLOR", "");
    EXPECT_TRUE(colourWanted(terminal));
    EXPECT_FALSE(colourWanted(pipeFds[1]));
  }
  test::ScopedEnv noColour("NO_COLOR", "1");
  EXPECT_FALSE(colourWanted(terminal));
  for (int fd : {master, terminal, pipeFds[0], pipeFds[1]}) ::close(fd);
}

TEST(AnswerViews, TreeShowsEachLevelWithItsShareAndTheRestAndFitsAnyWidth) {
  const Value tree = ValueMap{{"name", "r"}, {"path", "/r"}, {"size", int64_t{1000}}, {"files", int64_t{3}},
                              {"isDir", true}, {"cancelled", true},
                              {"children", ValueList{node("big", 750, true, {node("deep\nname", 750, false)}),
                                                     ValueMap{{"name", "\u2026"}, {"path", ""}, {"size", int64_t{250}},
                                                              {"files", int64_t{0}}, {"isDir", false}, {"children", ValueList{}},
                                                              {"isOther", true}}}}};
  const std::string text = treeView(tree, {.columns = 80});
  EXPECT_THAT(text, HasSubstr("/r  1.0 KB  3 files\n"));
  EXPECT_THAT(text, HasSubstr("\u251C\u2500 big/"));
  EXPECT_THAT(text, HasSubstr("\u2502  \u2514\u2500 deep?name"));
  EXPECT_THAT(text, HasSubstr("\u2514\u2500 \u2026 the rest"));
  EXPECT_THAT(text, HasSubstr(" 75%\n"));
  EXPECT_THAT(text, Not(HasSubstr("\x1b")));
  for (size_t columns : {40u, 80u, 200u}) EXPECT_LE(widestLine(treeView(tree, {.columns = columns})), columns);
  EXPECT_THAT(treeView(tree, {.exactBytes = true}), HasSubstr("/r  1000  3 files"));
  EXPECT_THAT(treeView(tree, {.palette = {true}}), HasSubstr("\x1b[1m/r\x1b[0m"));
  // A chain as deep as any answer can be is drawn without recursion.
  Value deep = node("leaf", 1, false);
  for (int level = 0; level < 2048; ++level) {
    ValueList only;
    only.push_back(std::move(deep));  // moved: a copy of a deep Value would recurse
    deep = node("d", 1, true, std::move(only));
  }
  const std::string deepText = treeView(deep, {});
  EXPECT_EQ(std::count(deepText.begin(), deepText.end(), '\n'), 2049);
  // Depth 0: the root alone.
  EXPECT_EQ(treeView(ValueMap{{"path", "/r"}, {"size", int64_t{5}}, {"files", int64_t{1}}}, {}), "/r  5 B  1 file\n");
}

TEST(AnswerViews, TablesListWhatTheAnswersHoldAndSurviveMissingKeys) {
  const Value dupes = ValueMap{
      {"groups", ValueList{ValueMap{{"size", int64_t{2000}}, {"hash", std::string(64, 'a')}, {"wasted", int64_t{2000}},
                                    {"files", ValueList{ValueMap{{"path", "/a/one"}}, ValueMap{{"path", "/b/two"}}}}}}},
      {"scanned", int64_t{9}}, {"wasted", int64_t{2000}}, {"cancelled", false}};
  EXPECT_EQ(duplicatesView(dupes, {}),
            "2 copies of 2.0 KB, 2.0 KB wasted  sha256 aaaaaaaaaaaa\n  /a/one\n  /b/two\n"
            "1 group, 2.0 KB wasted, 9 files scanned\n");
  const Value junk = ValueMap{{"categories", ValueList{ValueMap{{"id", "trash"}, {"size", int64_t{3'000'000}},
                                                                 {"items", ValueList{ValueMap{}, ValueMap{}}}}}},
                              {"total", int64_t{3'000'000}}, {"count", int64_t{2}}};
  EXPECT_EQ(junkView(junk, {}), "ID     ITEMS    SIZE  CATEGORY\ntrash      2  3.0 MB  Trash\ntotal 3.0 MB in 2 items\n");
  const Value large = ValueMap{{"items", ValueList{ValueMap{{"path", "/x/" + std::string(200, 'y') + ".iso"},
                                                            {"size", int64_t{5'000'000'000}}}}},
                               {"scanned", int64_t{1200}}};
  const std::string largeText = largeFilesView(large, {.columns = 60});
  EXPECT_LE(widestLine(largeText), 60u);
  EXPECT_THAT(largeText, HasSubstr("5.0 GB  -         /x/yyy"));
  EXPECT_THAT(largeText, HasSubstr("yyy.iso\n"));
  EXPECT_THAT(largeText, HasSubstr("1 large file among 1,200 files scanned"));
  EXPECT_EQ(deletionView(ValueMap{{"freed", int64_t{10}}, {"failed", ValueList{"/a"}}, {"error", "/a: busy"}}, {}),
            "freed 10 B\n1 item could not be removed:\n  /a\n  /a: busy\n");
  // Answers of another shape never crash a view.
  for (const auto& view : {treeView, largeFilesView, duplicatesView, junkView, systemView, memoryView, startupView,
                           appsView, leftoversView}) {
    EXPECT_NO_THROW(view(Value("not a map"), {}));
  }
}

}  // namespace
}  // namespace nimbra
