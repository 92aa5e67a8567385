// What people read and the commands that show it. In process: sizes at each unit boundary,
// size arguments, the views of fixed answers and the progress line — widths kept on narrow and
// wide terminals and wide characters, no colour unless asked, and no file name that can reach
// the terminal as anything but text. As the real program on built trees and a real terminal:
// what the commands print, what they refuse to look at, what they delete (exactly the chosen
// junk, what was listed, and nothing without consent), Ctrl-C, and the ncdu export.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/terminal/progress_display.h"
#include "host/views/answer_views.h"
#include "host/views/junk_clean.h"
#include "host_process.h"
#include "support/answers.h"
#include "support/deletion_fixtures.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"
#include "support/unprivileged.h"
#include "support/walk_watch.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The display width of each line of `text`.
std::vector<size_t> lineWidths(const std::string& text) {
  std::vector<size_t> widths;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) widths.push_back(displayWidth(line));
  return widths;
}

size_t widestLine(const std::string& text) {
  const std::vector<size_t> widths = lineWidths(text);
  return widths.empty() ? 0 : *std::max_element(widths.begin(), widths.end());
}

ValueMap node(const std::string& name, int64_t size, bool isDir, ValueList children = {}) {
  ValueMap map{{"name", name}, {"path", "/r/" + name}, {"size", size}, {"files", int64_t{1}}};
  map.emplace("isDir", isDir);
  map.emplace("children", std::move(children));  // moved: a list literal would copy it
  return map;
}

TEST(TerminalText, SizesReadAndWrittenAtEveryUnitBoundary) {
  const std::pair<int64_t, const char*> shown[] = {{0, "0 B"}, {999, "999 B"}, {1000, "1.0 KB"},
      {999'949, "999.9 KB"}, {999'999, "1.0 MB"}, {1'234'567'890, "1.2 GB"},
      {int64_t{1} << 62, "4.6 EB"}};
  const std::pair<int64_t, const char*> binary[] = {{1023, "1023 B"}, {1024, "1.0 KiB"},
      {1'048'524, "1023.9 KiB"}, {1'048'550, "1.0 MiB"}, {3 << 29, "1.5 GiB"}};
  const std::pair<const char*, std::optional<int64_t>> parsed[] = {{"1048576", 1048576},
      {"500kB", 500'000}, {"100MB", 100'000'000}, {"1.5GB", 1'500'000'000}, {"1MiB", 1 << 20},
      {" 4 kib ", 4096}, {"2T", 2'000'000'000'000}, {"-1", std::nullopt}, {"1.2.3", std::nullopt},
      {"12XB", std::nullopt}, {"", std::nullopt}, {"99999999999EB", std::nullopt},
      {"9223372036854775808", std::nullopt}};
  for (const auto& [bytes, text] : shown) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
  for (const auto& [bytes, text] : binary)
    EXPECT_EQ(formatByteCount(bytes, ByteUnits::binary), text) << bytes;
  for (const auto& [text, bytes] : parsed) EXPECT_EQ(parseByteSize(text), bytes) << text;
  EXPECT_EQ(printable("a\nb\x1b[2J\xfe"), "a?b?[2J\xEF\xBF\xBD");
  EXPECT_EQ(bar(2, 2), "\u2588\u2588");
  EXPECT_EQ(bar(0.6, 4, /*unicode=*/false), "##  ");
  // Wide East Asian characters and emoji take two columns, a combining accent none.
  EXPECT_EQ(displayWidth("\u65E5\u672C/\U0001F600e\u0301"), 8u);
  const std::string wide = "/\u5199\u771F/" + std::string(40, 'x') + "/\u65E5\u672C\u8A9E.jpg";
  for (size_t width : {5u, 12u, 21u}) {
    EXPECT_LE(displayWidth(fitPath(wide, width)), width) << width;
    EXPECT_GE(displayWidth(fitPath(wide, width)), width - 1) << width;
  }
}

TEST(TerminalText, ColourWidthAndCharactersFollowTheTerminalAndTheEnvironment) {
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
  {
    ScopedEnv columns("COLUMNS", "132");
    EXPECT_EQ(terminalColumns(pipeFds[1]), 132u);
  }
  ScopedEnv columns("COLUMNS", "wide");
  EXPECT_EQ(terminalColumns(pipeFds[1]), 80u);
  for (int fd : {master, terminal, pipeFds[0], pipeFds[1]}) ::close(fd);
  for (const auto& [locale, utf8] : {std::pair{"C", false}, {"POSIX", false}, {"C.UTF-8", true}}) {
    ScopedEnv all("LC_ALL", locale);
    EXPECT_EQ(localeSpeaksUtf8(), utf8) << locale;
  }
}

TEST(AnswerViews, TreeShowsEachLevelWithItsShareAndTheRestAndFitsAnyWidth) {
  const Value tree =
      fromJson(R"({"name": "r", "path": "/r", "size": 1000, "files": 3, "isDir": true,
      "cancelled": true, "children": [
        {"name": "big", "path": "/r/big", "size": 750, "files": 1, "isDir": true, "children": [
          {"name": "deep\nname", "path": "/r/deep", "size": 750, "files": 1, "isDir": false}]},
        {"name": "\u2026", "path": "", "size": 250, "files": 0, "isDir": false, "children": [],
         "isOther": true}]})");
  EXPECT_EQ(treeView(tree, {.columns = 80}),
      "/r  1.0 KB  3 files\n"
      "├─ big/              750 B █████████     75%\n"
      "│  └─ deep?name      750 B ████████████ 100%\n"
      "└─ … the rest        250 B ███           25%\n");
  EXPECT_EQ(treeView(tree, {.columns = 80, .unicode = false}),
      "/r  1.0 KB  3 files\n"
      "|- big/              750 B #########     75%\n"
      "|  `- deep?name      750 B ############ 100%\n"
      "`- ... the rest      250 B ###           25%\n");
  for (size_t columns : {40u, 80u, 200u})
    EXPECT_LE(widestLine(treeView(tree, {.columns = columns})), columns);
  const std::string coloured = treeView(tree, {.palette = {true}});
  EXPECT_THAT(coloured, HasSubstr("\x1b[1m/r\x1b[0m"));
  EXPECT_THAT(coloured, ::testing::Not(HasSubstr("\n\x1b[0m")));
  // Exact sizes wider than the size column and names of wide characters still line up.
  const Value wide = fromJson(R"({"path": "/w", "size": 12345678901, "files": 2, "children": [
      {"name": "\u5199\u771F", "size": 12345678896, "isDir": true},
      {"name": "\uD83D\uDE00", "size": 5, "isDir": false}]})");
  const std::vector<size_t> rows = lineWidths(treeView(wide, {.exactBytes = true}));
  EXPECT_THAT(std::vector<size_t>(rows.begin() + 1, rows.end()), ::testing::Each(rows[1]));
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
  EXPECT_EQ(
      treeView(fromJson(R"({"path": "/r", "size": 5, "files": 1})"), {}), "/r  5 B  1 file\n");
}

