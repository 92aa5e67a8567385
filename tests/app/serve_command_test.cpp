// `nimbra serve` run as a child process and driven through its stdin: frames, and JSON lines.
// The sessions end by closing the shell's window; its frame rules are seen in process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "app/shell.h"
#include "channel/nimbra_native.h"
#include "host_process.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using ::testing::FieldsAre;
using ::testing::HasSubstr;

Frame request(int64_t id, const std::string& method, const Value& arguments = Value(),
              const std::string& channel = kNativeChannel) {
  return Frame{FrameKind::request, id, channel, encodeMethodCall({method, arguments})};
}

// One session: a stray answer frame is reported and skipped; "cancel" gets the success envelope
// of true; whatever cannot be served still gets its one answer, an empty message; after
// "listen", a deletion's events arrive as kind-2 frames before its answer (what it answers is
// the same map the other front ends print). A malformed frame then ends the session with
// status 1 and a message.
TEST(ServeCommand, FramesAreAnsweredOnceEventsFollowListenAndAMalformedFrameEndsTheSession) {
  TempTree tree;
  tree.touch("doomed/a.bin", 1000);
  HostProcess host({"serve"});
  host.send(Frame{FrameKind::answer, 99, kNativeChannel, Bytes{0x00, 0x00}});
  host.send(request(1, "listen", Value(), kEventsChannel));
  host.send(request(2, "cancel"));
  host.send(request(3, "noSuchMethod"));
  host.send(Frame{FrameKind::request, 4, kNativeChannel, Bytes{0x07, 0x50}});  // no method call
  host.send(Frame{FrameKind::request, 5, kNativeChannel, std::nullopt});
  host.send(request(6, "cancel", Value(), "some/other"));
  host.send(request(7, "deleteItems", ValueMap{{"paths", ValueList{tree.path("doomed")}}}));
  std::map<int64_t, Frame> answers;
  std::vector<Frame> events;
  while (answers.size() < 7) {
    std::optional<Frame> frame = host.readFrame();
    ASSERT_TRUE(frame);
    if (frame->kind == FrameKind::answer) answers[frame->id] = *frame;
    if (frame->kind == FrameKind::notice && !answers.count(7)) events.push_back(*frame);
  }
  EXPECT_EQ(answers[1], (Frame{FrameKind::answer, 1, kEventsChannel, encodeSuccessEnvelope(Value())}));
  EXPECT_EQ(answers[2], (Frame{FrameKind::answer, 2, kNativeChannel, Bytes{0x00, 0x01}}));
  for (int64_t id = 3; id <= 6; ++id) EXPECT_EQ(answers[id].message, Bytes{}) << id;
  EXPECT_EQ(answers[6].channel, "some/other");
  ASSERT_FALSE(events.empty());
  for (const Frame& e : events) EXPECT_EQ(e, (Frame{FrameKind::notice, 0, kEventsChannel, e.message}));
  EXPECT_EQ(events.back().message, encodeSuccessEnvelope(ValueMap{{"task", "delete"}, {"path", ""},
      {"count", int64_t{1}}, {"bytes", int64_t{1000}}}));
  host.send(Frame{static_cast<FrameKind>(9), 9, kNativeChannel, std::nullopt});
  EXPECT_EQ(host.wait(), 1);
  EXPECT_EQ(host.restOfStdout(), "");
  EXPECT_EQ(host.stderrText(), "nimbra: ignored answer frame 99: no open request has that id\n"
                               "nimbra: malformed frame: frame kind must be 0, 1 or 2\n");
}

// The window closes when the input ends, even while the work queue is busy: here with the full
// digests of two 1 TiB files (sparse, so they take no room) that minutes would not finish.
TEST(ServeCommand, EndOfInputEndsTheProcessAtOnceWhileWorkRuns) {
  TempTree tree;
  tree.sparseFile("big/one.bin", int64_t{1} << 40);
  tree.sparseFile("big/two.bin", int64_t{1} << 40);
  HostProcess host({"serve"});
  host.send(request(1, "scanDuplicates", ValueMap{{"root", tree.path("big")}}));
  host.send(request(2, "noSuchMethod"));  // queued behind the scan on the work queue
  // Answered on the main loop, which the work leaves free. ("cancel" would stop the scan.)
  host.send(request(3, "pause", Value(), kEventsChannel));
  EXPECT_EQ(host.readFrame().value(), (Frame{FrameKind::answer, 3, kEventsChannel, Bytes{}}));
  const auto closedAt = std::chrono::steady_clock::now();
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::seconds(3));
  EXPECT_EQ(host.restOfStdout(), "") << "work answered before the input ended";
}

// The same session as JSON lines; events need no "listen" there.
TEST(ServeJson, RequestsAreAnsweredLineByLineAfterTheirEvents) {
  TempTree tree;
  tree.touch("doomed.bin", 2048);
  HostProcess host({"serve", "--json"});
  // A blank line is skipped. (What "cancel" answers is in the malformed-line sessions below.)
  host.send("\n{\"id\":\"second\",\"method\":\"noSuchMethod\",\"args\":{\"x\":[1,2.5]}}\n");
  EXPECT_EQ(host.readLine(), R"({"id":"second","notImplemented":true})");
  host.send(R"({"id":5,"method":"deleteItems","args":{"paths":[")" + tree.path("doomed.bin") + "\"]}}\n");
  std::optional<std::string> line, lastEvent;
  while ((line = host.readLine()) && line->starts_with("{\"event\":")) lastEvent = line;
  EXPECT_EQ(lastEvent, R"({"event":{"bytes":2048,"count":1,"path":"","task":"delete"}})");
  EXPECT_EQ(line, R"({"id":5,"result":{"error":"","failed":[],"freed":2048,"inTrash":[],"inTrashBytes":0}})");
  host.send(R"({"method":"cancel","args":null})");  // the last line needs no newline
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
  EXPECT_EQ(host.restOfStdout(), "{\"id\":null,\"result\":true}\n");
  EXPECT_EQ(host.stderrText(), "");
}

TEST(ServeJson, MalformedLinesEndTheSessionWithStatusOneNamingTheLine) {
  for (const char* bad : {"{\"id\":2,\"method\":", "[1,2]", "{\"id\":2}", "{\"id\":2,\"method\":7}"}) {
    EXPECT_THAT(runHost({"serve", "--json"}, std::string("{\"id\":1,\"method\":\"cancel\"}\n") + bad +
                                                 "\n{\"id\":3,\"method\":\"cancel\"}\n"),
                FieldsAre(1, "{\"id\":1,\"result\":true}\n", HasSubstr("nimbra: malformed line 2: ")));
  }
}

TEST(Shell, LoadingKeepsTheFrameAndEveryLaterFrameHoldsTheMinimumSize) {
  EngineMessenger engine;
  AppDelegate delegate;
  MainFlutterWindow window(engine, delegate);
  const Rect initial = window.frame();
  window.awakeFromNib();
  EXPECT_EQ(window.frame(), initial);
  const std::pair<Rect, Rect> asked[] = {{{10, 20, 400, 300}, {10, 20, 980, 640}},
                                         {{0, 0, 1000, 100}, {0, 0, 1000, 640}},
                                         {{0, 0, 1600, 1000}, {0, 0, 1600, 1000}}};
  for (const auto& [frame, given] : asked) {
    window.setFrame(frame);
    EXPECT_EQ(window.frame(), given);
  }
}

}  // namespace
}  // namespace nimbra::test
