#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "removal/deletion_fixtures.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra {
namespace {

using test::ChannelHarness;
using test::findByteSum;
using test::present;

Value result(int64_t freed, ValueList failed = {}, std::string error = "") {
  return ValueMap{{"freed", freed}, {"failed", failed}, {"inTrash", ValueList{}}, {"inTrashBytes", int64_t{0}},
                  {"error", error}};
}

ValueMap finalEvent(int64_t count, int64_t bytes) {
  return {{"task", "delete"}, {"path", ""}, {"count", count}, {"bytes", bytes}};
}

class EmptyTrash : public ::testing::Test {
 protected:
  test::TempTree tree;
  std::string home = tree.makeDir("home");
  test::ScopedEnv homeVariable{"HOME", home};
  std::string trash = home + "/.Trash";
};

TEST_F(EmptyTrash, EverythingInTheHomeTrashGoesHiddenEntriesIncluded) {
  ChannelHarness channel;
  auto outcome = channel.call("emptyTrash");  // no Trash folder at all
  EXPECT_EQ(outcome.answer, result(0));
  EXPECT_THAT(outcome.events, ::testing::ElementsAre(finalEvent(0, 0)));

  tree.touch("home/.Trash/.DS_Store", 6148);
  tree.touch("home/.Trash/folder/.git/objects/x", 300);
  tree.symlink(home + "/Documents", "home/.Trash/link-to-documents");
  tree.touch("home/Documents/keep", 42);
  tree.touch("home/.local/share/Trash/files/other", 5);  // not the Trash this method empties
  outcome = channel.call("emptyTrash");
  EXPECT_EQ(outcome.answer, result(6148 + 300));
  ASSERT_FALSE(outcome.events.empty());
  EXPECT_EQ(outcome.events.back(), finalEvent(3, 6148 + 300));
  EXPECT_TRUE(present(trash));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(trash), {}), 0);
  EXPECT_EQ(findByteSum(home + "/Documents"), 42);
  EXPECT_EQ(findByteSum(home + "/.local/share/Trash"), 5);
}

TEST_F(EmptyTrash, TrashThatIsALinkIsNotFollowed) {
  tree.touch("elsewhere/precious", 10);
  tree.symlink(tree.path("elsewhere"), "home/.Trash");
  ChannelHarness channel;
  EXPECT_EQ(channel.call("emptyTrash").answer, result(0));
  EXPECT_EQ(findByteSum(tree.path("elsewhere")), 10);
}

TEST_F(EmptyTrash, EntryThatCannotBeRemovedFailsWithoutAnyPasswordPrompt) {
  tree.touch("home/.Trash/stuck/file", 20);
  tree.touch("home/.Trash/loose", 30);
  tree.giveToNobody();
  ASSERT_EQ(::chown((trash + "/stuck").c_str(), 0, 0), 0);
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              test::RecordingScriptRunner admin;
              ChannelHarness channel({.scriptRunner = &admin});
              auto outcome = channel.call("emptyTrash");
              if (outcome.answer != result(30, {trash + "/stuck"}, trash + "/stuck/file: Permission denied")) {
                return "answer " + test::describe(outcome.answer);
              }
              return admin.scripts.empty() && present(trash + "/stuck/file") ? "" : "a script ran or the file went";
            }),
            "");
}

}  // namespace
}  // namespace nimbra
