#include "platform/fs/trash.h"

#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

TEST(HomeTrash, ItemsMoveUnderUniqueNamesWithTheirRecordsBeside) {
  TempTree tree;
  const std::string trash = tree.path("data/Trash");
  const std::string file = tree.write("a/report 100%.txt", "1");
  tree.write("b/report 100%.txt/inside", "2");
  const TrashMove first = moveToTrash(file, trash);
  const TrashMove second = moveToTrash(tree.path("b/report 100%.txt/"), trash);
  ASSERT_TRUE(first.trashed && second.trashed) << first.error << second.error;
  EXPECT_EQ(first.trashed->location, trash + "/files/report 100%.txt");
  EXPECT_EQ(second.trashed->location, trash + "/files/report 100%.txt.2");
  EXPECT_EQ(readFile(second.trashed->location + "/inside"), "2");
  EXPECT_FALSE(present(file));
  EXPECT_THAT(readFile(first.trashed->infoPath),
      ::testing::ContainsRegex(
          "^\\[Trash Info\\]\nPath=" + tree.root() +
          "/a/report%20100%25.txt\nDeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\n$"));
  struct stat st;
  ASSERT_EQ(::stat((trash + "/files").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace nimbra::test
