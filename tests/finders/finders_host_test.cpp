// The three finders answer through the host program: `nimbra call METHOD ARGS --events`, each
// after its forced final event.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/child_process.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using nlohmann::json;

// The answer, and the last event printed before it.
std::pair<json, json> callHost(const std::string& method, const json& args) {
  ChildOutcome child = runChild(NIMBRA_HOST_PATH, {"call", method, args.dump(), "--events"});
  EXPECT_TRUE(child.exitedZero) << child.err;
  std::string events = child.err.substr(0, child.err.find_last_not_of('\n') + 1);
  return {json::parse(child.out, nullptr, false),
          json::parse(events.substr(events.rfind('\n') + 1), nullptr, false)};
}

TEST(FindersHostTest, EachFinderAnswersAfterItsFinalEvent) {
  TempTree tree;
  tree.touch("a/copy", 5000, 1);
  tree.touch("b/copy", 5000, 1);
  tree.sparseFile("c/big.ISO", 3 << 20);
  const int total = 10000 + (3 << 20);

  auto [large, largeEnd] = callHost("scanLargeFiles", {{"root", tree.root()}, {"minSize", 1 << 20}});
  EXPECT_EQ(large["items"][0]["ext"], "iso");
  EXPECT_EQ(largeEnd, json({{"task", "large"}, {"path", ""}, {"count", 3}, {"bytes", total}}));
  auto [dupes, dupesEnd] = callHost("scanDuplicates", {{"root", tree.root()}, {"minSize", 1}});
  EXPECT_EQ(dupes["wasted"], 5000);
  EXPECT_EQ(dupesEnd, json({{"task", "dupes"}, {"path", ""}, {"count", 3}, {"bytes", 5000}}));
  auto [disk, diskEnd] = callHost("analyzeDisk", {{"path", tree.root()}, {"depth", 1}});
  EXPECT_EQ(disk["children"].size(), 3u);
  EXPECT_EQ(diskEnd, json({{"task", "disk"}, {"path", ""}, {"count", 3}, {"bytes", total}}));
}

}  // namespace
}  // namespace nimbra::test
