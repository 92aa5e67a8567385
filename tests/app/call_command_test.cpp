// `nimbra call` run as a child process: what it prints where, and its exit statuses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/json_value.h"
#include "host_process.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using ::testing::StartsWith;

Value parsed(const std::string& line) {
  Decoded<Value> value = parseJsonValue(line);
  EXPECT_TRUE(value) << line << ": " << value.error;
  return value ? *value.value : Value();
}

Value field(const Value& map, const std::string& key) {
  const ValueMap* entries = map.getIf<ValueMap>();
  return entries && entries->count(key) ? entries->at(key) : Value();
}

TEST(CallCommand, AnswerOrNotImplementedDecidesOutputAndStatus) {
  HostRun cancel = runHost({"call", "cancel"});
  EXPECT_EQ(cancel.status, 0);
  EXPECT_EQ(cancel.out, "true\n");
  EXPECT_EQ(cancel.err, "");

  HostRun unknown = runHost({"call", "noSuchMethod", R"({"path":"/"})"});
  EXPECT_EQ(unknown.status, 3);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err, "nimbra: not implemented: noSuchMethod\n");
}

TEST(CallCommand, UnusableCommandLinesExitTwoWithAMessageAndRunNothing) {
  const std::vector<std::vector<std::string>> unusable{
      {"call", "cancel", "{bad json"}, {"call", "cancel", R"({"a":1} trailing)"},
      {"call", "cancel", "--bogus"},   {"call", "cancel", "{}", "extra"},
      {"call"},                        {},
  };
  for (const auto& arguments : unusable) {
    HostRun run = runHost(arguments);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, StartsWith("nimbra: "));
  }
  EXPECT_THAT(runHost({"call", "cancel", "{bad json"}).err, StartsWith("nimbra: ARGS_JSON"));
}

// The arguments arrive typed (a list of strings, a bool) or the deletion would not happen.
TEST(CallCommand, EventsArePrintedToStderrAsJsonLinesBeforeTheAnswer) {
  TempTree tree;
  tree.touch("doomed/file.bin", 3000);
  tree.touch("doomed/other.bin", 1000);
  const std::string neighbour = tree.touch("neighbour.bin", 10);
  const std::string arguments = R"({"paths":[")" + tree.path("doomed") + R"("],"allowAdmin":false})";

  HostRun run = runHost({"call", "deleteItems", arguments, "--events"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(tree.path("doomed")));
  EXPECT_TRUE(std::filesystem::exists(neighbour));
  ASSERT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line: " << run.out;
  EXPECT_EQ(field(parsed(run.out), "freed"), Value(int64_t{4000}));

  ASSERT_FALSE(run.err.empty());
  std::istringstream lines(run.err);
  std::string line;
  Value last;
  while (std::getline(lines, line)) {
    last = parsed(line);
    EXPECT_EQ(field(last, "task"), Value("delete")) << line;
  }
  EXPECT_EQ(last, Value(ValueMap{{"task", "delete"}, {"path", ""}, {"count", int64_t{1}},
                                 {"bytes", int64_t{4000}}}));

  // Without --events, and with stderr no terminal, only the answer is printed.
  tree.touch("more.bin", 5);
  HostRun quiet = runHost({"call", "deleteItems", R"({"paths":[")" + tree.path("more.bin") + R"("]})"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

}  // namespace
}  // namespace nimbra::test
