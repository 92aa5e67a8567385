// Argument rules of the method table, seen through the channel with real encoded calls: what
// each operation received shows in what it answers.

#include <gtest/gtest.h>

#include <cstdlib>
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
  void SetUp() override {
    savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.root().c_str(), 1);
  }
  void TearDown() override { ::setenv("HOME", savedHome_.c_str(), 1); }

  static std::vector<std::string> paths(const Value& answer, const std::string& listKey) {
    std::vector<std::string> out;
    for (const Value& item : *answer.getIf<ValueMap>()->at(listKey).getIf<ValueList>()) {
      out.push_back(*item.getIf<ValueMap>()->at("path").getIf<std::string>());
    }
    return out;
  }

  TempTree home;
  std::string savedHome_;
};

TEST_F(MethodTableTest, ScansDefaultToTheHomeFolderAndTheirOwnMinimumSizes) {
  const std::string big = home.sparseFile("big.iso", 104857600);
  home.sparseFile("just-below.iso", 104857599);
  ChannelHarness harness;
  // Null arguments: the home folder, 100 MiB.
  auto large = harness.call("scanLargeFiles", Value());
  EXPECT_EQ(paths(*large.answer, "items"), std::vector<std::string>{big});
  // A string "minSize" is no number: the default applies.
  large = harness.call("scanLargeFiles", ValueMap{{"minSize", "1"}});
  EXPECT_EQ(paths(*large.answer, "items"), std::vector<std::string>{big});
}

TEST_F(MethodTableTest, AnalyzeDiskReadsPathAndOnlyIntegralDepths) {
  home.touch("a/b/c/d/file", 10);
  TempTree other;
  other.touch("elsewhere", 99);
  ChannelHarness harness;
  // "root" is not the key analyzeDisk reads, and 2.5 is no depth: home folder, depth 3.
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
