// Argument rules of the method table, seen through the channel with real encoded calls: what
// each operation received shows in what it answers.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/json_value.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"
#include "support/test_seams.h"
#include "support/unprivileged.h"

namespace nimbra::test {
namespace {

class MethodTableTest : public ::testing::Test {
 protected:
  TempTree home;
  ScopedEnv homeVariable{"HOME", home.root()};
};

TEST_F(MethodTableTest, ScansDefaultToTheHomeFolderAndReadOnlyTheirOwnKeysAndTypes) {
  // Below the depth analyzeDisk shows, so its tree is the one chain a/b/c.
  const std::string big = home.sparseFile("a/b/c/d/big.iso", 104857600);
  home.sparseFile("a/b/c/d/just-below.iso", 104857599);
  TempTree other;
  other.touch("elsewhere", 99);
  ChannelHarness harness;
  // Null arguments, or a "minSize" that is no number: the home folder, 100 MiB.
  for (const Value& arguments : {Value(), Value(ValueMap{{"minSize", "1"}})}) {
    const Value answer = *harness.call("scanLargeFiles", arguments).answer;
    const ValueList& items = *answer.getIf<ValueMap>()->at("items").getIf<ValueList>();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].getIf<ValueMap>()->at("path"), Value(big));
  }
  // "root" is not the key analyzeDisk reads, and 2.5 is no depth: the home folder, depth 3.
  auto tree = harness.call("analyzeDisk", ValueMap{{"root", other.root()}, {"depth", 2.5}});
  const ValueMap* node = tree.answer->getIf<ValueMap>();
  EXPECT_EQ(node->at("path"), Value(home.root()));
  for (const char* name : {"a", "b", "c"}) {
    const ValueList& children = *node->at("children").getIf<ValueList>();
    ASSERT_EQ(children.size(), 1u) << name;
    node = children[0].getIf<ValueMap>();
    EXPECT_EQ(node->at("name"), Value(name));
  }
  EXPECT_TRUE(node->at("children").getIf<ValueList>()->empty());
}
TEST_F(MethodTableTest, DeletionArgumentsAndTheAdministratorFallback) {
  // In a read-only folder even root cannot remove a file: it stays and goes to the fallback.
  NIMBRA_SKIP_UNLESS_ROOT("private mounts");
  const std::string file = home.touch("keep", 10), stubborn = home.touch("ro/stubborn", 1), ro = home.path("ro");
  const std::string report = runInPrivateMountNamespace([&]() -> std::string {
    if (std::string failure = bindMount(ro, ro, true); !failure.empty()) return failure;
    RecordingScriptRunner scripts;
    ChannelHarness harness(NimbraNative::Seams{.scriptRunner = &scripts});
    // A list holding a number is no list of paths: nothing is touched.
    auto outcome = harness.call("deleteItems", ValueMap{{"paths", ValueList{file, int64_t{1}}}});
    ValueList seen{outcome.answer->getIf<ValueMap>()->at("freed"), outcome.events.back().at("count")};
    // deleteItems defaults allowAdmin to true and honours false; uninstallApp always allows it.
    harness.call("deleteItems", ValueMap{{"paths", ValueList{stubborn}}});
    harness.call("deleteItems", ValueMap{{"paths", ValueList{stubborn}}, {"allowAdmin", false}});
    harness.call("uninstallApp", ValueMap{{"paths", ValueList{stubborn}}, {"allowAdmin", false}});
    seen.insert(seen.end(), scripts.scripts.begin(), scripts.scripts.end());
    return toJsonText(seen);
  });
  const std::string script = "do shell script \"rm -rf '" + stubborn + "'\" with administrator privileges";
  EXPECT_EQ(report, toJsonText(ValueList{int64_t{0}, int64_t{0}, script, script}));
  EXPECT_TRUE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace nimbra::test