TEST(AnswerViews, TablesListWhatTheAnswersHoldAndSurviveMissingKeys) {
  const Value dupes =
      fromJson(R"({"groups": [{"size": 2000, "hash": ")" + std::string(64, 'a') +
               R"(", "wasted": 2000, "files": [{"path": "/a/one"}, {"path": "/b/two"}]}],
      "scanned": 9, "wasted": 2000, "cancelled": false})");
  EXPECT_EQ(duplicatesView(dupes, {}),
      "2 copies of 2.0 KB, 2.0 KB wasted  sha256 aaaaaaaaaaaa\n  /a/one\n  /b/two\n"
      "1 group, 2.0 KB wasted, 9 files scanned\n");
  // What an answer holds but cannot name is counted where people read it.
  EXPECT_THAT(duplicatesView(fromJson(R"({"groups": [{"size": 10, "wasted": 10, "unnamed": 1,
      "files": [{"path": "/a/one"}]}]})"),
                  {}),
      StartsWith("2 copies of 10 B, 10 B wasted  sha256 \n  /a/one\n  and 1 copy whose name is not "
                 "valid UTF-8\n"));
  EXPECT_EQ(largeFilesView(fromJson(R"({"items": [{"path": "/b", "size": 9}], "matched": 199600,
      "unnamed": 1, "scanned": 200000})"),
                {}),
      "SIZE  MODIFIED  PATH\n 9 B  -         /b\nthe 2 largest of 199,600 large files among "
      "200,000 files scanned\n1 of them is not listed: the name is not valid UTF-8\n");
  EXPECT_THAT(junkView(fromJson(R"({"categories": [{"id": "temp", "items": [{}], "unnamed": 2}],
      "unnamed": 2, "count": 3})"),
                  {}),
      ::testing::AllOf(HasSubstr("temp      3"),
          HasSubstr("2 items are counted but cannot be listed: the name is not valid UTF-8")));
  ValueList folders;
  for (int i = 0; i < 10; ++i)
    folders.push_back(
        ValueMap{{"path", "/v/" + std::to_string(i)}, {"error", "Permission denied"}});
  const std::vector<std::string> complaints = unreadableComplaints(
      ValueMap{{"unreadable", int64_t{12}}, {"unreadableFolders", std::move(folders)}});
  EXPECT_EQ(complaints.front(), "cannot read directory '/v/0': Permission denied");
  EXPECT_EQ(complaints.back(), "and 2 more folders could not be read");
  EXPECT_EQ(complaints.size(), 11u);
  EXPECT_EQ(unreadableComplaints(fromJson(R"({"unreadable": 3, "unreadableFolders": []})")),
      std::vector<std::string>{"3 folders could not be read"});
  const Value junk =
      fromJson(R"({"categories": [{"id": "trash", "size": 3000000, "items": [{}, {}]}],
      "total": 3000000, "count": 2})");
  EXPECT_EQ(junkView(junk, {}),
      "ID     ITEMS    SIZE  CATEGORY\ntrash      2  3.0 MB  Trash\ntotal 3.0 MB in 2 items\n");
  const Value large = fromJson(R"({"items": [{"path": "/x/)" + std::string(200, 'y') +
                               R"(.iso", "size": 5000000000}], "scanned": 1200})");
  const std::string largeText = largeFilesView(large, {.columns = 60});
  EXPECT_LE(widestLine(largeText), 60u);
  EXPECT_THAT(largeText, HasSubstr("5.0 GB  -         /x/yyy"));
  EXPECT_THAT(largeText, HasSubstr("yyy.iso\n"));
  EXPECT_THAT(largeText, HasSubstr("1 large file among 1,200 files scanned"));
  EXPECT_THAT(largeFilesView(large, {.columns = kUnlimitedColumns}),
      HasSubstr("/x/" + std::string(200, 'y') + ".iso\n"));
  EXPECT_EQ(duplicatePathsNul(dupes), std::string("/a/one\0/b/two\0\0", 15));
  EXPECT_EQ(deletionView(fromJson(R"({"freed": 10, "failed": ["/a"], "error": "/a: busy"})"), {}),
      "deleted for good, 10 B freed\n1 item could not be removed:\n  /a\n  /a: busy\n");
  EXPECT_EQ(trashView(fromJson(R"({"trashed": ["/c"], "failed": [], "error": ""})"), 2000, {}),
      "moved 1 item, 2.0 KB to the Trash \u2014 put back with `nimbra trash restore PATH`\n");
  // Before asking, junk clean lists the largest items it will remove and counts the rest.
  ValueList cache;
  for (int64_t i = 1; i <= 22; ++i)
    cache.push_back(ValueMap{{"path", "/c/" + std::to_string(i)}, {"size", i}});
  const Value scan = ValueMap{
      {"categories", ValueList{ValueMap{{"id", "userCache"}, {"items", std::move(cache)}}}}};
  const std::string list =
      junkPlanView(planJunkClean(scan, Value(), {"userCache"}, false, 0), false, {});
  EXPECT_THAT(
      list, StartsWith("to delete for good: 22 items, 253 B\n  22 B  /c/22\n  21 B  /c/21\n"));
  EXPECT_THAT(list, ::testing::EndsWith("   3 B  /c/3\n  and 2 more items, 3 B\n"));
  // Answers of another shape never crash a view.
  for (const auto& view : {treeView, largeFilesView, duplicatesView, junkView, systemView,
           memoryView, startupView, appsView, leftoversView}) {
    EXPECT_NO_THROW(view(Value("not a map"), {}));
  }
}

