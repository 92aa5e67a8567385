// `nimbra call` run as a child process: what it prints where, and its exit statuses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "host_process.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using ::testing::FieldsAre;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

TEST(CallCommand, TheAnswerDecidesOutputAndStatusAndUnusableCommandLinesRunNothing) {
  EXPECT_EQ(runHost({"call", "cancel"}), HostRun(0, "true\n", ""));
  EXPECT_EQ(runHost({"call", "noSuchMethod", R"({"path":"/"})"}),
            HostRun(3, "", "nimbra: not implemented: noSuchMethod\n"));
  for (const auto& [arguments, complaint] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"call", "cancel", "{bad json"}, "nimbra: ARGS_JSON"}, {{"call", "cancel", R"({"a":1} trailing)"}, "nimbra: ARGS_JSON"},
           {{"call", "cancel", "--bogus"}, "nimbra: "}, {{"call", "cancel", "{}", "extra"}, "nimbra: "},
           {{"call"}, "nimbra: "}, {{}, "nimbra: "}}) {
    EXPECT_THAT(runHost(arguments), FieldsAre(2, "", StartsWith(complaint)));
  }
}

// The arguments arrive typed (a list of strings, a bool) or the deletion would not happen.
TEST(CallCommand, EventsArePrintedToStderrAsJsonLinesBeforeTheAnswer) {
  TempTree tree;
  tree.touch("doomed/file.bin", 3000);
  tree.touch("doomed/other.bin", 1000);
  const std::string neighbour = tree.touch("neighbour.bin", 10);
  const std::string arguments = R"({"paths":[")" + tree.path("doomed") + R"("],"allowAdmin":false})";
  const auto [status, out, err] = runHost({"call", "deleteItems", arguments, "--events"});
  ASSERT_EQ(status, 0) << err;
  EXPECT_FALSE(std::filesystem::exists(tree.path("doomed")));
  EXPECT_TRUE(std::filesystem::exists(neighbour));
  EXPECT_EQ(out, R"({"error":"","failed":[],"freed":4000,"inTrash":[],"inTrashBytes":0})" "\n");
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_THAT(line, MatchesRegex(R"(\{"bytes":[0-9]+,"count":[0-9]+,"path":".*","task":"delete"\})"));
  }
  EXPECT_THAT(err, ::testing::EndsWith(R"({"bytes":4000,"count":1,"path":"","task":"delete"})" "\n"));

  // Without --events, and with stderr no terminal, only the answer is printed.
  tree.touch("more.bin", 5);
  const std::string more = R"({"paths":[")" + tree.path("more.bin") + R"("]})";
  EXPECT_EQ(std::get<2>(runHost({"call", "deleteItems", more})), "");
}

}  // namespace
}  // namespace nimbra::test
