// Putting entries of the Trash back: exactly where their records say, byte for byte, never over
// anything, never through a link, never onto another file system, and folders made on the way
// as the user.

#include <filesystem>

#include "ops/removal/restore_items.h"
#include "ops/removal/trash_items.h"
#include "support/answers.h"
#include "support/channel_harness.h"
#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;

Value restoreResult(
    const Paths& restored, const Paths& failed, const std::string& error, bool cancelled = false) {
  return ValueMap{{"restored", ValueList(restored.begin(), restored.end())},
      {"failed", ValueList(failed.begin(), failed.end())}, {"error", error},
      {"cancelled", cancelled}};
}

// An entry of the Trash that some other tool left, with the record it wrote ("" for none).
std::string plantEntry(const TempTree& tree, const std::string& trash, const std::string& name,
    const std::string& recordPath) {
  const std::string relative = trash.substr(tree.root().size() + 1);
  tree.write(relative + "/files/" + name, "planted " + name);
  if (!recordPath.empty()) {
    tree.write(relative + "/info/" + name + ".trashinfo",
        "[Trash Info]\nPath=" + recordPath + "\nDeletionDate=2026-01-02T03:04:05\n");
  }
  return trash + "/files/" + name;
}

TEST(TrashRestore, EachEntryGoesBackWhereItCameFromByteForByteAndNeverOverAnything) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), trash = tree.path("home/data/Trash");
  TestContext context({.home = home, .trash = trash});
  const std::string file = tree.touch("a/file", 1000, 7), taken = tree.touch("a/taken", 10, 1);
  const std::string folder = tree.path("a/folder"), inner = tree.touch("a/folder/inner", 300, 3);
  const std::string link = tree.symlink("../target", "a/link");
  const std::string spaced = tree.touch("b/deep/100% sure.txt", 20, 2);
  const std::string fileBytes = readFile(file), innerBytes = readFile(inner),
                    spacedBytes = readFile(spaced);

  // Each move names the entry it became, so that exactly these can be put back.
  const ValueMap moved = trashItems(*context, {file, folder, link + "/", spaced, taken});
  ValueList expected;
  for (const auto& [path, name] : std::vector<std::pair<std::string, std::string>>{{file, "file"},
           {folder, "folder"}, {link + "/", "link"}, {spaced, "100% sure.txt"}, {taken, "taken"}})
    expected.emplace_back(ValueMap{{"path", path}, {"trashPath", trash + "/files/" + name}});
  EXPECT_EQ(json(moved.at("moved")), json(Value(expected)));
  tree.touch("home/data/Trash/directorysizes", 3);

  // The folders above one item are gone, another's place is taken; other entries were left by
  // other tools: without a record, with a record pointing into the Trash, climbing with "..",
  // or below a link to elsewhere.
  fs::remove_all(tree.path("b"));
  tree.write("a/taken", "new");
  const std::string elsewhere = tree.makeDir("elsewhere");
  tree.symlink(elsewhere, "linked");
  const Paths planted = {plantEntry(tree, trash, "orphan", ""),
      plantEntry(tree, trash, "sneaky", trash + "/info/x"),
      plantEntry(tree, trash, "climb", tree.path("a/../escape")),
      plantEntry(tree, trash, "via", tree.path("linked/new/file"))};
  const std::string entry = trash + "/files/";
  const Paths paths = {entry + "file", entry + "folder/", entry + "link", entry + "100% sure.txt",
      entry + "file", entry + "taken", planted[0], planted[1], planted[2], planted[3], file,
      entry + "file" + '\0' + "/.."};
  EXPECT_EQ(json(restoreItems(*context, paths)),
      json(restoreResult({file, folder, link, spaced},
          {entry + "taken", planted[0], planted[1], planted[2], planted[3], file, paths[11]},
          taken + " already exists\n" + planted[0] + ": no record of where it came from\n" + trash +
              "/info/x: lies in the Trash")));
  EXPECT_EQ(context.events.back(), (Event{"restore", "", 12, 1000 + 300 + 20}));

  EXPECT_EQ(readFile(file), fileBytes);
  EXPECT_EQ(readFile(inner), innerBytes);
  EXPECT_EQ(readFile(spaced), spacedBytes);
  EXPECT_EQ(fs::read_symlink(link), "../target");
  EXPECT_EQ(readFile(taken), "new");
  EXPECT_EQ(entryCount(elsewhere), 0);
  EXPECT_FALSE(present(tree.path("escape")) || present(trash + "/info/x"));
  // The records of what went back went too, and the size cache that named the folder.
  EXPECT_EQ(entryCount(trash + "/files"), 5);
  EXPECT_EQ(entryCount(trash + "/info"), 4);
  EXPECT_TRUE(present(trash + "/info/taken.trashinfo"));
  EXPECT_FALSE(present(trash + "/directorysizes"));
  // The reasons of the later failures, one call each.
  for (const auto& [path, reason] : std::vector<std::pair<std::string, std::string>>{
           {planted[2], tree.path("a/../escape") + ": Invalid argument"},
           {planted[3], tree.path("linked") +
                            ": is a symbolic link, and nothing is put back through one"}}) {
    EXPECT_EQ(get<std::string>(restoreItems(*context, {path}), "error"), reason);
  }

  // Cancelled between items: the entry not reached stays in the Trash, in neither list.
  fs::remove(taken);
  const std::string again = tree.touch("c/again", 5);
  ASSERT_EQ(get<ValueList>(trashItems(*context, {again}), "trashed").size(), 1u);
  context.cancelAtOffer = context.events.size() + 1;
  EXPECT_EQ(json(restoreItems(*context, {entry + "again", entry + "taken"})),
      json(restoreResult({again}, {}, "", true)));
  context.cancelled = false;

  // Through the channel, as the interface asks.
  ScopedEnv homeVariable("HOME", home);
  ScopedEnv dataVariable("XDG_DATA_HOME", tree.path("home/data"));
  ChannelHarness channel;
  EXPECT_EQ(
      json(channel.call("restoreItems", ValueMap{{"paths", ValueList{entry + "taken"}}}).answer),
      json(restoreResult({taken}, {}, "")));
  EXPECT_EQ(findByteSum(taken), 10);
}