ValueMap event(const std::string& task, int64_t count, int64_t bytes) {
  return {{"task", task}, {"path", "/p"}, {"count", count}, {"bytes", bytes}};
}

TEST(ProgressDisplay, LabelsNameThePhaseAndTheLineFitsTheTerminalWithNoControlCharacter) {
  ProgressLabel label;
  EXPECT_EQ(label.describe(event("disk", 1, 3'400'000)), "measuring: 1 item, 3.4 MB");
  // Listing the Trash reports under the task of moving to it; the method tells them apart.
  label.expect("listTrash");
  EXPECT_EQ(label.describe(event("trash", 2, 1500)), "reading the Trash: 2 items, 1.5 KB");
  label.expect("trashItems");
  EXPECT_EQ(label.describe(event("trash", 2, 1500)), "moving to the Trash: 2 items");
  // The duplicate scan's walk, then its comparing: the count starts again, or bytes appear.
  EXPECT_EQ(label.describe(event("dupes", 1500, 0)), "looking for duplicates: 1,500 files scanned");
  EXPECT_EQ(label.describe(event("dupes", 3, 0)), "hashing: 3 groups done, 0 B wasted");
  EXPECT_EQ(label.describe(event("dupes", 4, 2000)), "hashing: 4 groups done, 2.0 KB wasted");
  EXPECT_EQ(
      ProgressLabel().describe(event("dupes", 1, 100)), "hashing: 1 group done, 100 B wasted");

  EXPECT_EQ(progressLine("large", "/home/a/b.iso", 80), "large  /home/a/b.iso");
  const std::string deep = "/home/user/" + std::string(200, 'd') + "/Ünïcode file.mov";
  for (size_t columns : {10u, 40u, 79u}) {
    const std::string line = progressLine("measuring: 12 items", deep, columns);
    EXPECT_LE(displayWidth(line), columns) << line;
    if (columns >= 40) {
      EXPECT_THAT(line, ::testing::AllOf(HasSubstr("..."), HasSubstr("file.mov")));
    }
  }
  // Newline, an escape sequence, carriage return, DEL and the C1 control CSI.
  EXPECT_THAT(progressLine("large", "/tmp/evil\n\x1b[2J\r\x7f\xc2\x9bname", 80),
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

// The ncdu export holds the whole walk whatever the depth shown, ncdu itself reads it, and a
// link at its path is replaced, never written through. A program reading the output gets
// whole paths. A root that cannot be walked is said to be so, in du's words.
TEST(ViewCommands, TreeDupesAndSizeShowTheAnswersJsonIsWhatCallPrintsAndTheExportIsWhole) {
  TempTree tree, elsewhere;
  const std::string longName = std::string(150, 'l');
  tree.touch("a/one", 100, 1);
  tree.touch("a/deep/two", 200, 2);
  tree.touch(longName + "/copy", 200, 2);
  tree.touch("b/three", 50, 3);
  tree.symlink("/usr", "b/link");
  tree.touch("x", 7, 4);
  tree.sparseFile("big", 1 << 20);
  tree.write("bad\xfe name", "12345");
  const std::string root = tree.root(), file = elsewhere.path("tree.ncdu.json");
  const std::string kept = elsewhere.write("kept", "not an export");
  elsewhere.symlink(kept, "tree.ncdu.json");
  auto [status, out, err] = runHost({"tree", root, "--bytes"});
  ASSERT_EQ(status, 0) << err;
  // How the rows are drawn is the in-process view's part.
  EXPECT_THAT(out, StartsWith(root + "  1049138  7 files\n"));  // 557 + 1 MiB + 5
  std::tie(status, out, err) =
      runHost({"tree", root, "--depth", "1", "--json", "--export-ncdu", file});
  EXPECT_EQ(out,
      std::get<1>(runHost({"call", "analyzeDisk", R"({"path":")" + root + R"(","depth":1})"})));
  EXPECT_THAT(err, HasSubstr("ncdu -f " + file));
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ(readFile(kept), "not an export");
  const nlohmann::json document = nlohmann::json::parse(std::ifstream(file));
  ASSERT_TRUE(document.is_array() && document.size() == 4);
  int64_t bytes = 0, count = 0;
  sumExport(document[3], bytes, count);
  EXPECT_EQ(count, 8);  // every entry but the folders, the link among them
  EXPECT_EQ(bytes, 557 + (1 << 20) + 5);
  EXPECT_EQ(document[3][0]["name"], root);
  EXPECT_EQ(std::system(("ncdu -f '" + file + "' -o /dev/null").c_str()), 0);
  std::tie(status, out, err) = runHost({"tree", root, "--export-ncdu", "-"});
  EXPECT_EQ(nlohmann::json::parse(out, nullptr, false).at(3), document[3]) << err;

  std::tie(status, out, err) = runHost({"dupes", root, "--min", "1"});
  EXPECT_EQ(status, 0) << err;
  EXPECT_THAT(out, HasSubstr("2 copies of 200 B, 200 B wasted"));
  const std::string two = root + "/a/deep/two", copy = root + "/" + longName + "/copy";
  EXPECT_THAT(out, HasSubstr("  " + two + "\n  " + copy + "\n"));
  // Read as xargs -0 reads it, the output is records; an empty one ends each group, so a
  // reader can keep one copy of each.
  tree.touch("b/four", 50, 3);
  std::tie(status, out, err) = runHost({"dupes", root, "--min", "1", "-0"});
  std::vector<std::vector<std::string>> groups(1);
  for (size_t from = 0, end; (end = out.find('\0', from)) != std::string::npos; from = end + 1) {
    if (end == from)
      groups.emplace_back();
    else
      groups.back().push_back(out.substr(from, end - from));
  }
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(groups, (std::vector<std::vector<std::string>>{
                        {two, copy}, {root + "/b/four", root + "/b/three"}, {}}));
  // What the tree holds by kind: here files without an extension alone.
  EXPECT_THAT(std::get<1>(runHost({"types", root, "--bytes"})),
      ::testing::AllOf(StartsWith("8 files, 1049188\n"), HasSubstr("100%  other\n"),
          HasSubstr("100%  (none)  other\n")));
  EXPECT_THAT(runHost({"large", root, "--min", "lots"}),
      ::testing::FieldsAre(2, "", HasSubstr("is no size")));
  EXPECT_THAT(std::get<1>(runHost({"size", root + "/a", root + "/b"})),
      HasSubstr("300 B  " + root + "/a\n"));
  // For scripts: each answer with its path; du's lines, for sort -h. A link is measured where it
  // leads, a name that is not UTF-8 as it is.
  const std::string none = root + "/none";
  EXPECT_EQ(runHost({"size", root + "/a", none, root + "/x", "--json"}),
      HostRun(1,
          R"({"path":")" + root +
              R"(/a","size":300,"unreadable":0,"unreadableFolders":[]})"
              "\n"
              R"({"path":")" +
              root +
              R"(/x","size":7,"unreadable":0,"unreadableFolders":[]})"
              "\n",
          "nimbra: " + none + ": No such file or directory\n"));
  const std::string link = tree.symlink(root + "/a", "link-to-a");
  EXPECT_EQ(runHost({"size", "--si", root + "/big", root + "/bad\xfe name", link}),
      HostRun(
          0, "1.1M\t" + root + "/big\n5\t" + root + "/bad\uFFFD name\n300\t" + link + "\n", ""));
  EXPECT_EQ(runHost({"tree", root + "/none"}),
      HostRun(1, "", "nimbra: " + root + "/none: No such file or directory\n"));
  EXPECT_EQ(
      runHost({"large", root + "/x"}), HostRun(1, "", "nimbra: " + root + "/x: Not a directory\n"));
  // A reader that goes away ends the command as it ends du: by the signal, with nothing said.
  HostProcess unread({"tree", root});
  unread.closeOutput();
  EXPECT_EQ(unread.wait(), 128 + SIGPIPE);
  EXPECT_EQ(unread.stderrText(), "");

  // What cannot be read is named as du names it, the command fails as du does, and the export
  // marks it as ncdu does.
  tree.giveToNobody();
  ::chmod(tree.path("b").c_str(), 0);
  EXPECT_EQ(runUnprivileged([&] {
    const HostRun run = runHost({"dupes", root + "/b"});
    if (run != HostRun(1, "", "nimbra: " + root + "/b: Permission denied\n"))
      return std::get<2>(run);
    const HostRun walked = runHost({"tree", root, "--export-ncdu", "-"});
    const std::string said = "nimbra: cannot read directory '" + root + "/b': Permission denied\n";
    const bool marked =
        std::get<1>(walked).find(R"({"name":"b","read_error":true,)") != std::string::npos;
    return std::get<0>(walked) == 1 && std::get<2>(walked) == said && marked
               ? ""
               : std::get<1>(walked) + std::get<2>(walked);
  }),
      "");
}

