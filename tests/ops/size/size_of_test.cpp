#include "ops/size/size_of.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_tree.h"
#include "support/test_context.h"

namespace nimbra {
namespace {

using test::TempTree;

constexpr int64_t kGiB = int64_t{1} << 30;

TEST(SizeOf, CountsLogicalBytesOfRegularFilesOnlyNeverFollowingLinks) {
  TempTree tree;
  tree.touch("m/.hidden", 30);
  tree.touch("m/web/node_modules/lib/index.js", 50);
  tree.touch("m/Tool.app/Contents/MacOS/tool", 7);
  tree.sparseFile("m/disk.img", 3 * kGiB);
  tree.touch("m/shared", 11);
  tree.hardlink("m/shared", "m/again/shared");  // once per path: counted twice
  tree.sparseFile("outside/huge", 50 * kGiB);
  tree.symlink(tree.path("outside/huge"), "m/link-to-file");
  tree.symlink(tree.path("outside"), "m/link-to-folder");

  test::TestContext context;
  EXPECT_EQ(sizeOf(*context, tree.path("m")), 30 + 50 + 7 + 3 * kGiB + 11 + 11);
  // Links measure nothing even as the location asked about; kernel file systems hold no
  // data (/proc/kcore alone would claim terabytes); a path holding a NUL byte names no file,
  // though the kernel would read it as the folder before the NUL.
  for (const std::string& path : {tree.path("m/link-to-file"), tree.path("m/link-to-folder"),
           tree.path("m/link-to-folder/"), tree.path("missing"),
           tree.path("m") + std::string(1, '\0') + "/x", std::string("/dev/null"), std::string(),
           std::string("/proc"), std::string("/proc/kcore")}) {
    EXPECT_EQ(sizeOf(*context, path), 0) << path;
  }
}

}  // namespace
}  // namespace nimbra
