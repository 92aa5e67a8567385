#include "platform/file_removal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "removal/deletion_fixtures.h"
#include "support/temp_tree.h"

namespace nimbra {
namespace {

using test::present;
using test::TempTree;
using ::testing::HasSubstr;

long entryCount(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

const std::function<bool()> kNeverCancelled = [] { return false; };

TEST(RemoveItem, RemovesWholeTreesAndLinksButNeverWhatTheLinksPointTo) {
  TempTree tree;
  tree.touch("dir/.hidden", 5);
  tree.touch("dir/a/b/c/deep", 7);
  tree.sparseFile("dir/sparse", 1 << 30);
  tree.touch("outside/keep", 4);
  tree.symlink(tree.path("outside"), "dir/link-to-folder");
  const std::string top = tree.symlink(tree.path("outside"), "top-link");
  EXPECT_EQ(removeItem(top + "/"), std::nullopt);  // a trailing slash still names the link
  EXPECT_EQ(removeItem(tree.path("dir")), std::nullopt);
  EXPECT_FALSE(present(top));
  EXPECT_FALSE(present(tree.path("dir")));
  EXPECT_TRUE(present(tree.path("outside/keep")));
  EXPECT_EQ(removeItem(tree.path("missing")), tree.path("missing") + ": No such file or directory");
}

TEST(RemoveItem, RefusesDotDotAndTheRootFolder) {
  TempTree tree;
  tree.touch("x/file", 1);
  EXPECT_THAT(removeItem(tree.path("x/..")).value_or(""), HasSubstr("Invalid argument"));
  EXPECT_THAT(removeItem(tree.path("x/.")).value_or(""), HasSubstr("Invalid argument"));
  EXPECT_THAT(removeItem("//").value_or(""), HasSubstr("//: "));
  emptyDirectory(tree.path("x/.."), kNeverCancelled);
  EXPECT_TRUE(present(tree.path("x/file")));
}

TEST(RemoveItem, DeepTreesNeitherFailNorKeepDescriptors) {
  TempTree tree;
  // Deeper than the descriptors kept open, so outer folders are reopened on the way back.
  std::string relative = "deep";
  for (int i = 0; i < 160; ++i) relative += "/d";
  tree.touch(relative + "/leaf", 1);
  tree.touch("deep/d/d/side", 1);
  const long before = entryCount("/proc/self/fd");
  EXPECT_EQ(removeItem(tree.path("deep")), std::nullopt);
  EXPECT_FALSE(present(tree.path("deep")));
  EXPECT_EQ(entryCount("/proc/self/fd"), before);
}

TEST(EmptyDirectory, EmptiesOnlyARealFolderAndStopsWhenCancelled) {
  TempTree tree;
  for (int i = 0; i < 200; ++i) tree.touch("dir/f" + std::to_string(i), 1);
  const std::string link = tree.symlink(tree.path("dir"), "link");
  emptyDirectory(link, kNeverCancelled);
  emptyDirectory(link + "/", kNeverCancelled);
  EXPECT_EQ(entryCount(tree.path("dir")), 200);
  int polls = 0;
  emptyDirectory(tree.path("dir"), [&] { return ++polls > 30; });
  EXPECT_EQ(polls, 31);
  EXPECT_EQ(entryCount(tree.path("dir")), 170);
}

TEST(EmptyDirectory, FolderReplacedByALinkDuringTheSweepIsNotFollowed) {
  TempTree tree;
  tree.touch("outside/keep", 1);
  tree.touch("dir/a/b/file", 1);
  // The second poll comes after dir/a was listed and before dir/a/b is entered: that is when
  // an attacker swaps the folder for a link to somewhere else.
  int polls = 0;
  emptyDirectory(tree.path("dir"), [&] {
    if (++polls == 2) {
      EXPECT_EQ(::rename(tree.path("dir/a/b").c_str(), tree.path("moved").c_str()), 0);
      EXPECT_EQ(::symlink(tree.path("outside").c_str(), tree.path("dir/a/b").c_str()), 0);
    }
    return false;
  });
  EXPECT_EQ(entryCount(tree.path("dir")), 0);
  EXPECT_TRUE(present(tree.path("outside/keep")));
  EXPECT_TRUE(present(tree.path("moved/file")));
}

}  // namespace
}  // namespace nimbra