// A device, FIFO or socket named as the export's target is written where it stands, as a
// shell's `>` would write it, never replaced by a file: /dev/null made a file would break the
// machine. A file is still replaced whole: a hard link to the old one keeps the old content.
TEST(ViewCommands, TheExportWritesDevicesAndFifosWhereTheyStandAndReplacesFilesWhole) {
  TempTree tree, out;
  tree.touch("a/one", 100, 1);
  const std::string root = tree.root();
  const auto exportTo = [&](const std::string& target) {
    return runHost({"tree", root, "--export-ncdu", target});
  };
  const auto typeOf = [](const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & S_IFMT : 0;
  };

  const std::string fifo = out.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Opened first and without waiting, so that a FIFO replaced by a file fails the test instead
  // of hanging it; the export is far smaller than the pipe's buffer.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  EXPECT_THAT(exportTo(fifo), ::testing::FieldsAre(0, _, "wrote 2 entries to " + fifo + "\n"));
  std::string received(1 << 16, '\0');
  const ssize_t got = ::read(reader, received.data(), received.size());
  ::close(reader);
  received.resize(got > 0 ? size_t(got) : 0);
  const nlohmann::json document = nlohmann::json::parse(received, nullptr, false);
  EXPECT_TRUE(document.is_array() && document.size() == 4 && document[3][0]["name"] == root)
      << received;
  EXPECT_EQ(typeOf(fifo), S_IFIFO);

  const std::string socket = out.path("socket");
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  socket.copy(address.sun_path, sizeof address.sun_path - 1);
  const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(exportTo(socket),
      HostRun(1, "", "nimbra: cannot write " + socket + ": No such device or address\n"));
  ::close(listening);
  EXPECT_EQ(typeOf(socket), S_IFSOCK);

  const std::string file = out.write("tree.json", "old"), before = out.hardlink("tree.json", "old");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  EXPECT_THAT(exportTo(file), ::testing::FieldsAre(0, _, HasSubstr("; browse them with: ncdu")));
  EXPECT_EQ(readFile(before), "old");
  EXPECT_THAT(readFile(file), StartsWith("[1,2,"));
  struct stat info {};
  EXPECT_TRUE(::stat(file.c_str(), &info) == 0 && (info.st_mode & 07777) == 0640);

  NIMBRA_SKIP_UNLESS_ROOT("only root makes device nodes");
  const std::string null = out.path("null");
  ASSERT_EQ(::mknod(null.c_str(), S_IFCHR, makedev(1, 3)) | ::chmod(null.c_str(), 0666), 0);
  EXPECT_THAT(exportTo(null), ::testing::FieldsAre(0, _, "wrote 2 entries to " + null + "\n"));
  // Still the kernel's null device: it reads as nothing and keeps its permissions.
  EXPECT_TRUE(::lstat(null.c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
              info.st_rdev == makedev(1, 3) && (info.st_mode & 07777) == 0666);
  EXPECT_EQ(readFile(null), "");
}

// Temporary entries whose time is two days back.
void makeOld(const TempTree& tree, const std::vector<std::string>& relatives) {
  const timespec twoDaysAgo{std::time(nullptr) - 2 * 24 * 3600, 0};
  const timespec times[2] = {twoDaysAgo, twoDaysAgo};
  for (const std::string& relative : relatives) {
    EXPECT_EQ(::utimensat(AT_FDCWD, tree.path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW), 0)
        << relative;
  }
}

// From the shared temporary folder, junk clean offers only the user's own entries that nothing
// changed lately; the others are listed as left alone. It lists before anything goes, removes
// what it listed, and fails, naming it, where an item could not be removed.
TEST(ViewCommands, JunkCleanDeletesOnlyTheChosenCategoriesAndOnlyWhenTold) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), tmp = tree.makeDir("tmp");
  tree.touch("home/Library/Caches/app/cache.db", 4000);
  tree.touch("home/Library/Logs/app.log", 300);
  tree.touch("tmp/old/build.o", 3000);
  tree.touch("tmp/theirs", 200);
  tree.touch("tmp/fresh/part", 100);
  tree.touch("tmp/recent", 50);
  tree.touch("tmp/pipes/data", 30);  // and a FIFO: a program's
  ASSERT_EQ(::mkfifo(tree.path("tmp/pipes/fifo").c_str(), 0600), 0);
  tree.touch("tmp/systemd-private-1f-x/tmp/f", 20);  // a service's, as systemd keeps it
  makeOld(tree, {"tmp/old/build.o", "tmp/old", "tmp/theirs", "tmp/fresh", "tmp/pipes/data",
                    "tmp/pipes/fifo", "tmp/pipes", "tmp/systemd-private-1f-x/tmp/f",
                    "tmp/systemd-private-1f-x/tmp", "tmp/systemd-private-1f-x"});
  ASSERT_EQ(::lchown(tree.path("tmp/theirs").c_str(), nobodyUid(), nobodyGid()), 0);
  ScopedEnv homeVariable("HOME", home);
  ScopedEnv dataVariable("XDG_DATA_HOME", home + "/.local/share");
  ScopedEnv tmpVariable("TMPDIR", tmp + "/");
  EXPECT_THAT(
      std::get<1>(runHost({"junk"})), HasSubstr("userCache         1  4.0 KB  User caches"));
  // Not a terminal and no --yes: the list, and nothing goes.
  const std::string list =
      "to delete for good: 2 items, 7.0 KB\n"
      "  4.0 KB  " +
      home +
      "/Library/Caches/app\n"
      "  3.0 KB  " +
      tmp +
      "//old\n"
      "left alone: 5 temporary items (--include-recent takes the recent ones too)\n"
      "  200 B  " +
      tmp +
      "//theirs  another user's\n"
      "  100 B  " +
      tmp +
      "//fresh  changed in the last 24 hours\n"
      "   50 B  " +
      tmp +
      "//recent  changed in the last 24 hours\n"
      "   30 B  " +
      tmp +
      "//pipes  is or holds a socket, FIFO or device\n"
      "   20 B  " +
      tmp + "//systemd-private-1f-x  kept by the system's own cleaning of temporary files\n";
  EXPECT_THAT(runHost({"junk", "clean", "userCache", "temp"}),
      ::testing::FieldsAre(1, list, HasSubstr("add --yes")));
  EXPECT_TRUE(fs::exists(tree.path("home/Library/Caches/app/cache.db")));
  EXPECT_THAT(runHost({"junk", "clean", "nosuch", "--yes"}),
      ::testing::FieldsAre(2, "", HasSubstr("unknown category")));
  EXPECT_THAT(
      runHost({"junk", "clean", "userCache", "temp", "--yes", "--include-recent", "--bytes"}),
      ::testing::FieldsAre(0, ::testing::EndsWith("\ndeleted for good, 7150 freed\n"), ""));
  EXPECT_FALSE(fs::exists(tree.path("home/Library/Caches/app")));
  EXPECT_TRUE(fs::exists(tree.path("home/Library/Logs/app.log")));
  EXPECT_EQ(entryCount(tmp), 3);  // theirs, pipes, systemd-private-1f-x

  // Through a Trash whose files/ is a link to the documents, nothing is offered or removed; what
  // is in the Trash is never moved into it.
  const std::string thesis = tree.touch("home/Documents/thesis.txt", 40);
  tree.makeDir("home/.local/share/Trash");
  tree.symlink(home + "/Documents", "home/.local/share/Trash/files");
  EXPECT_THAT(runHost({"junk", "clean", "trash", "--yes"}),
      ::testing::FieldsAre(0, "nothing to clean\n", ""));
  EXPECT_THAT(runHost({"junk", "clean", "temp", "trash", "--trash", "--yes"}),
      ::testing::FieldsAre(2, "", HasSubstr("`nimbra junk clean trash` (without --trash)")));
  EXPECT_EQ(findByteSum(thesis), 40);

  // A cache folder holding a mount point stays.
  const std::string held = tree.makeDir("home/Library/Caches/held");
  tree.touch("elsewhere/file", 10);
  EXPECT_EQ(runInPrivateMountNamespace([&]() -> std::string {
    if (std::string failure =
            bindMount(tree.path("elsewhere"), tree.makeDir("home/Library/Caches/held/mnt"));
        !failure.empty()) {
      return failure;
    }
    const auto [status, out, err] = runHost({"junk", "clean", "userCache", "--yes"});
    const bool named =
        out.find("1 item could not be removed:\n  " + held + "\n") != std::string::npos;
    return status == 1 && named && err == "nimbra: junk clean: 1 item was not removed\n"
               ? ""
               : out + err;
  }),
      "");
  EXPECT_TRUE(fs::exists(tree.path("elsewhere/file")));
}

