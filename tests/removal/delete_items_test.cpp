#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "channel/nimbra_native.h"
#include "removal/admin_removal.h"
#include "removal/deletion_fixtures.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra {
namespace {

using test::ChannelHarness;
using test::describe;
using test::findByteSum;
using test::present;
using test::RecordingScriptRunner;
using test::ScopedEnv;
using test::TempTree;

ValueMap deleteArgs(const std::vector<std::string>& paths, bool toTrash = false, bool allowAdmin = false) {
  return {{"paths", ValueList(paths.begin(), paths.end())}, {"toTrash", toTrash}, {"allowAdmin", allowAdmin}};
}

Value result(int64_t freed, std::vector<std::string> failed = {}, std::string error = "",
             std::vector<std::string> inTrash = {}, int64_t inTrashBytes = 0) {
  return ValueMap{{"freed", freed},
                  {"failed", ValueList(failed.begin(), failed.end())},
                  {"inTrash", ValueList(inTrash.begin(), inTrash.end())},
                  {"inTrashBytes", inTrashBytes},
                  {"error", error}};
}

ValueMap event(const std::string& path, int64_t count, int64_t bytes) {
  return {{"task", "delete"}, {"path", path}, {"count", count}, {"bytes", bytes}};
}

// Every test gets its own home, so the trash stays inside the test's folder.
class DeleteItems : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedEnv home{"HOME", tree.makeDir("home")};
  ScopedEnv data{"XDG_DATA_HOME", tree.path("home/data")};

  // Makes the folder root's, so the nobody user cannot remove what is directly inside it.
  void lock(const std::string& relative) { ASSERT_EQ(::chown(tree.path(relative).c_str(), 0, 0), 0); }
};

TEST_F(DeleteItems, EmptyListAndMissingPathsFreeNothingAndReportOnlyTheEnd) {
  ChannelHarness channel;
  auto outcome = channel.call("deleteItems", deleteArgs({}));
  EXPECT_EQ(outcome.answer, result(0));
  EXPECT_THAT(outcome.events, ::testing::ElementsAre(event("", 0, 0)));
  outcome = channel.call("deleteItems", deleteArgs({tree.path("nope"), tree.symlink("/nonexistent", "dangling")}));
  EXPECT_EQ(outcome.answer, result(0));
  EXPECT_THAT(outcome.events, ::testing::ElementsAre(event("", 2, 0)));
  EXPECT_TRUE(present(tree.path("dangling")));  // a link to nothing fails the existence test and stays
}

TEST_F(DeleteItems, TreeGoesWithExactlyItsBytesAndLinksGoWithoutTheirTargets) {
  tree.touch("work/a.bin", 1000);
  tree.touch("work/.hidden", 24);
  tree.sparseFile("work/sub/sparse", 1 << 20);
  tree.hardlink("work/a.bin", "work/sub/a-again");
  tree.touch("neighbour/keep", 77);
  tree.symlink(tree.path("neighbour"), "work/link-out");
  const std::string folderLink = tree.symlink(tree.path("neighbour"), "folder-link");
  const std::string file = tree.touch("single", 333);
  const int64_t bytes = findByteSum(tree.path("work"));
  ASSERT_EQ(bytes, 1000 + 24 + (1 << 20) + 1000);

  RecordingScriptRunner admin;
  ChannelHarness channel({.scriptRunner = &admin});
  auto outcome = channel.call("deleteItems", deleteArgs({tree.path("work"), file, file, folderLink}, false, true));
  EXPECT_EQ(outcome.answer, result(bytes + 333));
  ASSERT_FALSE(outcome.events.empty());
  EXPECT_EQ(outcome.events.front(), event(tree.path("work"), 1, bytes));  // the first passes the throttle
  EXPECT_EQ(outcome.events.back(), event("", 4, bytes + 333));
  EXPECT_FALSE(present(tree.path("work")) || present(file) || present(folderLink));
  EXPECT_EQ(findByteSum(tree.path("neighbour")), 77);
  EXPECT_TRUE(admin.scripts.empty());  // nothing stood, so no administrator step
}

