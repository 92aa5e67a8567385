#include "ops/removal/delete_items.h"
#include "platform/process/script_grammar.h"
#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

// Every test gets its own home, so the trash stays inside the test's folder.
class DeleteItems : public ::testing::Test {
 protected:
  TempTree tree;
  Folders folders{.home = tree.makeDir("home"), .trash = tree.path("home/data/Trash")};
};

TEST_F(
    DeleteItems, TreeGoesWithExactlyItsBytesLinksWithoutTheirTargetsAndMissingPathsWithoutTrace) {
  tree.touch("work/a.bin", 1000);
  tree.touch("neighbour/keep", 77);
  tree.symlink(tree.path("neighbour"), "work/link-out");
  const std::string folderLink = tree.symlink(tree.path("neighbour"), "folder-link"),
                    work = tree.path("work");
  const std::string file = tree.touch("single", 333),
                    dangling = tree.symlink("/nonexistent", "dangling");
  const std::string loop = tree.symlink(tree.path("Loop.app"), "Loop.app");
  const int64_t bytes = findByteSum(work);

  RecordingScriptRunner admin;
  TestContext context(folders, {.scripts = &admin});
  // The second `file` is gone by then; a link to nothing fails the existence test and stays, but
  // a link to itself is no missing item: it goes, as a link.
  EXPECT_EQ(
      Value(deleteItems(*context, {work, file, file, folderLink, dangling, loop}, false, true)),
      deleteResult(bytes + 333));
  ASSERT_FALSE(context.events.empty());
  EXPECT_EQ(context.events.front(), deleteEvent(work, 1, bytes));
  EXPECT_EQ(context.events.back(), deleteEvent("", 6, bytes + 333));
  EXPECT_FALSE(present(work) || present(file) || present(folderLink) || present(loop));
  EXPECT_TRUE(present(dangling));
  EXPECT_EQ(findByteSum(tree.path("neighbour")), 77);
  EXPECT_TRUE(admin.scripts.empty());  // nothing stood, so no administrator step
}

TEST_F(DeleteItems,
    WhatStillStandsFailsWithAtMostThreeErrorLinesAfterOneAdministratorStepForAllEvenAfterACancel) {
  // Root's folders keep what is directly inside them from the nobody user. a and it's "b" are
  // nobody's but not writable: the "administrator" (the recording runner) opens them up.
  const std::string f0 = tree.touch("fixed/f0", 1), f1 = tree.touch("fixed/f1", 1);
  tree.touch("fixed/dir/sub/a", 300);
  tree.touch("fixed/dir/b", 200);
  tree.touch("other/c", 50);
  const std::string dir = tree.path("fixed/dir"), other = tree.path("other");
  tree.touch("a/file", 100);
  tree.touch("it's \"b\"/file", 20);
  const std::string plain = tree.touch("plain", 5), a = tree.path("a"), b = tree.path("it's \"b\"");
  for (const auto& folder : {a, b}) ::chmod(folder.c_str(), 0555);
  tree.touch("trashed/locked/keep", 8);
  tree.touch("trashed/free", 50);
  tree.touch("gone/x", 7);
  const std::string trashed = tree.path("trashed"), gone = tree.path("gone"),
                    trash = tree.path("home/data/Trash");
  tree.giveToNobody();
  for (const char* locked : {"fixed", "trashed/locked"})
    ASSERT_EQ(::chown(tree.path(locked).c_str(), 0, 0), 0);
  const std::string answers = runUnprivileged([&] {
    // dir's contents can go, dir itself cannot. With the cancellation flag up, emptying stops
    // at once but measurements stay whole, and the later path is still visited.
    RecordingScriptRunner admin;
    TestContext context(folders, {.scripts = &admin});
    context.cancelled = true;
    std::string answers = json(deleteItems(*context, {dir, other}, false, false));
    context.cancelled = false;
    answers += json(deleteItems(*context, {f0, a, f1, b}, false, true));
    admin.answer = {true, ""};
    admin.onRun = [&] {
      for (const auto& folder : {a, b}) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(folder);
      }
    };
    answers += json(deleteItems(*context, {a, plain, b}, false, true));
    answers += json(deleteItems(*context, {trashed, gone}, true, true));
    return answers + toJsonText(ValueList(admin.scripts.begin(), admin.scripts.end()));
  });
  const std::string denied = ": Permission denied\n";
  const std::string firstThreeErrors = f0 + denied + a + "/file" + denied + f1 + denied;
  // A refused password leaves every queued path failed, with the runner's text as a last line.
  // What cannot leave the Trash is no failure of the item: it is reported in the Trash.
  EXPECT_EQ(answers,
      json(deleteResult(500 - findByteSum(dir) + 50, {dir}, dir + ": Permission denied")) +
          json(deleteResult(0, {f0, a, f1, b}, firstThreeErrors + "User canceled.")) +
          json(deleteResult(125, {}, a + "/file" + denied + b + "/file: Permission denied")) +
          json(deleteResult(57, {}, "", {trashed}, 8)) +
          toJsonText(ValueList{adminRemovalScript({f0, a, f1, b}), adminRemovalScript({a, b})}));
  EXPECT_FALSE(present(other)) << "the path after the cancellation was not removed";
  EXPECT_EQ(findByteSum(trash + "/files/trashed"), 8);
  // What left the Trash took its record along; what stays keeps its own.
  EXPECT_EQ(entryCount(trash + "/files") + entryCount(trash + "/info"), 2);
  EXPECT_TRUE(present(trash + "/info/trashed.trashinfo"));
}

}  // namespace
}  // namespace nimbra::test
