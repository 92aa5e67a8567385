// `nimbra serve` run as a child process and driven through its stdin: frames, and JSON lines.
// The sessions end by closing the window, whose frame rules are seen in process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/embedding/main_window.h"
#include "host_process.h"
#include "service/nimbra_native.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using Json = nlohmann::json;
using ::testing::StartsWith;

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
  EXPECT_EQ(
      answers[1], (Frame{FrameKind::answer, 1, kEventsChannel, encodeSuccessEnvelope(Value())}));
  EXPECT_EQ(answers[2], (Frame{FrameKind::answer, 2, kNativeChannel, Bytes{0x00, 0x01}}));
  for (int64_t id = 3; id <= 6; ++id) EXPECT_EQ(answers[id].message, Bytes{}) << id;
  EXPECT_EQ(answers[6].channel, "some/other");
  ASSERT_FALSE(events.empty());
  for (const Frame& e : events)
    EXPECT_EQ(e, (Frame{FrameKind::notice, 0, kEventsChannel, e.message}));
  EXPECT_EQ(events.back().message, encodeSuccessEnvelope(ValueMap{{"task", "delete"}, {"path", ""},
                                       {"count", int64_t{1}}, {"bytes", int64_t{1000}}}));
  host.send(Frame{static_cast<FrameKind>(9), 9, kNativeChannel, std::nullopt});
  EXPECT_EQ(host.wait(), 1);
  EXPECT_EQ(host.restOfStdout(), "");
  EXPECT_EQ(host.stderrText(),
      "nimbra: ignored answer frame 99: no open request has that id\n"
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

// The peak resident size of process `pid` so far, in KiB.
int64_t peakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stoll(line.substr(6));
  }
  return -1;
}

// A client that writes calls and reads no answer: once the output it leaves unread and the
// calls awaiting answers reach their bounds, the session stops reading, so its memory stays put
// however much the client would write. Reading again, the client gets every answer.
TEST(ServeCommand, AClientThatStopsReadingStopsTheSessionReadingAndLosesNoAnswer) {
  constexpr size_t kWouldWrite = size_t{128} << 20;
  // Several times what the session lets wait: the sanitizers' own bookkeeping grows with it.
  constexpr int64_t kMaxGrowthKiB = 48 << 10;
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "serve --json" : "serve");
    // AddressSanitizer holds freed memory back (256 MiB by default): a small quarantine keeps
    // the peak near what is live. Without the sanitizer the variable is never read.
    const char* asan = std::getenv("ASAN_OPTIONS");
    HostProcess host(
        json ? std::vector<std::string>{"serve", "--json"} : std::vector<std::string>{"serve"},
        {std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":quarantine_size_mb=1"});
    // Each answer echoes a long id or channel, so that a few thousand calls fill what the
    // session lets wait.
    const std::string padding(800, 'x');
    int64_t calls = 0;
    auto nextCall = [&]() -> std::string {
      ++calls;
      if (json)
        return R"({"id":")" + padding + std::to_string(calls) +
               R"(","method":"sizeOf","args":{"path":"/nonexistent"}})"
               "\n";
      const std::vector<uint8_t> frame =
          encodeFrame(request(calls, "sizeOf", Value(), "unheard/" + padding));
      return std::string(frame.begin(), frame.end());
    };
    auto readAnswer = [&] {
      return json ? host.readLine().has_value() : host.readFrame().has_value();
    };
    host.send(nextCall());
    ASSERT_TRUE(readAnswer());
    const int64_t settled = peakResidentKiB(host.pid());

    // Whole calls, four at a time (within a pipe's atomic write), until the host has taken
    // nothing for a second.
    size_t written = 0;
    while (written < kWouldWrite) {
      const std::string piece = nextCall() + nextCall() + nextCall() + nextCall();
      if (!host.trySend(piece, 1000)) {
        calls -= 4;
        break;
      }
      written += piece.size();
    }
    EXPECT_LT(peakResidentKiB(host.pid()) - settled, kMaxGrowthKiB);
    ASSERT_LT(written, kWouldWrite) << "the session read all the client wrote";
    for (int64_t answered = 1; answered < calls; ++answered)
      ASSERT_TRUE(readAnswer()) << answered << " of " << calls;
    host.closeInput();
    EXPECT_EQ(host.wait(), 0);
  }
}