// `nimbra trash` lists where each entry came from; `restore` puts back the newest entry from a
// place (or the entry named), never over what is there now; `empty` lists, asks and deletes
// exactly what it listed, with --older-than only what is old enough.
TEST(ViewCommands, TrashListsRestoresTheNewestFromAPlaceAndEmptiesOnlyWhatItListed) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), trash = home + "/.local/share/Trash";
  ScopedEnv homeVariable("HOME", home);
  ScopedEnv dataVariable("XDG_DATA_HOME", home + "/.local/share");
  const std::string report = tree.write("a/report.txt", "first"), notes = tree.touch("b/notes", 40);
  const auto trashed = [&](const std::string& path) {
    return std::get<1>(runHost({"call", "trashItems", "{\"paths\":[\"" + path + "\"]}"}));
  };
  EXPECT_THAT(trashed(report), HasSubstr(trash + "/files/report.txt\""));
  ::sleep(1);  // the newer of two moves from one place is told by its date
  tree.write("a/report.txt", "second");
  EXPECT_THAT(trashed(report), HasSubstr(trash + "/files/report.txt.2\""));
  trashed(notes);
  tree.write("home/.local/share/Trash/files/old.bin", "0123456789");
  tree.write("home/.local/share/Trash/info/old.bin.trashinfo",
      "[Trash Info]\nPath=" + tree.path("old.bin") + "\nDeletionDate=2020-01-02T03:04:05\n");
  tree.write("home/.local/share/Trash/files/orphan", "no record");

  const auto [listed, table, listErr] = runHost({"trash", "--bytes"});
  EXPECT_EQ(listed, 0) << listErr;
  const auto row = [](const std::string& moved, const std::string& size, const std::string& from) {
    return moved + std::string(18 - moved.size(), ' ') + std::string(4 - size.size(), ' ') + size +
           "  " + from + "\n";
  };
  EXPECT_THAT(table, StartsWith(row("MOVED", "SIZE", "FROM")));
  EXPECT_LT(table.find("   6  " + report + "\n"), table.find("   5  " + report + "\n"));
  EXPECT_NE(table.find("   5  " + report + "\n"), std::string::npos);
  EXPECT_THAT(table, HasSubstr(row("2020-01-02 03:04", "10", tree.path("old.bin"))));
  EXPECT_THAT(table, HasSubstr(row("-", "9", trash + "/files/orphan")));
  EXPECT_THAT(table, ::testing::EndsWith("\n5 entries, 70 in the Trash (`nimbra trash restore "
                                         "PATH` puts one back)\n"));
  const std::string entries = std::get<1>(runHost({"trash", "-0"}));
  EXPECT_EQ(std::count(entries.begin(), entries.end(), '\0'), 5);
  EXPECT_THAT(entries, HasSubstr(std::string("\0", 1) + trash + "/files/orphan" + '\0'));

  // The newest from a place goes back; the older one then finds its place taken and stays.
  fs::remove(report);
  EXPECT_THAT(runHost({"trash", "restore", tree.path("a/./report.txt/")}),
      ::testing::FieldsAre(0, "put back 1 item:\n  " + report + "\n", ""));
  EXPECT_EQ(readFile(report), "second");
  EXPECT_THAT(runHost({"trash", "restore", report, tree.path("nowhere"), trash + "/files/orphan"}),
      ::testing::FieldsAre(1,
          "2 items could not be put back:\n  " + trash + "/files/report.txt\n  " + trash +
              "/files/orphan\n  " + report + " already exists\n  " + trash +
              "/files/orphan: no record of where it came from\n",
          "nimbra: trash restore: " + tree.path("nowhere") +
              ": not in the Trash\nnimbra: trash restore: 3 items were not put back\n"));
  EXPECT_EQ(readFile(report), "second");

  // Only what is older than the days asked for, and only with consent.
  const std::string asked = "to delete for good: 1 item, 10 B\n  10 B  " + tree.path("old.bin") +
                            "\nleft alone: 2 entries moved to the Trash in the last 30 days\n"
                            "left alone: 1 entry with no date of moving on record\n";
  EXPECT_THAT(runHost({"trash", "empty", "--older-than", "30"}),
      ::testing::FieldsAre(1, asked,
          "nimbra: trash empty: not on a terminal, so nothing was deleted; add --yes to remove "
          "this item\n"));
  EXPECT_THAT(runHost({"trash", "empty", "--older-than", "30", "--yes"}),
      ::testing::FieldsAre(0, asked + "deleted for good, 10 B freed\n", ""));
  EXPECT_FALSE(present(trash + "/files/old.bin") || present(trash + "/info/old.bin.trashinfo"));
  EXPECT_EQ(entryCount(trash + "/files"), 3);
  const auto [emptied, answer, emptyErr] = runHost({"trash", "empty", "--yes", "--json"});
  EXPECT_EQ(emptied, 0);
  EXPECT_EQ(answer, toJsonText(deleteResult(5 + 40 + 9)) + "\n");
  EXPECT_THAT(emptyErr, StartsWith("to delete for good: 3 items, 54 B\n"));
  EXPECT_EQ(entryCount(trash + "/files") + entryCount(trash + "/info"), 0);
  EXPECT_THAT(runHost({"trash"}), ::testing::FieldsAre(0, "the Trash is empty\n", ""));
}

