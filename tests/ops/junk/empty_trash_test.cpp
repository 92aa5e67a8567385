#include <ctime>

#include "ops/junk/empty_trash.h"
#include "ops/junk/list_trash.h"
#include "ops/junk/scan_junk.h"
#include "ops/removal/delete_items.h"
#include "ops/removal/trash_items.h"
#include "support/answers.h"
#include "support/channel_harness.h"
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

// trashItems' answer but where each item went, which the restoring tests look at.
Value withoutMoved(ValueMap answer) {
  answer.erase("moved");
  return answer;
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
  EXPECT_EQ(withoutMoved(trashItems(*context, paths)),
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
  EXPECT_EQ(
      withoutMoved(trashItems(*context, {first, second})), trashResult({first}, {}, "", true));
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
  EXPECT_EQ(json(withoutMoved(trashItems(*context, {second}))),
      json(trashResult({}, {second}, trash + ": Not a directory")));
  EXPECT_TRUE(present(second));
  EXPECT_EQ(findByteSum(tree.path("elsewhere")), 10);
}

// A link at the Trash's files/ or info/ leads nowhere: not to what emptying, the junk scan and
// deletion reach, nor to the records that go with them. Nothing moves into the Trash from inside
// it, nor the Trash into itself, and an entry that another tool left without a record is never
// replaced by a new one.
TEST(HomeTrash, NothingIsReachedThroughItsLinksAndNothingMovesIntoItself) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), data = tree.path("home/data"),
                    trash = tree.path("home/data/Trash");
  TestContext context({.home = home, .temporary = tree.makeDir("tmp") + "/", .trash = trash});
  const std::string report = tree.touch("a/report.txt", 10), kept = tree.touch("a/kept", 3);
  tree.makeDir("a/sub");
  tree.write("home/data/Trash/files/report.txt", "planted");  // left by another tool, no record
  ASSERT_EQ(json(withoutMoved(trashItems(*context, {report, kept}))),
      json(trashResult({report, kept}, {}, "")));
  EXPECT_EQ(readFile(trash + "/files/report.txt"), "planted");
  EXPECT_EQ(findByteSum(trash + "/files/report.txt.2"), 10);
  EXPECT_FALSE(present(trash + "/info/report.txt.trashinfo"));

  // In the Trash already, the Trash itself, a folder holding it: refused, nothing moves, every
  // record stays.
  const std::vector<std::string> inside = {trash + "/files/kept", trash + "/info/", trash, data,
      home + "/./data/Trash/files/report.txt.2", trash + "/files"};
  EXPECT_EQ(json(withoutMoved(trashItems(*context, inside))),
      json(trashResult({}, inside,
          inside[0] + ": already in the Trash\n" + inside[1] + ": already in the Trash\n" + trash +
              ": is the Trash")));
  EXPECT_EQ(entryCount(trash + "/files") + entryCount(trash + "/info"), 3 + 2);
  // Through the way station of deletion, an entry simply goes, its record with it.
  EXPECT_EQ(json(deleteItems(*context, {inside[0]}, true, false)), json(deleteResult(3)));
  EXPECT_FALSE(present(trash + "/files/kept") || present(trash + "/info/kept.trashinfo"));

  // info/ a link: emptying takes the entries, and not the records of the folder it points to.
  tree.write("elsewhere/report.txt.2.trashinfo", "someone else's");
  std::filesystem::rename(trash + "/info", tree.path("real-info"));
  tree.symlink(tree.path("elsewhere"), "home/data/Trash/info");
  EXPECT_EQ(json(emptyTrash(*context)), json(deleteResult(10 + 7)));
  EXPECT_EQ(readFile(tree.path("elsewhere/report.txt.2.trashinfo")), "someone else's");

  // files/ a link to the documents: no scan offers them, no emptying or deletion reaches them.
  const std::string thesis = tree.touch("home/Documents/thesis.txt", 40);
  std::filesystem::remove(trash + "/files");
  tree.symlink(home + "/Documents", "home/data/Trash/files");
  const ValueMap scan = scanJunk(*context);
  for (const Value& category : get<ValueList>(scan, "categories")) {
    if (get<std::string>(asMap(category), "id") == "trash") {
      EXPECT_EQ(asMap(category).at("items"), Value(ValueList{}));
    }
  }
  EXPECT_EQ(json(emptyTrash(*context)), json(deleteResult(0)));
  EXPECT_EQ(json(emptyTrash(*context, {{trash + "/files/thesis.txt"}})),
      json(deleteResult(
          0, {trash + "/files/thesis.txt"}, trash + "/files/thesis.txt: not in the Trash")));
  EXPECT_EQ(json(deleteItems(*context, {trash + "/files/thesis.txt"}, false, false)),
      json(deleteResult(0)));
  EXPECT_EQ(findByteSum(thesis), 40);
}

