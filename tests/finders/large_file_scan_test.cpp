// "scanLargeFiles" through the channel on real trees.

#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "finders/finder_test_support.h"

namespace nimbra::test {
namespace {

constexpr int64_t kBig = 4096;

// The paths in `folder` in the order the file system lists them: the walk's order.
Paths listingOrder(const std::string& folder) {
  Paths paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) paths.push_back(entry.path());
  return paths;
}

class LargeFileScanTest : public FinderTest {
 protected:
  Outcome scan(const std::string& root, int64_t minSize = kBig) {
    return call("scanLargeFiles", {{"root", root}, {"minSize", minSize}});
  }
  static Paths paths(const Outcome& outcome) { return stringsAt(get<ValueList>(outcome.answer, "items"), "path"); }
};

TEST_F(LargeFileScanTest, WhatTheWalkSkipsAndTheFiveKeysOfAnItem) {
  std::string photo = tree.sparseFile("Photo.JPG", kBig + 1);
  std::string visible = tree.sparseFile("visible", kBig);
  std::string deepLibrary = tree.sparseFile("Documents/Library/big", kBig);
  std::string fileNamedLikeAFolder = tree.sparseFile("code/node_modules", kBig);
  for (const char* skipped : {"Library/Caches/big", "code/a/.git/big", "code/a/node_modules/big", "code/.cache/big",
                              ".cargo/big", ".hidden-file", "Tool.app/Contents/MacOS/big"}) {
    tree.sparseFile(skipped, kBig);
  }
  tree.symlink(visible, "link-to-file");
  tree.symlink(tree.path("Documents"), "link-to-folder");
  tree.sparseFile("bad-\xff", kBig);  // not UTF-8: counted, never listed
  tree.touch("empty");
  timeval modified[2] = {{-2, 500000}, {-2, 500000}};  // 1.5 s before 1970
  ASSERT_EQ(::utimes(photo.c_str(), modified), 0);

  std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", tree.root().c_str(), 1);
  Outcome fromHome = scan(tree.root());
  Outcome spelledOtherwise = scan(tree.root() + "/");  // not the home folder as written
  ::setenv("HOME", savedHome.c_str(), 1);
  Paths found = paths(fromHome), expected{photo, deepLibrary, fileNamedLikeAFolder, visible};
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
  EXPECT_EQ(asMap(get<ValueList>(fromHome.answer, "items")[0]),
            (ValueMap{{"path", photo}, {"name", "Photo.JPG"}, {"size", kBig + 1}, {"ext", "jpg"}, {"modified", int64_t{-1}}}));
  EXPECT_EQ(get<int64_t>(fromHome.answer, "scanned"), 6);
  EXPECT_FALSE(get<bool>(fromHome.answer, "cancelled"));
  EXPECT_EQ(paths(spelledOtherwise).size(), 5u);  // the home Library is searched too
  for (int64_t minSize : {0, -1}) {
    ValueList all = get<ValueList>(scan(tree.root(), minSize).answer, "items");
    ASSERT_EQ(all.size(), 6u);  // HOME is no longer the root: its Library counts too
    EXPECT_EQ(get<std::string>(asMap(all[5]), "path"), tree.path("empty"));
    EXPECT_EQ(get<std::string>(asMap(all[5]), "ext"), "");
  }

  Outcome missing = scan(tree.path("missing"));
  EXPECT_EQ(missing.answer, (ValueMap{{"items", ValueList{}}, {"scanned", int64_t{0}}}));
  EXPECT_TRUE(missing.events.empty());
}

// Sizes tie in threes, so the cut at 400 and the order of equal sizes (the walk's) both show.
TEST_F(LargeFileScanTest, The400LargestInWalkOrderProgressEvery500thAndCancellation) {
  const int64_t gib = int64_t{1} << 30;
  makeFiles(tree.path("f"), 1200, [&](int i) { return gib + i % 3; });
  Paths order = listingOrder(tree.path("f"));
  auto sizeOf = [&](const std::string& p) { return gib + std::stoi(p.substr(p.rfind('/') + 1)) % 3; };
  int64_t bytes500 = 0;
  for (int i = 0; i < 500; ++i) bytes500 += sizeOf(order[i]);
  Paths largest = order;
  std::stable_sort(largest.begin(), largest.end(), [&](auto& a, auto& b) { return sizeOf(a) > sizeOf(b); });
  largest.resize(400);

  Outcome full = scan(tree.root(), gib);
  EXPECT_EQ(paths(full), largest);
  ASSERT_EQ(full.events.size(), 3u);
  EXPECT_EQ(full.events[0], (Event{"large", order[499], 500, bytes500}));
  EXPECT_EQ(full.events[2], (Event{"large", "", 1200, 1200 * gib + 1200}));

  cancelAtReading(4);  // the 500th file of this second scan: stop there
  Outcome cancelled = scan(tree.root(), gib);
  EXPECT_TRUE(get<bool>(cancelled.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(cancelled.answer, "scanned"), 500);
  EXPECT_EQ(get<ValueList>(cancelled.answer, "items").size(), 400u);
  EXPECT_EQ(cancelled.events.back(), (Event{"large", "", 500, bytes500}));

  cancelAtReading(8);  // the final event of the third scan: the walk is complete
  Outcome late = scan(tree.root(), gib);
  EXPECT_TRUE(get<bool>(late.answer, "cancelled"));
  EXPECT_EQ(get<int64_t>(late.answer, "scanned"), 1200);
}

}  // namespace
}  // namespace nimbra::test