TEST_F(DeleteItems, TrashRouteLeavesNothingInTheTrashAndAFailedMoveFallsBackToRemoval) {
  const std::string file = tree.touch("doc.txt", 120);
  tree.touch("folder/x", 30);
  // Items on another file system cannot move to the home trash. A folder is then emptied and
  // removed like on the permanent route; a file stays and is reported with the system's text.
  const std::string foreign = "/dev/shm/nimbra-delete-test-" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(foreign.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((foreign + "/dir").c_str(), 0755), 0);
  std::ofstream(foreign + "/dir/keep") << "data";
  std::ofstream(foreign + "/file") << "bytes";
  ChannelHarness channel;
  auto outcome = channel.call(
      "deleteItems", deleteArgs({file, tree.path("folder"), foreign + "/dir", foreign + "/file"}, true));
  const bool folderGone = !present(foreign + "/dir");
  const bool fileKept = present(foreign + "/file");
  std::filesystem::remove_all(foreign);
  EXPECT_EQ(outcome.answer,
            result(154, {foreign + "/file"}, foreign + "/file: Invalid cross-device link"));
  EXPECT_TRUE(folderGone);
  EXPECT_TRUE(fileKept);
  EXPECT_FALSE(present(file) || present(tree.path("folder")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.path("home/data/Trash/files")), {}), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.path("home/data/Trash/info")), {}), 0);
}

TEST_F(DeleteItems, UnremovableItemsFailWithAtMostThreeErrorLinesAndTheRestFreed) {
  tree.touch("dir/locked/keep", 8);
  int64_t removable = 0;
  for (int i = 0; i < 40; ++i) removable += findByteSum(tree.touch("dir/f" + std::to_string(i), 10 + i));
  std::vector<std::string> paths = {tree.path("dir")};
  for (int i = 0; i < 3; ++i) paths.push_back(tree.touch("fixed/f" + std::to_string(i), 1));
  tree.giveToNobody();
  lock("dir/locked");
  lock("fixed");
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              ChannelHarness channel;
              auto outcome = channel.call("deleteItems", deleteArgs(paths));
              const std::string lines = paths[0] + "/locked/keep: Permission denied\n" + paths[1] +
                                        ": Permission denied\n" + paths[2] + ": Permission denied";
              if (outcome.answer != result(removable, paths, lines)) return "answer " + describe(outcome.answer);
              if (!present(paths[0] + "/locked/keep") || findByteSum(paths[0]) != 8) return "wrong things left";
              return "";
            }),
            "");
}

TEST_F(DeleteItems, LinkToAFolderThatCannotBeRemovedNeverEmptiesTheTarget) {
  tree.touch("target/precious", 64);
  tree.makeDir("fixed");
  tree.giveToNobody();
  const std::string link = tree.symlink(tree.path("target"), "fixed/link");
  lock("fixed");
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              ChannelHarness channel;
              auto outcome = channel.call("deleteItems", deleteArgs({link}));
              if (outcome.answer != result(0, {link}, link + ": Permission denied")) return describe(outcome.answer);
              return findByteSum(tree.path("target")) == 64 ? "" : "the link's target was emptied";
            }),
            "");
}

TEST_F(DeleteItems, ItemThatCannotLeaveTheTrashIsReportedInTrash) {
  tree.touch("dir/locked/keep", 8);
  tree.touch("dir/free", 50);
  tree.giveToNobody();
  lock("dir/locked");
  const std::string dir = tree.path("dir");
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              ChannelHarness channel;
              auto outcome = channel.call("deleteItems", deleteArgs({dir}, true));
              if (outcome.answer != result(50, {}, "", {dir}, 8)) return "answer " + describe(outcome.answer);
              const std::string trash = tree.path("home/data/Trash");
              if (findByteSum(trash + "/files/dir") != 8 || !present(trash + "/info/dir.trashinfo")) return "trash";
              return "";
            }),
            "");
}

TEST_F(DeleteItems, AdministratorStepRunsOnceForEverythingStillStanding) {
  // Folders the nobody user owns but may not write: the ordinary attempt fails; the
  // "administrator" (the recording runner) opens them up and removes them the first time.
  tree.touch("a/file", 100);
  tree.touch("it's \"b\"/file", 20);
  const std::string plain = tree.touch("plain", 5);
  tree.giveToNobody();
  const std::string a = tree.path("a"), b = tree.path("it's \"b\"");
  ::chmod(a.c_str(), 0555);
  ::chmod(b.c_str(), 0555);
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              RecordingScriptRunner admin;
              ChannelHarness channel({.scriptRunner = &admin});
              // A refused password: both stay failed, with the runner's text as a last line.
              auto outcome = channel.call("uninstallApp", ValueMap{{"paths", ValueList{a, b}}});
              std::string lines = a + "/file: Permission denied\n" + b + "/file: Permission denied";
              if (outcome.answer != result(0, {a, b}, lines + "\nUser canceled.")) return describe(outcome.answer);

              admin.answer = {true, ""};
              admin.onRun = [&] {
                for (const auto& d : {a, b}) std::filesystem::permissions(d, std::filesystem::perms::owner_all);
                std::filesystem::remove_all(a);
                std::filesystem::remove_all(b);
              };
              outcome = channel.call("deleteItems", deleteArgs({a, plain, b}, false, true));
              if (outcome.answer != result(125, {}, lines)) return "answer " + describe(outcome.answer);
              const std::string script = adminRemovalScript({a, b});
              return admin.scripts == std::vector<std::string>{script, script} ? "" : "scripts differ";
            }),
            "");
}

