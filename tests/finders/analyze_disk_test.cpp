// "analyzeDisk" through the channel on real trees.

#include <gtest/gtest.h>

#include "finders/disk_tree.h"
#include "finders/finder_test_support.h"

namespace nimbra::test {
namespace {

ValueMap child(const ValueMap& node, const std::string& name) {
  for (const Value& c : get<ValueList>(node, "children")) {
    if (get<std::string>(asMap(c), "name") == name) return asMap(c);
  }
  ADD_FAILURE() << "no child " << name << " in " << get<std::string>(node, "path");
  return {};
}

ValueMap node(const std::string& name, const std::string& path, int64_t size, int64_t files, bool isDir) {
  return {{"name", name}, {"path", path}, {"size", size}, {"files", files}, {"isDir", isDir}, {"children", ValueList{}}};
}

class AnalyzeDiskTest : public FinderTest {
 protected:
  Outcome analyze(const std::string& root, int64_t depth = 3) {
    return call("analyzeDisk", {{"path", root}, {"depth", depth}});
  }
};

TEST_F(AnalyzeDiskTest, FilesWithinTheDepthAreLeavesAndDeeperOnesAddUpAtTheLimit) {
  tree.touch("a/b/c/d/deep", 100);
  tree.touch("a/b/c/direct", 10);
  tree.touch("a/y", 5);
  tree.touch("x.bin", 7);
  tree.touch(".hidden/h", 3);
  tree.touch("Tool.app/Contents/t", 4);
  tree.makeDir("empty/inner");
  tree.symlink(tree.path("x.bin"), "links-only/link");
  tree.symlink(tree.path("a"), "folder-link");

  ValueMap root = analyze(tree.root()).answer;
  EXPECT_EQ(get<std::string>(root, "name"), tree.root().substr(tree.root().rfind('/') + 1));
  EXPECT_EQ(get<int64_t>(root, "size"), 129);
  EXPECT_EQ(get<int64_t>(root, "files"), 6);
  EXPECT_EQ(get<int64_t>(root, "scanned"), 6);
  EXPECT_FALSE(get<bool>(root, "cancelled"));
  EXPECT_EQ(stringsAt(get<ValueList>(root, "children"), "name"), (Paths{"a", "x.bin", "Tool.app", ".hidden"}));
  EXPECT_EQ(child(root, "x.bin"), node("x.bin", tree.path("x.bin"), 7, 1, false));
  EXPECT_EQ(child(child(child(root, "a"), "b"), "c"), node("c", tree.path("a/b/c"), 110, 2, true));
  for (int64_t depth : {0, -2}) {
    ValueMap alone = analyze(tree.root(), depth).answer;
    EXPECT_TRUE(get<ValueList>(alone, "children").empty());
    EXPECT_EQ(get<int64_t>(alone, "size"), 129);
  }

  Outcome missing = analyze(tree.path("missing/"));
  EXPECT_EQ(missing.answer, node("missing", tree.path("missing/"), 0, 0, true));
  EXPECT_TRUE(missing.events.empty());
}

TEST_F(AnalyzeDiskTest, FortyChildrenShownAndTheRestFoldedIntoOneRemainder) {
  for (int i = 1; i <= 45; ++i) tree.touch("many/f" + std::to_string(i), i);
  tree.touch("many/bad-\xff", 100);  // not UTF-8: never shown, its bytes go to the remainder
  makeFiles(tree.path("zeros"), 45, [](int i) { return i < 40 ? 1000 + i : 0; });
  ValueMap root = analyze(tree.root()).answer;
  ValueList many = get<ValueList>(child(root, "many"), "children");
  ASSERT_EQ(many.size(), 41u);
  EXPECT_EQ(get<std::string>(asMap(many[39]), "name"), "f6");
  ValueMap remainder = node("\xE2\x80\xA6", "", 115, 0, false);
  remainder.emplace("isOther", true);
  EXPECT_EQ(asMap(many[40]), remainder);
  EXPECT_EQ(get<ValueList>(child(root, "zeros"), "children").size(), 40u);  // empty ones leave none
}

TEST_F(AnalyzeDiskTest, ProgressEvery2000thFileAndCancellationKeepsThePartialTree) {
  makeFiles(tree.path("f"), 2500, [](int) { return 2; });
  Outcome full = analyze(tree.root());
  ASSERT_EQ(full.events.size(), 2u);
  EXPECT_EQ(full.events[0].count, 2000);
  EXPECT_EQ(full.events[1], (Event{"disk", "", 2500, 5000}));

  cancelAtReading(3);  // the 2000th file of the second walk
  Outcome cancelled = analyze(tree.root());
  EXPECT_TRUE(get<bool>(cancelled.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(cancelled.answer, "scanned"), 2000);
  EXPECT_EQ(get<int64_t>(cancelled.answer, "files"), 2000);
  EXPECT_EQ(get<int64_t>(child(cancelled.answer, "f"), "size"), 4000);
  EXPECT_EQ(cancelled.events.back(), (Event{"disk", "", 2000, 4000}));
}

TEST_F(AnalyzeDiskTest, SlashRootChildrenAreOneSlashAndTheirNameAndPrunedFoldersAreLeftOut) {
  cancelAtReading(1);  // the whole disk is not needed: stop at the 2000th file
  ValueMap root = analyze("/", 1).answer;
  EXPECT_EQ(get<std::string>(root, "name"), "/");
  ASSERT_FALSE(get<ValueList>(root, "children").empty());
  for (const Value& c : get<ValueList>(root, "children")) {
    ValueMap top = asMap(c);
    if (!top.count("isOther")) {
      EXPECT_EQ(get<std::string>(top, "path"), "/" + get<std::string>(top, "name"));
    }
  }
  // Pruned by the whole path only: what lies below the device folder's path is no device.
  EXPECT_TRUE(isPrunedFromDiskTree("/dev"));
  EXPECT_FALSE(isPrunedFromDiskTree("/dev/shm"));
}

}  // namespace
}  // namespace nimbra::test
