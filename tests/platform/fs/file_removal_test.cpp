#include "platform/fs/file_removal.h"

#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

TEST(FileRemoval,
    RemovesOnlyWhatThePathNamesRefusesDotDotAndTheRootAndEmptiesWithoutFollowingSwaps) {
  TempTree tree;
  tree.touch("outside/keep", 4);
  const std::string link = tree.symlink(tree.path("outside"), "link");
  EXPECT_FALSE(removeItem(link + "/").failed());  // a trailing slash still names the link
  EXPECT_FALSE(present(link));
  // Refused untouched by every route; the ones outside this tree are only ever asked about.
  for (const char* path : {"/", "//", "", ".", "..", "./", "../", "a/.", "/x/..//"}) {
    EXPECT_TRUE(removalRefusal(path)) << path;
  }
  EXPECT_THAT(removeItem(tree.path("outside/..")).failure.value_or(""),
      ::testing::HasSubstr("Invalid argument"));
  emptyDirectory(tree.path("outside/.."), [] { return false; });
  EXPECT_TRUE(present(tree.path("outside/keep")));

  // Emptying stops when cancelled, and never follows a folder swapped for a link.
  for (int i = 0; i < 200; ++i) tree.touch("dir/f" + std::to_string(i), 1);
  int polls = 0;
  emptyDirectory(tree.path("dir"), [&] { return ++polls > 30; });
  EXPECT_EQ(polls, 31);
  EXPECT_EQ(entryCount(tree.path("dir")), 170);

  tree.touch("swap/a/b/file", 1);
  // The second poll comes after swap/a was listed and before swap/a/b is entered: that is
  // when an attacker swaps the folder for a link to somewhere else.
  polls = 0;
  emptyDirectory(tree.path("swap"), [&] {
    if (++polls == 2) {
      EXPECT_EQ(::rename(tree.path("swap/a/b").c_str(), tree.path("moved").c_str()), 0);
      EXPECT_EQ(::symlink(tree.path("outside").c_str(), tree.path("swap/a/b").c_str()), 0);
    }
    return false;
  });
  EXPECT_EQ(entryCount(tree.path("swap")), 0);
  EXPECT_TRUE(present(tree.path("outside/keep")));
  EXPECT_TRUE(present(tree.path("moved/file")));
}

}  // namespace
}  // namespace nimbra::test