TEST_F(DeleteItems, AfterACancelEveryPathIsStillVisitedAndOnlyWhatWentCountsAsFreed) {
  // dir's contents can go, dir itself cannot. With the cancellation flag up, emptying stops at
  // once but measurements stay whole: freed is exactly what left the disk.
  tree.touch("fixed/dir/sub/a", 300);
  tree.touch("fixed/dir/b", 200);
  tree.touch("other/c", 50);
  tree.giveToNobody();
  lock("fixed");
  const std::string dir = tree.path("fixed/dir"), other = tree.path("other");
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              NimbraNative service;
              service.cancel();
              const Value answer = service.deleteItems({dir, other}, false, false);
              if (present(other)) return "the path after the cancellation was not removed";
              if (answer != result(500 - findByteSum(dir) + 50, {dir}, dir + ": Permission denied")) {
                return describe(answer) + " with " + std::to_string(findByteSum(dir)) + " bytes left";
              }
              return "";
            }),
            "");
}

TEST(AdminRemovalScript, QuotesForTheShellThenEscapesForTheLiteral) {
  EXPECT_EQ(adminRemovalScript({"/tmp/it's", "/tmp/a\"b\\c"}),
            R"(do shell script "rm -rf '/tmp/it'\\''s' '/tmp/a\"b\\c'" with administrator privileges)");
  EXPECT_EQ(adminRemovalScript({"-rf", "/x"}), R"(do shell script "rm -rf -- '-rf' '/x'" with administrator privileges)");
}

TEST(AdminRemovalScript, HostileNamesReachTheRealRunnerAndOnlyThoseGo) {
  // The nobody user cannot remove anything in victims/ (root's), so every path is left for the
  // administrator step; its script is then run for real, as root, by the real runner.
  TempTree tree;
  const std::string marker = tree.path("pwned");  // what any name run as a command would leave
  ScopedEnv markerVariable("NIMBRA_MARKER", marker);
  const std::vector<std::string> names = {"it's", "say \"hi\"", "back\\slash", "$(touch \"$NIMBRA_MARKER\")",
                                          "`touch \"$NIMBRA_MARKER\"`", "two  spaces", "-rf", "new\nline",
                                          "trailing\\", "mix '\"\\$`;|&"};
  const std::vector<std::string> decoys = {"it", "s", "say", "-", "two", "spaces", "mix", "new", "line"};
  std::vector<std::string> paths;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string relative = "victims/" + names[i];
    tree.touch(i % 2 ? relative : relative + "/inner", 1);  // files and folders alike
    tree.touch(relative + " sibling", 1);
    paths.push_back(tree.path(relative));
  }
  for (const auto& decoy : decoys) tree.touch("victims/" + decoy, 1);
  tree.giveToNobody();
  ASSERT_EQ(::chown(tree.path("victims").c_str(), 0, 0), 0);
  const std::string scriptFile = tree.path("script");

  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              RecordingScriptRunner admin;
              admin.answer = {false, ""};
              NimbraNative service({.scriptRunner = &admin});
              const ValueMap answer = service.deleteItems(paths, false, true);
              if (answer.at("failed") != Value(ValueList(paths.begin(), paths.end()))) return "not all failed";
              if (admin.scripts.size() != 1) return "the script ran " + std::to_string(admin.scripts.size()) + " times";
              std::ofstream(scriptFile) << admin.scripts[0];
              return "";
            }),
            "");
  std::stringstream script;
  script << std::ifstream(scriptFile).rdbuf();
  EXPECT_EQ(script.str(), adminRemovalScript(paths));
  ASSERT_EQ(::geteuid(), 0u) << "CI runs as root, so the fallback really runs rm -rf";
  EXPECT_EQ(ShellScriptRunner().runScript(script.str()), (ScriptResult{true, ""}));
  for (const auto& path : paths) EXPECT_FALSE(present(path)) << path;
  for (const auto& name : names) EXPECT_TRUE(present(tree.path("victims/" + name + " sibling"))) << name;
  for (const auto& decoy : decoys) EXPECT_TRUE(present(tree.path("victims/" + decoy))) << decoy;
  EXPECT_FALSE(present(marker));
}

}  // namespace
}  // namespace nimbra
