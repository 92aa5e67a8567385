// The disk usage history on real trees: "analyzeDisk" recording every folder at every depth,
// and "diskChanges" saying where a tree grew and shrank, as a person would want it said.

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>

#include "ops/finders/analyze_disk.h"
#include "ops/history/disk_changes.h"
#include "ops/history/disk_history.h"
#include "ops/history/forget_history.h"
#include "support/answers.h"
#include "support/temp_tree.h"
#include "support/test_context.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

// [path, before, after, filesBefore, filesAfter] of each change, and its "unreadable" mark.
using Row = std::tuple<std::string, int64_t, int64_t, int64_t, int64_t, std::string>;
std::vector<Row> rowsOf(const ValueMap& changes) {
  std::vector<Row> rows;
  for (const Value& change : get<ValueList>(changes, "changes")) {
    const ValueMap c = asMap(change);
    const auto mark = c.find("unreadable");
    rows.emplace_back(get<std::string>(c, "path"), get<int64_t>(c, "before"),
        get<int64_t>(c, "after"), get<int64_t>(c, "filesBefore"), get<int64_t>(c, "filesAfter"),
        mark == c.end() ? "" : *mark->second.getIf<std::string>());
  }
  return rows;
}

// Grown four levels down (deeper than the tree shown), a folder gone, one moved elsewhere in
// the tree, one new, one that could not be read the second time: each change is said once, where
// it is, and nothing is said to be gone that was only out of sight.
TEST(DiskChanges, EachChangeIsSaidWhereItIsAndWhatCouldNotBeReadIsNeverGone) {
  TempTree tree;
  const std::string root = tree.makeDir("tree");
  tree.touch("tree/grow/a/b/c/file", 1000);
  tree.touch("tree/grow/other", 50);
  tree.touch("tree/gone/sub/deep/f", 300);
  tree.touch("tree/old/photos/2023/p", 2000);
  tree.touch("tree/old/photos/2024/q", 3000);
  tree.touch("tree/new/readme", 10);
  tree.touch("tree/secret/inner/s", 700);
  tree.makeDir("tree/empty");
  tree.giveToNobody();
  const std::string answers = runUnprivileged([&] {
    TestContext context{{.history = tree.path("state/nimbra/history.sqlite3")}};
    const ValueMap first = analyzeDisk(*context, root + "/", 3, true);
    tree.touch("tree/grow/a/b/c/file", 5000);
    std::filesystem::remove_all(tree.path("tree/gone"));
    std::filesystem::rename(tree.path("tree/old/photos"), tree.path("tree/new/photos"));
    tree.touch("tree/fresh/one/two/f", 400);
    ::chmod(tree.path("tree/secret").c_str(), 0);
    std::filesystem::remove(tree.path("tree/empty"));
    tree.makeDir("tree/empty-too");
    const ValueMap second = analyzeDisk(*context, root, 1, true);
    return toJsonText(ValueList{first, second, diskChanges(*context, root, {}, {})});
  });
  ::chmod(tree.path("tree/secret").c_str(), 0700);
  const Value parsed = fromJson(answers);
  ASSERT_NE(parsed.getIf<ValueList>(), nullptr) << answers;
  const ValueList& three = *parsed.getIf<ValueList>();
  EXPECT_EQ(get<int64_t>(asMap(three[0]), "snapshot"), 1);
  EXPECT_EQ(get<std::string>(asMap(three[0]), "recordError"), "");
  EXPECT_EQ(get<int64_t>(asMap(three[1]), "snapshot"), 2);
  const ValueMap changes = asMap(three[2]);
  EXPECT_EQ(get<std::string>(changes, "error"), "");
  EXPECT_EQ(get<std::string>(changes, "path"), root);
  EXPECT_EQ(get<ValueMap>(changes, "size"),
      (ValueMap{{"before", int64_t{7060}}, {"after", int64_t{10460}}}));
  EXPECT_EQ(get<int64_t>(get<ValueMap>(changes, "from"), "id"), 1);
  EXPECT_EQ(get<int64_t>(get<ValueMap>(changes, "to"), "unreadable"), 1);
  EXPECT_THAT(rowsOf(changes),
      ::testing::ElementsAre(Row{root + "/old/photos", 5000, 0, 2, 0, ""},
          Row{root + "/new/photos", 0, 5000, 0, 2, ""},
          Row{root + "/grow/a/b/c", 1000, 5000, 1, 1, ""},
          Row{root + "/secret", 700, 0, 1, 0, "after"}, Row{root + "/fresh", 0, 400, 0, 1, ""},
          Row{root + "/gone", 300, 0, 1, 0, ""}));
  EXPECT_EQ(get<int64_t>(changes, "more"), 0);
}