// Runs nimbra ARGUMENTS on a pseudo-terminal of its own (its controlling terminal, stdin, stdout
// and stderr), types `keys` once the terminal shows `cue`, and answers the exit status and all
// the terminal showed. Gives up after 30 seconds, killing it.
std::pair<int, std::string> runOnTerminal(
    std::vector<std::string> arguments, const std::string& cue, const std::string& keys) {
  arguments.insert(arguments.begin(), NIMBRA_HOST_PATH);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::string shown;
  bool typed = false, timedOut = true;
  for (pollfd ready{terminal, POLLIN, 0}; ::poll(&ready, 1, 30000) > 0;) {
    char buffer[4096];
    const ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got <= 0) {  // EIO: the program has ended
      timedOut = false;
      break;
    }
    shown.append(buffer, static_cast<size_t>(got));
    if (!typed && shown.find(cue) != std::string::npos)
      typed = ::write(terminal, keys.data(), keys.size()) > 0;
  }
  if (timedOut) ::kill(pid, SIGKILL);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  ::close(terminal);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), shown};
}

TEST(ViewCommands, JunkCleanAtATerminalListsWhatGoesAndCtrlCAtTheQuestionDeletesNothing) {
  TempTree tree;
  const std::string home = tree.makeDir("home");
  tree.touch("home/Library/Caches/app/cache.db", 4000);
  ScopedEnv homeVariable("HOME", home);
  ScopedEnv tmpVariable("TMPDIR", tree.makeDir("tmp") + "/");
  ScopedEnv noColour("NO_COLOR", "1");
  const auto [status, shown] = runOnTerminal({"junk", "clean", "userCache"}, "[y/N] ", "\x03");
  EXPECT_EQ(status, 130) << shown;
  EXPECT_THAT(shown, HasSubstr("to delete for good: 1 item, 4.0 KB\r\n  4.0 KB  " + home +
                               "/Library/Caches/app\r\nDelete this item for good? [y/N] "));
  EXPECT_THAT(shown, ::testing::EndsWith("nimbra: junk clean: nothing was deleted\r\n"));
  EXPECT_TRUE(fs::exists(tree.path("home/Library/Caches/app/cache.db")));
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