// What a person confirms from a listing is what goes: exactly the entries named, each with its
// record, a link as the link; anything else named fails, and whatever else is in the Trash stays.
TEST(HomeTrash, EmptyingTheEntriesListedTakesExactlyThose) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), trash = tree.path("home/data/Trash");
  TestContext context({.home = home, .trash = trash});
  const std::string file = tree.touch("a/file", 10);
  tree.touch("a/folder/inner", 20);
  tree.touch("outside/canary", 6);
  const std::string link = tree.symlink(tree.path("outside"), "a/link");
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(
      get<ValueList>(trashItems(*context, {file, tree.path("a/folder"), link}), "trashed").size(),
      3u);
  tree.touch("home/data/Trash/files/.orphan", 5);  // no record
  tree.write("home/data/Trash/info/bad.trashinfo", "[Trash Info]\nPath=relative\n");
  tree.touch("home/data/Trash/files/bad", 1);

  ValueMap listing = listTrash(*context);
  EXPECT_EQ(listing.at("cancelled"), Value(false));
  std::map<std::string, ValueMap> byName;
  for (const Value& item : get<ValueList>(listing, "items"))
    byName[get<std::string>(asMap(item), "name")] = asMap(item);
  ASSERT_EQ(byName.size(), 5u);
  for (const std::string name : {"file", "folder", "link"}) {
    const ValueMap& entry = byName[name];
    EXPECT_EQ(get<std::string>(entry, "path"), trash + "/files/" + name);
    EXPECT_EQ(get<std::string>(entry, "originalPath"), tree.path("a/" + name));
    EXPECT_NEAR(static_cast<double>(get<int64_t>(entry, "deletedAt")), before, 5);
  }
  EXPECT_EQ(
      std::vector({byName["file"].at("size"), byName["folder"].at("size"),
          byName["link"].at("size"), byName["folder"].at("isDir"), byName["link"].at("isDir")}),
      std::vector<Value>({int64_t{10}, int64_t{20}, int64_t{0}, true, false}));
  for (const std::string name : {".orphan", "bad"}) {
    EXPECT_EQ(byName[name].at("originalPath"), Value(""));
    EXPECT_EQ(byName[name].at("deletedAt"), Value(int64_t{0}));
  }

  // Named with a trailing slash, the link goes as the link. A path outside the Trash, one with
  // a NUL byte and an entry gone by now fail; the folder and the orphan stay.
  const std::vector<std::string> named = {trash + "/files/file", trash + "/files/link/",
      tree.path("outside"), trash + "/files/file" + '\0' + "/..", trash + "/files/gone"};
  EXPECT_EQ(json(emptyTrash(*context, named)),
      json(deleteResult(10, {named[2], named[3], named[4]},
          named[2] + ": not in the Trash\n" + named[3] + ": not in the Trash\n" + named[4] +
              ": not in the Trash")));
  EXPECT_EQ(findByteSum(tree.path("outside")), 6);
  EXPECT_FALSE(present(trash + "/files/link") || present(trash + "/info/link.trashinfo") ||
               present(trash + "/info/file.trashinfo"));
  EXPECT_TRUE(present(trash + "/files/folder/inner") && present(trash + "/files/.orphan") &&
              present(trash + "/info/folder.trashinfo"));

  // Through the channel: a "paths" that is no list of strings takes nothing; none takes all.
  ScopedEnv homeVariable("HOME", home);
  ScopedEnv dataVariable("XDG_DATA_HOME", tree.path("home/data"));
  ChannelHarness channel;
  EXPECT_EQ(json(channel.call("emptyTrash", ValueMap{{"paths", ValueList{int64_t{1}}}}).answer),
      json(deleteResult(0)));
  EXPECT_EQ(entryCount(trash + "/files"), 3);
  EXPECT_EQ(json(channel.call("emptyTrash", ValueMap{}).answer), json(deleteResult(20 + 5 + 1)));
  EXPECT_EQ(entryCount(trash + "/files") + entryCount(trash + "/info"), 0);
}

}  // namespace
}  // namespace nimbra::test
