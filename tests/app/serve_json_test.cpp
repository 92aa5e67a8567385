// `nimbra serve --json` run as a child process: the same session as JSON lines.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/json_value.h"
#include "host_process.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using ::testing::HasSubstr;

Value parsed(const std::string& line) {
  Decoded<Value> value = parseJsonValue(line);
  EXPECT_TRUE(value) << line << ": " << value.error;
  return value ? *value.value : Value();
}

TEST(ServeJson, RequestsAreAnsweredLineByLineWithTheirIds) {
  HostProcess host({"serve", "--json"});
  host.send("{\"id\":1,\"method\":\"cancel\"}\n"
            "\n"
            "{\"id\":\"second\",\"method\":\"noSuchMethod\",\"args\":{\"x\":[1,2.5]}}\n");
  EXPECT_EQ(host.readLine(), "{\"id\":1,\"result\":true}");
  EXPECT_EQ(host.readLine(), "{\"id\":\"second\",\"notImplemented\":true}");
  // The last line needs no newline before the input ends.
  host.send("{\"method\":\"cancel\",\"args\":null}");
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
  EXPECT_EQ(host.restOfStdout(), "{\"id\":null,\"result\":true}\n");
  EXPECT_EQ(host.stderrText(), "");
}

TEST(ServeJson, EventsAreAlwaysOnAndPrecedeTheAnswer) {
  TempTree tree;
  tree.touch("doomed.bin", 2048);
  HostProcess host({"serve", "--json"});
  host.send(R"({"id":5,"method":"deleteItems","args":{"paths":[")" + tree.path("doomed.bin") +
            "\"]}}\n");
  std::vector<Value> events;
  std::optional<std::string> line;
  while ((line = host.readLine()) && line->starts_with("{\"event\":")) {
    const Value value = parsed(*line);
    const ValueMap* wrapper = value.getIf<ValueMap>();
    ASSERT_NE(wrapper, nullptr);
    events.push_back(wrapper->at("event"));
  }
  ASSERT_TRUE(line);
  const Value value = parsed(*line);
  const ValueMap* answer = value.getIf<ValueMap>();
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->at("id"), Value(int64_t{5}));
  const ValueMap* result = answer->at("result").getIf<ValueMap>();
  ASSERT_NE(result, nullptr) << *line;
  EXPECT_EQ(result->at("freed"), Value(int64_t{2048}));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), Value(ValueMap{{"task", "delete"}, {"path", ""}, {"count", int64_t{1}},
                                          {"bytes", int64_t{2048}}}));
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
}

TEST(ServeJson, MalformedLinesEndTheSessionWithStatusOneNamingTheLine) {
  const std::vector<std::string> malformed{
      "{\"id\":2,\"method\":",
      "[1,2]",
      "{\"id\":2}",
      "{\"id\":2,\"method\":7}",
  };
  for (const auto& bad : malformed) {
    HostRun run = runHost({"serve", "--json"}, "{\"id\":1,\"method\":\"cancel\"}\n" + bad + "\n" +
                                                   "{\"id\":3,\"method\":\"cancel\"}\n");
    EXPECT_EQ(run.status, 1) << bad;
    EXPECT_EQ(run.out, "{\"id\":1,\"result\":true}\n") << bad;
    EXPECT_THAT(run.err, HasSubstr("nimbra: malformed line 2: ")) << bad;
  }
}

}  // namespace
}  // namespace nimbra::test
