#include "removal/deletion_fixtures.h"

namespace nimbra::test {
namespace {

TEST(EmptyTrash, EverythingInTheHomeTrashGoesHiddenEntriesIncludedButNotThroughATrashThatIsALink) {
  TempTree tree;
  const std::string home = tree.makeDir("home"), trash = home + "/.Trash";
  ScopedEnv homeVariable("HOME", home);
  tree.touch("elsewhere/precious", 10);
  ChannelHarness channel;
  EXPECT_EQ(channel.call("emptyTrash").answer, deleteResult(0));  // no Trash folder at all
  tree.symlink(tree.path("elsewhere"), "home/.Trash");
  auto outcome = channel.call("emptyTrash");
  EXPECT_EQ(outcome.answer, deleteResult(0));
  EXPECT_THAT(outcome.events, ::testing::ElementsAre(deleteEvent("", 0, 0)));
  EXPECT_EQ(findByteSum(tree.path("elsewhere")), 10);

  ASSERT_EQ(::unlink(trash.c_str()), 0);
  tree.touch("home/.Trash/.DS_Store", 6148);
  tree.touch("home/.Trash/folder/.git/objects/x", 300);
  tree.touch("home/.local/share/Trash/files/other", 5);  // not the Trash this method empties
  outcome = channel.call("emptyTrash");
  EXPECT_EQ(outcome.answer, deleteResult(6148 + 300));
  ASSERT_FALSE(outcome.events.empty());
  EXPECT_EQ(outcome.events.back(), deleteEvent("", 2, 6148 + 300));
  EXPECT_EQ(entryCount(trash), 0);
  EXPECT_EQ(findByteSum(home + "/.local/share/Trash"), 5);
}

}  // namespace
}  // namespace nimbra::test
