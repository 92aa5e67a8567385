#include "ops/junk/empty_trash.h"
#include "ops/removal/trash_items.h"
#include "support/deletion_fixtures.h"
#include "support/test_context.h"

namespace nimbra::test {
namespace {

std::string withNul(const std::string& before, const std::string& after) {
  return before + '\0' + after;
}

Value trashResult(const std::vector<std::string>& trashed, const std::vector<std::string>& failed,
    const std::string& error, bool cancelled = false) {
  return ValueMap{{"trashed", ValueList(trashed.begin(), trashed.end())},
      {"failed", ValueList(failed.begin(), failed.end())}, {"error", error},
      {"cancelled", cancelled}};
}

Event trashEvent(const std::string& path, int64_t count, int64_t bytes) {
  return {"trash", path, count, bytes};
}

TEST(HomeTrash, ItemsTrashedStayUntilEmptyingTakesEachWithItsRecord) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), trash = tree.path("home/data/Trash");
  const std::string spaced = tree.touch("a/100% sure.txt", 10),
                    again = tree.touch("b/100% sure.txt", 20);
  const std::string folder = tree.path("c/folder");
  tree.touch("c/folder/inner", 30);
  tree.touch("target/keep", 7);
  const std::string link =
      tree.symlink("../target", "a/link");  // once in the Trash it points nowhere
  tree.touch("home/.Trash/mac", 5);         // the Mac's place for it, which is no Trash here
  TestContext context({.home = home, .trash = trash});
  EXPECT_EQ(Value(emptyTrash(*context)), deleteResult(0));  // no Trash folder at all

  // A path given twice went with its first mention. Refused and missing paths fail; only the
  // first three failures are described.
  const std::string missing = tree.path("missing");
  const std::vector<std::string> paths = {spaced, again, link + "/", folder, spaced, missing,
      tree.path("c/.."), "/", withNul(folder, "/..")};
  context.events.clear();
  EXPECT_EQ(Value(trashItems(*context, paths)),
      trashResult({spaced, again, link + "/", folder}, {missing, paths[6], "/", paths[8]},
          missing + ": No such file or directory\n" + paths[6] +
              ": Invalid argument\n/: Device or resource busy"));
  EXPECT_THAT(context.events,
      ::testing::ElementsAre(trashEvent(spaced, 1, 10), trashEvent(again, 2, 30),
          trashEvent(link + "/", 3, 30), trashEvent(folder, 4, 60), trashEvent(spaced, 5, 60),
          trashEvent(missing, 6, 60), trashEvent(paths[6], 7, 60), trashEvent("/", 8, 60),
          trashEvent(paths[8], 9, 60), trashEvent("", 9, 60)));
  EXPECT_FALSE(present(spaced) || present(again) || present(link) || present(folder));
  EXPECT_EQ(readFile(trash + "/files/100% sure.txt.2"), readFile(tree.touch("expected", 20)));
  EXPECT_THAT(readFile(trash + "/info/100% sure.txt.2.trashinfo"),
      ::testing::ContainsRegex(
          "^\\[Trash Info\\]\nPath=" + tree.root() +
          "/b/100%25%20sure.txt\nDeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\n$"));
  struct stat files {};
  EXPECT_TRUE(::stat((trash + "/files").c_str(), &files) == 0 && (files.st_mode & 0777) == 0700);
  EXPECT_THAT(
      readFile(trash + "/info/link.trashinfo"), ::testing::HasSubstr("\nPath=" + link + "\n"));
  char target[16] = {};
  EXPECT_EQ(::readlink((trash + "/files/link").c_str(), target, sizeof target - 1), 9);
  EXPECT_STREQ(target, "../target");
  EXPECT_EQ(findByteSum(tree.path("target")) + findByteSum(trash + "/files"), 7 + 60);

  // Cancelled between items: what was not reached stays in place and in neither list.
  const std::string first = tree.touch("d/first", 1), second = tree.touch("d/second", 2);
  context.events.clear();
  context.cancelAtOffer = 1;  // the offer after the first item
  EXPECT_EQ(Value(trashItems(*context, {first, second})), trashResult({first}, {}, "", true));
  EXPECT_EQ(context.events.back(), trashEvent("", 1, 1));
  context.cancelled = false;
  EXPECT_TRUE(present(second));

  // Emptying takes every entry, hidden ones and the link that points nowhere too, each with its
  // record, and the folder size cache.
  tree.touch("home/data/Trash/files/.hidden", 4);
  tree.touch("home/data/Trash/directorysizes", 3);
  EXPECT_EQ(Value(emptyTrash(*context)), deleteResult(10 + 20 + 30 + 1 + 4));
  EXPECT_EQ(context.events.back(), deleteEvent("", 6, 65));
  EXPECT_EQ(entryCount(trash) + entryCount(trash + "/files") + entryCount(trash + "/info"), 2);
  EXPECT_EQ(findByteSum(tree.path("target")) + findByteSum(home + "/.Trash"), 7 + 5);

  // A Trash that is a link is neither filled nor emptied.
  std::filesystem::remove_all(trash);
  tree.touch("elsewhere/files/precious", 10);
  tree.symlink(tree.path("elsewhere"), "home/data/Trash");
  EXPECT_EQ(Value(emptyTrash(*context)), deleteResult(0));
  EXPECT_EQ(json(trashItems(*context, {second})),
      json(trashResult({}, {second}, trash + ": Not a directory")));
  EXPECT_TRUE(present(second));
  EXPECT_EQ(findByteSum(tree.path("elsewhere")), 10);
}

}  // namespace
}  // namespace nimbra::test
