// The commands for people, run as the real program on built trees: what they print, what they
// delete (exactly the chosen junk, and nothing without consent), Ctrl-C, and the ncdu export.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "host_process.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"
#include "support/walk_watch.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

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

TEST(ViewCommands, TreeDupesAndSizeShowTheAnswersAndJsonIsWhatCallPrints) {
  TempTree tree;
  tree.touch("a/one", 100, 1);
  tree.touch("a/deep/two", 200, 2);
  tree.touch("a/deep/copy", 200, 2);
  tree.touch("b/three", 50, 3);
  tree.symlink("/usr", "b/link");
  tree.touch("x", 7, 4);
  const std::string root = tree.root();
  auto [status, out, err] = runHost({"tree", root, "--bytes"});
  ASSERT_EQ(status, 0) << err;
  EXPECT_THAT(out, StartsWith(root + "  557  5 files\n"));
  EXPECT_THAT(out, HasSubstr("\u251C\u2500 a/"));
  EXPECT_THAT(out, HasSubstr("   500 "));  // a = 100 + 200 + 200
  EXPECT_THAT(out, HasSubstr("\u2502  \u251C\u2500 deep/"));
  EXPECT_EQ(std::get<1>(runHost({"tree", root, "--depth", "1", "--json"})),
            std::get<1>(runHost({"call", "analyzeDisk", R"({"path":")" + root + R"(","depth":1})"})));

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
  tree.touch("tmp/scratch", 20);
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
  EXPECT_TRUE(fs::exists(tree.path("tmp/scratch")));
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

TEST(ViewCommands, NcduExportHoldsEverySizeOfTheWalkAndNcduReadsIt) {
  TempTree tree;
  tree.touch("a/b/c/deep", 1234);
  tree.touch("a/file", 10);
  tree.sparseFile("big", 1 << 20);
  tree.symlink("a", "link");
  tree.write("bad\xfe name", "12345");
  const std::string file = tree.path("../" + fs::path(tree.root()).filename().string() + ".ncdu.json");
  const auto [status, out, err] = runHost({"tree", tree.root(), "--export-ncdu", file, "--json"});
  ASSERT_EQ(status, 0) << err;
  EXPECT_THAT(err, HasSubstr("ncdu -f " + file));
  std::ifstream in(file);
  const nlohmann::json document = nlohmann::json::parse(in);
  ASSERT_TRUE(document.is_array() && document.size() == 4);
  EXPECT_EQ(document[0], 1);
  int64_t bytes = 0, count = 0;
  sumExport(document[3], bytes, count);
  EXPECT_EQ(count, 5);  // deep, file, big, link, the bad name: every entry but the folders
  EXPECT_EQ(bytes, 1234 + 10 + (1 << 20) + 5);
  EXPECT_EQ(document[3][0]["name"], tree.root());
  EXPECT_EQ(std::system(("ncdu -f '" + file + "' -o /dev/null").c_str()), 0);
  fs::remove(file);
}

}  // namespace
}  // namespace nimbra::test
