// What people read and the commands that show it. In process: sizes at each unit boundary,
// size arguments, the views of fixed answers and the progress line — widths kept on narrow and
// wide terminals, no colour unless asked, and no file name that can reach the terminal as
// anything but text. As the real program on built trees: what the commands print, what they
// delete (exactly the chosen junk, and nothing without consent), Ctrl-C, and the ncdu export.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/answer_views.h"
#include "app/progress_display.h"
#include "host_process.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"
#include "support/walk_watch.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

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
    ScopedEnv unset("NO_COLOR", "");
    EXPECT_TRUE(colourWanted(terminal));
    EXPECT_FALSE(colourWanted(pipeFds[1]));
  }
  ScopedEnv noColour("NO_COLOR", "1");
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
  EXPECT_EQ(treeView(tree, {.columns = 80}), "/r  1.0 KB  3 files\n"
                                            "├─ big/              750 B █████████     75%\n"
                                            "│  └─ deep?name      750 B ████████████ 100%\n"
                                            "└─ … the rest        250 B ███           25%\n");
  for (size_t columns : {40u, 80u, 200u}) EXPECT_LE(widestLine(treeView(tree, {.columns = columns})), columns);
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

ValueMap event(const std::string& path) {
  return {{"task", "large"}, {"path", path}, {"count", int64_t{12}}, {"bytes", int64_t{3'400'000}}};
}

TEST(ProgressDisplay, LineFitsTheTerminalKeepingTheFileNameAndNoControlCharacter) {
  EXPECT_EQ(progressLine(event("/home/a/b.iso"), 80), "large: 12 items, 3.4 MB  /home/a/b.iso");
  const std::string deep = "/home/user/" + std::string(200, 'd') + "/Ünïcode file.mov";
  for (size_t columns : {10u, 40u, 79u}) {
    const std::string line = progressLine(event(deep), columns);
    EXPECT_LE(displayWidth(line), columns) << line;
    if (columns >= 40) {
      EXPECT_THAT(line, ::testing::AllOf(HasSubstr("..."), HasSubstr("file.mov")));
    }
  }
  // Newline, an escape sequence, carriage return, DEL and the C1 control CSI.
  EXPECT_THAT(progressLine(event("/tmp/evil\n\x1b[2J\r\x7f\xc2\x9bname"), 80),
              ::testing::EndsWith("/tmp/evil??[2J???name"));
}

// Sums "asize" over the regular files of an ncdu export and counts the entries that are not
// folders (a folder is an array whose first element describes it).
void sumExport(const nlohmann::json& entry, int64_t& bytes, int64_t& count) {
  if (entry.is_array()) {
    for (size_t i = 1; i < entry.size(); ++i) sumExport(entry[i], bytes, count);
    return;
  }
  ++count;
  if (!entry.value("notreg", false)) bytes += entry.value("asize", int64_t{0});
}