// The same session as JSON lines; events need no "listen" there. A line that is no call is
// answered in its place, with its id when it has one, and the session goes on; so does a line
// too long to read, whose rest is skipped.
TEST(ServeJson, RequestsAreAnsweredLineByLineAfterTheirEventsAndMalformedLinesInTheirPlace) {
  TempTree tree;
  tree.touch("doomed.bin", 2048);
  tree.touch("kept.bin", 100);
  HostProcess host({"serve", "--json"});
  // A blank line is skipped.
  host.send("\n{\"id\":\"second\",\"method\":\"noSuchMethod\",\"args\":{\"x\":[1,2.5]}}\n");
  EXPECT_EQ(host.readLine(), R"({"id":"second","notImplemented":true})");
  host.send(
      R"({"id":5,"method":"deleteItems","args":{"paths":[")" + tree.path("doomed.bin") + "\"]}}\n");
  std::optional<std::string> line, lastEvent;
  while ((line = host.readLine()) && line->starts_with("{\"event\":")) lastEvent = line;
  EXPECT_EQ(lastEvent, R"({"event":{"bytes":2048,"count":1,"path":"","task":"delete"}})");
  EXPECT_EQ(line,
      R"({"id":5,"result":{"error":"","failed":[],"freed":2048,"inTrash":[],"inTrashBytes":0}})");
  const std::tuple<std::string, Json, std::string> bad[] = {
      {"{\"id\":2,\"method\":", nullptr, "line 4: parse error"},
      {"[1,2]", nullptr, "line 6: not a JSON object"},
      {"{\"id\":2}", 2, "line 8: \"method\" must be a string"},
      {"{\"id\":[2],\"method\":7}", Json::array({2}), "line 10: \"method\" must be a string"},
      {std::string(kMaxFrameBodySize + 1, ' ') + "{}", nullptr,
          "line 12: longer than 67108864 bytes"}};
  for (const auto& [bytes, id, message] : bad) {
    SCOPED_TRACE(message);
    host.send(bytes + "\n{\"id\":3,\"method\":\"cancel\"}\n");
    const Json answer = Json::parse(host.readLine().value_or(""), nullptr, false);
    EXPECT_EQ(answer["id"], id);
    EXPECT_EQ(answer["error"]["code"], "bad-request");
    EXPECT_THAT(answer["error"].value("message", ""), StartsWith(message));
    EXPECT_EQ(host.readLine(), R"({"id":3,"result":true})");
  }
  // The end of input ends the script's work, not its answers: this one runs on the work queue
  // after the input has ended. The last line needs no newline.
  host.send(R"({"method":"sizeOf","args":{"path":")" + tree.root() + "\"}}");
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
  EXPECT_EQ(host.restOfStdout(),
      R"({"id":null,"result":{"size":100,"unreadable":0,"unreadableFolders":[]}})"
      "\n");
  EXPECT_EQ(host.stderrText(), "");
}

TEST(MainWindow, LoadingKeepsTheFrameAndEveryLaterFrameHoldsTheMinimumSize) {
  EngineMessenger engine;
  AppDelegate delegate;
  MainFlutterWindow window(engine, delegate);
  const Rect initial = window.frame();
  window.awakeFromNib();
  EXPECT_EQ(window.frame(), initial);
  const std::pair<Rect, Rect> asked[] = {{{10, 20, 400, 300}, {10, 20, 980, 640}},
      {{0, 0, 1000, 100}, {0, 0, 1000, 640}}, {{0, 0, 1600, 1000}, {0, 0, 1600, 1000}}};
  for (const auto& [frame, given] : asked) {
    window.setFrame(frame);
    EXPECT_EQ(window.frame(), given);
  }
}

}  // namespace
}  // namespace nimbra::test
