#include "platform/trash.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "removal/deletion_fixtures.h"
#include "support/temp_tree.h"

namespace nimbra {
namespace {

using test::present;
using test::TempTree;

std::string contents(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

TEST(HomeTrash, ItemsMoveUnderUniqueNamesWithTheirRecordsBeside) {
  TempTree tree;
  const std::string trash = tree.path("data/Trash");
  const std::string file = tree.write("a/report 100%.txt", "1");
  tree.write("b/report 100%.txt/inside", "2");
  const std::string link = tree.symlink(tree.path("b"), "link");
  const TrashMove first = moveToTrash(file, trash);
  const TrashMove second = moveToTrash(tree.path("b/report 100%.txt/"), trash);
  const TrashMove third = moveToTrash(link + "/", trash);  // the link itself, never its target
  ASSERT_TRUE(first.trashed && second.trashed && third.trashed) << first.error << second.error << third.error;
  EXPECT_EQ(first.trashed->location, trash + "/files/report 100%.txt");
  EXPECT_EQ(second.trashed->location, trash + "/files/report 100%.txt.2");
  EXPECT_EQ(contents(second.trashed->location + "/inside"), "2");
  EXPECT_FALSE(present(file));
  EXPECT_TRUE(present(tree.path("b")));
  EXPECT_THAT(contents(first.trashed->infoPath),
              ::testing::ContainsRegex("^\\[Trash Info\\]\nPath=" + tree.root() +
                                       "/a/report%20100%25.txt\nDeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\n$"));
  struct stat st;
  ASSERT_EQ(::stat((trash + "/files").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  forgetTrashedItem(*first.trashed);
  EXPECT_FALSE(present(first.trashed->infoPath));
  EXPECT_EQ(moveToTrash(tree.path("missing"), trash).error, tree.path("missing") + ": No such file or directory");
}

TEST(HomeTrash, ItemOnAnotherFileSystemFailsWithTheCrossDeviceErrorAndLeavesNoRecord) {
  TempTree tree;
  const std::string trash = tree.path("Trash");
  const std::string item = "/dev/shm/nimbra-trash-test-" + std::to_string(::getpid());  // a memory file system
  ASSERT_EQ(::mkdir(item.c_str(), 0755), 0);
  const TrashMove move = moveToTrash(item, trash);
  const bool stayed = present(item);
  ::rmdir(item.c_str());
  EXPECT_FALSE(move.trashed);
  EXPECT_EQ(move.error, item + ": Invalid cross-device link");
  EXPECT_TRUE(stayed);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(trash + "/info"), {}), 0);
}

}  // namespace
}  // namespace nimbra
