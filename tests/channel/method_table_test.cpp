// Argument rules of the method table, seen through the channel with real encoded calls: what
// each operation received shows in what it answers.

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/channel_harness.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

// Records every script instead of running it.
class RecordingScriptRunner final : public ScriptRunner {
 public:
  ScriptResult runScript(const std::string& script) override {
    scripts.push_back(script);
    return {false, ""};
  }
  std::vector<std::string> scripts;
};

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

TEST_F(MethodTableTest, MinSizeIsTruncatedTowardZero) {
  home.write("a/five", "12345");
  home.write("b/five", "12345");
  ChannelHarness harness;
  auto dupes = harness.call("scanDuplicates", ValueMap{{"minSize", 5.9}});
  EXPECT_EQ(dupes.answer->getIf<ValueMap>()->at("wasted"), Value(int64_t{5}));
  dupes = harness.call("scanDuplicates", ValueMap{{"minSize", 6.0}});
  EXPECT_EQ(dupes.answer->getIf<ValueMap>()->at("wasted"), Value(int64_t{0}));
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
  // Even root cannot remove a file of the kernel's: it stays and goes to the fallback.
  const Value stubborn = ValueList{"/proc/self/status"};
  RecordingScriptRunner scripts;
  ChannelHarness harness(NimbraNative::Seams{.scriptRunner = &scripts});

  // A list holding a number is no list of paths: nothing is touched.
  const std::string file = home.touch("keep", 10);
  auto outcome = harness.call("deleteItems", ValueMap{{"paths", ValueList{file, int64_t{1}}}});
  EXPECT_EQ(outcome.answer->getIf<ValueMap>()->at("freed"), Value(int64_t{0}));
  EXPECT_EQ(outcome.events.back().at("count"), Value(int64_t{0}));

  // deleteItems defaults allowAdmin to true and honours false.
  harness.call("deleteItems", ValueMap{{"paths", stubborn}});
  harness.call("deleteItems", ValueMap{{"paths", stubborn}, {"allowAdmin", false}});
  // uninstallApp always allows the administrator step.
  harness.call("uninstallApp", ValueMap{{"paths", stubborn}, {"allowAdmin", false}});
  const std::string script =
      "do shell script \"rm -rf '/proc/self/status'\" with administrator privileges";
  EXPECT_EQ(scripts.scripts, (std::vector<std::string>{script, script}));
}

}  // namespace
}  // namespace nimbra::test
