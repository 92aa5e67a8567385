// The event channel's listen/cancel protocol and the method result's answer-once rule, driven
// by real codec bytes through the embedding stand-in's messenger.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "channel/event_channel.h"
#include "channel/method_result.h"
#include "channel/standard_codec.h"
#include "host/embedding/engine_messenger.h"

namespace nimbra::test {
namespace {

using Reply = std::vector<uint8_t>;

// Notes every call, and sends one event from each stream it is handed.
struct RecordingHandler final : StreamHandler {
  std::vector<std::string> calls;
  std::optional<StreamError> refuseListen;

  std::optional<StreamError> onListen(
      const Value& arguments, std::unique_ptr<EventSink> events) override {
    calls.push_back("listen " + std::to_string(intValue(arguments).value_or(-1)));
    if (refuseListen) return refuseListen;
    events->success(arguments);
    return std::nullopt;
  }
  std::optional<StreamError> onCancel(const Value&) override {
    calls.emplace_back("cancel");
    return std::nullopt;
  }
};

TEST(EventChannelContract, ListenCancelAndEverythingElseAnswerAsTheInterfaceExpects) {
  EngineMessenger messenger;
  std::vector<Reply> events;
  messenger.setInterfaceReceiver(
      [&](const std::string&, Reply message, BinaryReply) { events.push_back(message); });
  RecordingHandler handler;
  EventChannel(&messenger, "events").setStreamHandler(&handler);
  auto send = [&](const Reply& bytes) {
    Reply answer{0xEE};
    messenger.deliverFromInterface(
        "events", bytes, [&](Reply reply) { answer = std::move(reply); });
    return answer;
  };
  auto call = [&](const char* method, const Value& arguments = Value()) {
    return send(encodeMethodCall({method, arguments}));
  };

  const Reply ok = encodeSuccessEnvelope(Value());
  EXPECT_EQ(call("cancel"), encodeErrorEnvelope("error", "No active stream to cancel", Value()));
  EXPECT_EQ(call("listen", 1), ok);
  EXPECT_EQ(call("listen", 2), ok);  // a second listen ends the first stream before it starts
  EXPECT_EQ(call("cancel"), ok);
  EXPECT_EQ(call("cancel"), encodeErrorEnvelope("error", "No active stream to cancel", Value()));
  EXPECT_EQ(send({0xFF, 0x00}), Reply{});  // undecodable: no answer, nothing called
  EXPECT_EQ(call("pause"), Reply{});
  handler.refuseListen = StreamError{"busy", "try later", Value()};
  EXPECT_EQ(call("listen", 3), encodeErrorEnvelope("busy", "try later", Value()));
  EXPECT_EQ(call("cancel"), encodeErrorEnvelope("error", "No active stream to cancel", Value()));
  EXPECT_THAT(handler.calls,
      ::testing::ElementsAre("listen 1", "cancel", "listen 2", "cancel", "listen 3"));
  EXPECT_EQ(events, (std::vector<Reply>{encodeSuccessEnvelope(1), encodeSuccessEnvelope(2)}));
}

TEST(MethodResultContract, AnswersExactlyOnceAndNotImplementedWhenDroppedUnanswered) {
  std::vector<Reply> delivered;
  auto deliver = [&](Reply reply) { delivered.push_back(std::move(reply)); };
  {
    MethodResult result(deliver);
    result.success(Value("first"));
    result.error("late", "ignored");
    result.notImplemented();
    EXPECT_TRUE(result.answered());
  }
  { MethodResult dropped(deliver); }
  {
    MethodResult failed(deliver);
    failed.error("code", "message", Value(int64_t{7}));
  }
  EXPECT_EQ(delivered, (std::vector<Reply>{encodeSuccessEnvelope(Value("first")), Reply{},
                           encodeErrorEnvelope("code", "message", Value(int64_t{7}))}));
}

}  // namespace
}  // namespace nimbra::test