// The ncdu export holds the whole walk whatever the depth shown, and ncdu itself reads it.
TEST(ViewCommands, TreeDupesAndSizeShowTheAnswersJsonIsWhatCallPrintsAndTheExportIsWhole) {
  TempTree tree, elsewhere;
  tree.touch("a/one", 100, 1);
  tree.touch("a/deep/two", 200, 2);
  tree.touch("a/deep/copy", 200, 2);
  tree.touch("b/three", 50, 3);
  tree.symlink("/usr", "b/link");
  tree.touch("x", 7, 4);
  tree.sparseFile("big", 1 << 20);
  tree.write("bad\xfe name", "12345");
  const std::string root = tree.root(), file = elsewhere.path("tree.ncdu.json");
  auto [status, out, err] = runHost({"tree", root, "--bytes"});
  ASSERT_EQ(status, 0) << err;
  // How the rows are drawn is the in-process view's part.
  EXPECT_THAT(out, StartsWith(root + "  1049138  7 files\n"));  // 557 + 1 MiB + 5
  std::tie(status, out, err) = runHost({"tree", root, "--depth", "1", "--json", "--export-ncdu", file});
  EXPECT_EQ(out, std::get<1>(runHost({"call", "analyzeDisk", R"({"path":")" + root + R"(","depth":1})"})));
  EXPECT_THAT(err, HasSubstr("ncdu -f " + file));
  const nlohmann::json document = nlohmann::json::parse(std::ifstream(file));
  ASSERT_TRUE(document.is_array() && document.size() == 4);
  int64_t bytes = 0, count = 0;
  sumExport(document[3], bytes, count);
  EXPECT_EQ(count, 8);  // every entry but the folders, the link among them
  EXPECT_EQ(bytes, 557 + (1 << 20) + 5);
  EXPECT_EQ(document[3][0]["name"], root);
  EXPECT_EQ(std::system(("ncdu -f '" + file + "' -o /dev/null").c_str()), 0);

  std::tie(status, out, err) = runHost({"dupes", root, "--min", "1"});
  EXPECT_EQ(status, 0) << err;
  EXPECT_THAT(out, HasSubstr("2 copies of 200 B, 200 B wasted"));
  EXPECT_THAT(out, HasSubstr("  " + root + "/a/deep/copy\n  " + root + "/a/deep/two\n"));
  EXPECT_THAT(runHost({"large", root, "--min", "lots"}), ::testing::FieldsAre(2, "", HasSubstr("is no size")));
  EXPECT_THAT(std::get<1>(runHost({"size", root + "/a", root + "/b"})), HasSubstr("500 B  " + root + "/a\n"));
  EXPECT_EQ(std::get<1>(runHost({"size", root + "/a", root + "/x", "--json"})), "{\"size\":500}\n{\"size\":7}\n");
}

TEST(ViewCommands, JunkCleanDeletesOnlyTheChosenCategoriesAndOnlyWhenTold) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), tmp = tree.makeDir("tmp");
  tree.touch("home/Library/Caches/app/cache.db", 4000);
  tree.touch("home/Library/Logs/app.log", 300);
  ScopedEnv homeVariable("HOME", home);
  ScopedEnv tmpVariable("TMPDIR", tmp + "/");
  EXPECT_THAT(std::get<1>(runHost({"junk"})), HasSubstr("userCache         1  4.0 KB  User caches"));
  // Not a terminal and no --yes: nothing goes.
  EXPECT_THAT(runHost({"junk", "clean", "userCache"}), ::testing::FieldsAre(1, "", HasSubstr("add --yes")));
  EXPECT_TRUE(fs::exists(tree.path("home/Library/Caches/app/cache.db")));
  EXPECT_THAT(runHost({"junk", "clean", "nosuch", "--yes"}), ::testing::FieldsAre(2, "", HasSubstr("unknown category")));
  EXPECT_THAT(runHost({"junk", "clean", "userCache", "--yes"}), ::testing::FieldsAre(0, "freed 4.0 KB\n", ""));
  EXPECT_FALSE(fs::exists(tree.path("home/Library/Caches/app")));
  EXPECT_TRUE(fs::exists(tree.path("home/Library/Logs/app.log")));
}

TEST(ViewCommands, CtrlCDuringATreePrintsThePartialAnswerAndExits130) {
  // Enough files that the walk is still running when the signal comes, sent once the
  // program has the tree's root open.
  WideTree tree(300, 200);
  HostProcess host({"tree", tree.root(), "--depth", "1", "--json"});
  host.closeInput();
  const pid_t pid = host.pid();
  ASSERT_TRUE(waitUntilOpen(pid, tree.root()));
  ::kill(pid, SIGINT);
  // Read to the end before waiting: a child blocked on a full pipe would never exit.
  EXPECT_THAT(host.restOfStdout(), HasSubstr("\"cancelled\":true"));
  EXPECT_EQ(host.wait(), 130);
  EXPECT_THAT(host.stderrText(), HasSubstr("interrupted"));
}

}  // namespace
}  // namespace nimbra::test