// A rename never leaves its mount, so a place on another one (a bind mount of the same device
// too) gets nothing, not even the folders on the way. What the user may not write to fails with
// the platform's words, and a folder made on the way belongs to the user.
TEST(TrashRestore, AnotherMountGetsNothingAndAFolderMadeOnTheWayIsTheUsers) {
  NIMBRA_SKIP_UNLESS_ROOT("mounts, and files of two users");
  TempTree tree;
  const std::string trash = tree.path("home/data/Trash");
  const std::string moved = tree.touch("a/sub/file", 40), locked = tree.touch("locked/file", 5);
  {
    TestContext context({.home = tree.path("home"), .trash = trash});
    ASSERT_EQ(get<ValueList>(trashItems(*context, {moved, locked}), "trashed").size(), 2u);
  }
  fs::remove_all(tree.path("a/sub"));
  const std::string mounted = tree.makeDir("mounted");
  EXPECT_EQ(runInPrivateMountNamespace([&]() -> std::string {
    if (std::string failure = bindMount(mounted, tree.path("a")); !failure.empty()) return failure;
    TestContext context({.home = tree.path("home"), .trash = trash});
    const std::string error =
        get<std::string>(restoreItems(*context, {trash + "/files/file"}), "error");
    return error == moved + ": Invalid cross-device link" && entryCount(mounted) == 0 ? "" : error;
  }),
      "");
  EXPECT_EQ(entryCount(mounted), 0);

  tree.giveToNobody();
  ASSERT_EQ(::chown(tree.path("locked").c_str(), 0, 0), 0);
  EXPECT_EQ(runUnprivileged([&]() -> std::string {
    TestContext context({.home = tree.path("home"), .trash = trash});
    const ValueMap answer =
        restoreItems(*context, {trash + "/files/file", trash + "/files/file.2"});
    struct stat made {};
    if (::stat(tree.path("a/sub").c_str(), &made) != 0 || made.st_uid != ::geteuid())
      return "a/sub was not made as the user";
    return json(answer) == json(restoreResult(
                               {moved}, {trash + "/files/file.2"}, locked + ": Permission denied"))
               ? ""
               : json(answer);
  }),
      "");
  EXPECT_EQ(findByteSum(moved), 40);
  EXPECT_TRUE(present(trash + "/files/file.2") && present(trash + "/info/file.2.trashinfo"));
}

}  // namespace
}  // namespace nimbra::test
