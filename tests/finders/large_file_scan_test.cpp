// "scanLargeFiles" through the channel on real trees.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdlib>

#include "finders/finder_test_support.h"
#include "finders/large_files.h"

namespace nimbra::test {
namespace {

constexpr int64_t kBig = 4096;

// The paths in `folder` in the order the file system lists them: the walk's order.
Paths listingOrder(const std::string& folder) {
  Paths paths;
  DIR* dir = ::opendir(folder.c_str());
  while (const dirent* e = dir ? ::readdir(dir) : nullptr) {
    if (e->d_name[0] != '.') paths.push_back(folder + "/" + e->d_name);
  }
  if (dir) ::closedir(dir);
  return paths;
}

class LargeFileScanTest : public FinderTest {
 protected:
  Outcome scan(const std::string& root, int64_t minSize = kBig) {
    return call("scanLargeFiles", {{"root", root}, {"minSize", minSize}});
  }
  static Paths sortedPaths(const Outcome& outcome) {
    Paths paths = stringsAt(get<ValueList>(outcome.answer, "items"), "path");
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

TEST_F(LargeFileScanTest, WhatTheWalkSkips) {
  std::string visible = tree.sparseFile("visible", kBig);
  std::string deepLibrary = tree.sparseFile("Documents/Library/big", kBig);
  std::string fileNamedLikeAFolder = tree.sparseFile("code/node_modules", kBig);
  tree.sparseFile("Library/Caches/big", kBig);
  for (const char* pruned : {".git", "node_modules", ".cache", ".cargo"}) {
    tree.sparseFile(std::string("code/a/") + pruned + "/big", kBig);
  }
  tree.sparseFile(".hidden-file", kBig);
  tree.sparseFile(".hidden/big", kBig);
  tree.sparseFile("Tool.app/Contents/MacOS/big", kBig);
  tree.symlink(visible, "link-to-file");
  tree.symlink(tree.path("Documents"), "link-to-folder");

  const char* home = std::getenv("HOME");
  std::string savedHome = home ? home : "";
  ::setenv("HOME", tree.root().c_str(), 1);
  Outcome fromHome = scan(tree.root());
  Outcome spelledOtherwise = scan(tree.root() + "/");  // not the home folder as written
  ::setenv("HOME", savedHome.c_str(), 1);

  EXPECT_EQ(sortedPaths(fromHome), (Paths{deepLibrary, fileNamedLikeAFolder, visible}));
  EXPECT_EQ(get<int64_t>(fromHome.answer, "scanned"), 3);
  EXPECT_EQ(sortedPaths(spelledOtherwise).size(), 4u);  // the home Library is searched too
}

TEST_F(LargeFileScanTest, ItemsLargestFirstInWalkOrderWithTheirFiveKeys) {
  std::string photo = tree.sparseFile("same/Photo.JPG", kBig + 1);
  for (int i = 0; i < 6; ++i) tree.sparseFile("same/f" + std::to_string(i), kBig);
  tree.sparseFile("same/bad-\xff", kBig);  // not UTF-8: counted, never listed
  timeval modified[2] = {{-2, 500000}, {-2, 500000}};  // 1.5 s before 1970
  ASSERT_EQ(::utimes(photo.c_str(), modified), 0);

  Outcome outcome = scan(tree.root());
  ValueList items = get<ValueList>(outcome.answer, "items");
  Paths expected = listingOrder(tree.path("same"));
  std::erase(expected, photo);
  std::erase(expected, tree.path("same/bad-\xff"));
  expected.insert(expected.begin(), photo);
  EXPECT_EQ(stringsAt(items, "path"), expected);
  EXPECT_EQ(asMap(items[0]), (ValueMap{{"path", photo}, {"name", "Photo.JPG"}, {"size", kBig + 1},
                                       {"ext", "jpg"}, {"modified", int64_t{-1}}}));
  EXPECT_EQ(get<std::string>(asMap(items[1]), "ext"), "");
  EXPECT_EQ(get<int64_t>(outcome.answer, "scanned"), 8);
  EXPECT_FALSE(get<bool>(outcome.answer, "cancelled"));

  tree.touch("same/empty");
  EXPECT_EQ(sortedPaths(scan(tree.root(), 0)).size(), 8u);
  EXPECT_EQ(sortedPaths(scan(tree.root(), -1)).size(), 8u);
}

TEST_F(LargeFileScanTest, KeepsThe400LargestAndCountsEveryFile) {
  makeFiles(tree.path("big"), 401, [](int i) { return (int64_t{1} << 30) + i; });
  tree.touch("small", 10);
  Outcome outcome = scan(tree.root(), int64_t{1} << 30);
  ValueList items = get<ValueList>(outcome.answer, "items");
  ASSERT_EQ(items.size(), 400u);
  EXPECT_EQ(get<int64_t>(asMap(items.front()), "size"), (int64_t{1} << 30) + 400);
  EXPECT_EQ(get<int64_t>(asMap(items.back()), "size"), (int64_t{1} << 30) + 1);
  EXPECT_EQ(get<int64_t>(outcome.answer, "scanned"), 402);
}

TEST_F(LargeFileScanTest, ProgressEvery500thFileAndCancellation) {
  makeFiles(tree.path("f"), 1200, [](int i) { return kBig + i; });
  Paths order = listingOrder(tree.path("f"));
  Outcome full = scan(tree.root());
  int64_t bytes500 = 0;  // file i is kBig + i bytes long
  for (int i = 0; i < 500; ++i) bytes500 += kBig + std::stoll(order[i].substr(order[i].rfind('/') + 1));
  const int64_t bytesAll = 1200 * kBig + 1199 * 1200 / 2;
  ASSERT_EQ(full.events.size(), 3u);
  EXPECT_EQ(full.events[0], (Event{"large", order[499], 500, bytes500}));
  EXPECT_EQ(full.events[2], (Event{"large", "", 1200, bytesAll}));

  cancelAtReading(4);  // the 500th file of this second scan: stop there
  Outcome cancelled = scan(tree.root());
  EXPECT_TRUE(get<bool>(cancelled.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(cancelled.answer, "scanned"), 500);
  EXPECT_EQ(get<ValueList>(cancelled.answer, "items").size(), 400u);
  EXPECT_EQ(cancelled.events.back(), (Event{"large", "", 500, bytes500}));

  cancelAtReading(8);  // the final event of the third scan: the walk is complete
  Outcome late = scan(tree.root());
  EXPECT_TRUE(get<bool>(late.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(late.answer, "scanned"), 1200);
}

TEST_F(LargeFileScanTest, RootThatCannotBeOpenedAnswersTwoKeysAndNoEvent) {
  Outcome outcome = scan(tree.touch("a-file", 1));
  EXPECT_EQ(outcome.answer, (ValueMap{{"items", ValueList{}}, {"scanned", int64_t{0}}}));
  EXPECT_TRUE(outcome.events.empty());
}

TEST(LargestFilesTest, SameAsAStableSortAndCut) {
  std::vector<LargeFile> offered;
  for (uint32_t i = 0, x = 1; i < 3000; ++i) {
    x = x * 1103515245u + 12345u;
    offered.push_back(LargeFile{std::to_string(i), "", (x >> 16) % 50, 0});  // many ties
  }
  LargestFiles largest(kLargeFilesListed);
  for (const LargeFile& file : offered) largest.offer(file);
  std::stable_sort(offered.begin(), offered.end(), [](auto& a, auto& b) { return a.size > b.size; });
  std::vector<LargeFile> kept = largest.take();
  ASSERT_EQ(kept.size(), kLargeFilesListed);
  for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].path, offered[i].path) << i;
}

}  // namespace
}  // namespace nimbra::test
