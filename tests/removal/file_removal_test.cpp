#include "platform/file_removal.h"

#include "removal/deletion_fixtures.h"

namespace nimbra::test {
namespace {

const std::function<bool()> kNeverCancelled = [] { return false; };

TEST(RemoveItem, RemovesOnlyWhatThePathNamesAtAnyDepthAndRefusesDotDotAndTheRootFolder) {
  TempTree tree;
  tree.touch("outside/keep", 4);
  const std::string link = tree.symlink(tree.path("outside"), "link");
  EXPECT_FALSE(removeItem(link + "/").failed());  // a trailing slash still names the link
  EXPECT_FALSE(present(link));
  EXPECT_THAT(removeItem(tree.path("outside/..")).failure.value_or(""), ::testing::HasSubstr("Invalid argument"));
  EXPECT_THAT(removeItem(tree.path("outside/.")).failure.value_or(""), ::testing::HasSubstr("Invalid argument"));
  EXPECT_THAT(removalRefusal("//").value_or(""), ::testing::HasSubstr("//: "));
  emptyDirectory(tree.path("outside/.."), kNeverCancelled);
  EXPECT_TRUE(present(tree.path("outside/keep")));
  // Deeper than the descriptors kept open, so outer folders are reopened on the way back.
  std::string relative = "deep";
  for (int i = 0; i < 160; ++i) relative += "/d";
  tree.touch(relative + "/leaf", 1);
  tree.touch("deep/d/d/side", 1);
  const long descriptors = entryCount("/proc/self/fd");
  EXPECT_FALSE(removeItem(tree.path("deep")).failed());
  EXPECT_FALSE(present(tree.path("deep")));
  EXPECT_EQ(entryCount("/proc/self/fd"), descriptors);
}

TEST(EmptyDirectory, EmptiesOnlyARealFolderAndStopsWhenCancelled) {
  TempTree tree;
  for (int i = 0; i < 200; ++i) tree.touch("dir/f" + std::to_string(i), 1);
  const std::string link = tree.symlink(tree.path("dir"), "link");
  for (const auto& path : {link, link + "/"}) emptyDirectory(path, kNeverCancelled);
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
}  // namespace nimbra::test