// Past 400 changes the smallest are counted, not listed; a name that is not UTF-8 is counted
// apart; a cancelled walk records nothing; the history lists, compares on demand and forgets.
TEST(DiskChanges, TheLargest400AreListedACancelledWalkRecordsNothingAndForgettingForgets) {
  TempTree tree;
  const std::string root = tree.makeDir("tree");
  TestContext context{{.history = tree.path("state/nimbra/history.sqlite3")}};
  EXPECT_EQ(get<std::string>(diskChanges(*context, root, {}, {}), "error"),
      "no snapshot of " + root + " yet");
  EXPECT_FALSE(std::filesystem::exists(tree.path("state"))) << "reading makes no file";
  EXPECT_EQ(get<int64_t>(analyzeDisk(*context, root, 3, true), "snapshot"), 1);
  EXPECT_THAT(get<std::string>(diskChanges(*context, root, {}, {}), "error"),
      ::testing::HasSubstr("only one snapshot"));
  for (int i = 0; i < 450; ++i) tree.touch("tree/f" + std::to_string(i) + "/x", 1000 + i);
  tree.touch("tree/bad-\xfe/x", 5000);
  for (int i = 0; i < 2000; ++i) tree.touch("tree/many/" + std::to_string(i));
  context.events.clear();
  context.cancelAtOffer = 1;  // the walk's 2000th file
  const ValueMap cancelled = analyzeDisk(*context, root, 3, true);
  EXPECT_TRUE(get<bool>(cancelled, "cancelled"));
  EXPECT_TRUE(cancelled.at("snapshot").isNull());
  context.cancelled = false;
  context.cancelAtOffer = 0;
  EXPECT_EQ(get<int64_t>(analyzeDisk(*context, root + "//", 3, true), "snapshot"), 2);

  const ValueMap changes = diskChanges(*context, root, 1, {});
  const std::vector<Row> rows = rowsOf(changes);
  ASSERT_EQ(rows.size(), kChangesListed);
  EXPECT_EQ(rows.front(), (Row{root + "/f449", 0, 1449, 0, 1, ""}));
  EXPECT_EQ(rows.back(), (Row{root + "/f50", 0, 1050, 0, 1, ""}));
  EXPECT_EQ(get<int64_t>(changes, "more"), 51)
      << "50 folders and many/, which holds 2000 empty files";
  EXPECT_EQ(get<int64_t>(changes, "unnamed"), 1);
  EXPECT_EQ(
      get<std::string>(diskChanges(*context, root, 7, {}), "error"), "no snapshot 7 of " + root);

  const ValueList listed = get<ValueList>(diskHistory(*context, root + "/"), "snapshots");
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(get<int64_t>(asMap(listed[0]), "id"), 2);
  EXPECT_EQ(get<int64_t>(asMap(listed[0]), "size"), 450 * 1000 + 449 * 450 / 2 + 5000);
  EXPECT_EQ(get<int64_t>(asMap(listed[1]), "files"), 0);
  EXPECT_EQ(get<std::string>(
                asMap(get<ValueList>(diskHistory(*context, std::nullopt), "snapshots")[0]), "path"),
      root);
  EXPECT_EQ(get<int64_t>(forgetHistory(*context, "/elsewhere"), "forgotten"), 0);
  EXPECT_EQ(get<int64_t>(forgetHistory(*context, root), "forgotten"), 2);
  EXPECT_TRUE(get<ValueList>(diskHistory(*context, std::nullopt), "snapshots").empty());
}

}  // namespace
}  // namespace nimbra::test
