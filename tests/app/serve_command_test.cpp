// `nimbra serve` run as a child process and driven with real frames on its stdin.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "channel/nimbra_native.h"
#include "channel/standard_codec.h"
#include "host_process.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

using ::testing::HasSubstr;

Frame callFrame(int64_t id, const std::string& method, const Value& arguments = Value()) {
  return Frame{FrameKind::request, id, kNativeChannel, encodeMethodCall({method, arguments})};
}

Frame eventsFrame(int64_t id, const std::string& method) {
  return Frame{FrameKind::request, id, kEventsChannel, encodeMethodCall({method, Value()})};
}

// A frame around any body, such as one the host would never write.
std::string rawFrame(const Value& body) {
  const std::vector<uint8_t> bytes = encodeMessage(body);
  std::string frame;
  for (size_t i = 0; i < kFrameHeaderSize; ++i) frame.push_back(static_cast<char>(bytes.size() >> (8 * i)));
  return frame + std::string(bytes.begin(), bytes.end());
}

Value successResult(const Frame& frame) {
  EXPECT_TRUE(frame.message.has_value());
  Decoded<Envelope> envelope = decodeEnvelope(frame.message.value_or(Bytes{}));
  EXPECT_TRUE(envelope && envelope.value->success) << envelope.error;
  return envelope ? envelope.value->result : Value();
}

TEST(ServeCommand, CancelCallIsAnsweredWithTheSuccessEnvelopeOfTrue) {
  HostProcess host({"serve"});
  host.sendFrame(callFrame(7, "cancel"));
  std::optional<Frame> answer = host.readFrame();
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, (Frame{FrameKind::answer, 7, kNativeChannel, Bytes{0x00, 0x01}}));
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
  EXPECT_EQ(host.stderrText(), "");
}

// Whatever cannot be served still gets its one answer, with an empty message.
TEST(ServeCommand, CallsThatCannotBeServedAreAnsweredWithAnEmptyMessage) {
  HostProcess host({"serve"});
  host.sendFrame(callFrame(1, "noSuchMethod"));
  host.sendFrame(Frame{FrameKind::request, 2, kNativeChannel, Bytes{0x07, 0x50}});  // no method call
  host.sendFrame(Frame{FrameKind::request, 3, kNativeChannel, std::nullopt});
  host.sendFrame(Frame{FrameKind::request, 4, "some/other", encodeMethodCall({"cancel", Value()})});
  host.sendFrame(eventsFrame(5, "pause"));
  std::map<int64_t, Frame> answers;
  for (int i = 0; i < 5; ++i) {
    std::optional<Frame> frame = host.readFrame();
    ASSERT_TRUE(frame);
    answers[frame->id] = *frame;
  }
  for (int64_t id = 1; id <= 5; ++id) {
    ASSERT_TRUE(answers.count(id)) << id;
    EXPECT_EQ(answers[id].kind, FrameKind::answer);
    EXPECT_EQ(answers[id].message, Bytes{}) << id;
  }
  EXPECT_EQ(answers[4].channel, "some/other");
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
}

TEST(ServeCommand, AfterListenEventsArriveAsKind2FramesBeforeTheAnswer) {
  TempTree tree;
  tree.touch("doomed/a.bin", 700);
  tree.touch("doomed/b.bin", 300);
  HostProcess host({"serve"});
  host.sendFrame(eventsFrame(1, "listen"));
  std::optional<Frame> listening = host.readFrame();
  ASSERT_TRUE(listening);
  EXPECT_EQ(*listening, (Frame{FrameKind::answer, 1, kEventsChannel, encodeSuccessEnvelope(Value())}));

  host.sendFrame(callFrame(2, "deleteItems", ValueMap{{"paths", ValueList{tree.path("doomed")}}}));
  std::vector<Value> events;
  std::optional<Frame> frame;
  while ((frame = host.readFrame()) && frame->kind == FrameKind::notice) {
    EXPECT_EQ(frame->id, 0);
    EXPECT_EQ(frame->channel, kEventsChannel);
    events.push_back(successResult(*frame));
  }
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->kind, FrameKind::answer);
  EXPECT_EQ(frame->id, 2);
  const Value answer = successResult(*frame);
  ASSERT_NE(answer.getIf<ValueMap>(), nullptr);
  EXPECT_EQ(answer.getIf<ValueMap>()->at("freed"), Value(int64_t{1000}));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), Value(ValueMap{{"task", "delete"}, {"path", ""}, {"count", int64_t{1}},
                                          {"bytes", int64_t{1000}}}));

  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
}

TEST(ServeCommand, MalformedFrameEndsTheSessionWithStatusOneAndAMessage) {
  HostProcess host({"serve"});
  // A good frame before the bad one is still served.
  host.sendFrame(callFrame(1, "cancel"));
  host.send(rawFrame(ValueList{int64_t{9}, int64_t{2}, kNativeChannel, Value()}));
  std::optional<Frame> answer = host.readFrame();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->id, 1);
  EXPECT_EQ(host.wait(), 1);
  EXPECT_EQ(host.stderrText(), "nimbra: malformed frame: frame kind must be 0, 1 or 2\n");
  EXPECT_EQ(host.restOfStdout(), "");
}

TEST(ServeCommand, AnswerFrameMatchingNoRequestIsReportedAndTheSessionGoesOn) {
  HostProcess host({"serve"});
  host.sendFrame(Frame{FrameKind::answer, 99, kNativeChannel, Bytes{0x00, 0x00}});
  host.sendFrame(callFrame(1, "cancel"));
  std::optional<Frame> answer = host.readFrame();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->id, 1);
  host.closeInput();
  EXPECT_EQ(host.wait(), 0);
  EXPECT_THAT(host.stderrText(), HasSubstr("answer frame 99"));
}

// The window closes when the input ends, even while the work queue is busy: here with the
// full digests of two 1 TiB files (sparse, so they take no room) that minutes would not finish.
TEST(ServeCommand, EndOfInputEndsTheProcessAtOnceWhileWorkRuns) {
  TempTree tree;
  tree.sparseFile("big/one.bin", int64_t{1} << 40);
  tree.sparseFile("big/two.bin", int64_t{1} << 40);
  HostProcess host({"serve"});
  host.sendFrame(callFrame(1, "scanDuplicates", ValueMap{{"root", tree.path("big")}}));
  // Queued behind the long scan on the work queue: unanswered while it runs.
  host.sendFrame(callFrame(2, "noSuchMethod"));
  // Answered on the main loop at once: the loop is free while the work runs. ("cancel" would
  // be too, but it would also stop the scan.)
  host.sendFrame(eventsFrame(3, "listen"));
  std::optional<Frame> first = host.readFrame();
  ASSERT_TRUE(first);
  ASSERT_EQ(first->id, 3) << "scanDuplicates answered before the input ended";
  // Progress events may come; answers may not.
  while (std::optional<Frame> more = host.readFrame(0.3)) {
    ASSERT_EQ(more->kind, FrameKind::notice) << "frame " << more->id << " answered while work ran";
  }

  const auto closedAt = std::chrono::steady_clock::now();
  host.closeInput();
  EXPECT_EQ(host.wait(10), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::seconds(3));
  EXPECT_EQ(host.restOfStdout(), "");
}

}  // namespace
}  // namespace nimbra::test
