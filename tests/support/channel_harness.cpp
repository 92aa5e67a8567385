#include "support/channel_harness.h"

#include <gtest/gtest.h>

#include <map>

#include "channel/method_call.h"
#include "channel/standard_codec.h"
#include "host/embedding/engine_messenger.h"

namespace nimbra::test {

struct ChannelHarness::State {
  MainLoop loop;
  EngineMessenger messenger;
  std::unique_ptr<NimbraNative> service;
  std::vector<ValueMap> events;
  struct Pending {
    size_t firstEvent = 0;
    bool done = false;
    std::vector<uint8_t> reply;
  };
  std::map<int, Pending> pending;
  int nextTicket = 0;
};

namespace {

CallOutcome decodeOutcome(const std::vector<uint8_t>& reply) {
  CallOutcome outcome;
  if (reply.empty()) {
    outcome.notImplemented = true;
    return outcome;
  }
  Decoded<Envelope> envelope = decodeEnvelope(reply);
  EXPECT_TRUE(envelope) << "undecodable reply: " << envelope.error;
  if (envelope && envelope.value->success) outcome.answer = envelope.value->result;
  EXPECT_TRUE(!envelope || envelope.value->success) << "error reply " << envelope.value->code;
  return outcome;
}

}  // namespace

ChannelHarness::ChannelHarness(NimbraNative::Seams seams, bool listen)
    : state_(std::make_unique<State>()) {
  seams.mainLoop = &state_->loop;
  state_->service = std::make_unique<NimbraNative>(std::move(seams));
  state_->messenger.setInterfaceReceiver([state = state_.get()](const std::string& channel,
                                             std::vector<uint8_t> message, BinaryReply) {
    if (channel != kEventsChannel) return;
    Decoded<Envelope> envelope = decodeEnvelope(message);
    ASSERT_TRUE(envelope) << "undecodable event: " << envelope.error;
    const ValueMap* event = envelope.value->result.getIf<ValueMap>();
    ASSERT_NE(event, nullptr) << "event is not a map";
    state->events.push_back(*event);
  });
  state_->service->install(&state_->messenger);
  if (listen) {
    bool answered = false;
    state_->messenger.deliverFromInterface(kEventsChannel, encodeMethodCall({"listen", Value()}),
        [&](std::vector<uint8_t> reply) { answered = !reply.empty(); });
    EXPECT_TRUE(answered);
  }
}

ChannelHarness::~ChannelHarness() {
  // The service's queues finish their tasks first; answers they post are never delivered.
  state_->service.reset();
}

int ChannelHarness::send(const std::string& method, const Value& arguments) {
  const int ticket = state_->nextTicket++;
  state_->pending[ticket].firstEvent = state_->events.size();
  state_->messenger.deliverFromInterface(kNativeChannel, encodeMethodCall({method, arguments}),
      [state = state_.get(), ticket](std::vector<uint8_t> reply) {
        auto& p = state->pending[ticket];
        p.done = true;
        p.reply = std::move(reply);
      });
  return ticket;
}

CallOutcome ChannelHarness::wait(int ticket, double timeoutSeconds) {
  auto& p = state_->pending[ticket];
  if (!state_->loop.runUntil([&] { return p.done; }, timeoutSeconds)) {
    ADD_FAILURE() << "no answer within " << timeoutSeconds << " s";
    return {};
  }
  CallOutcome outcome = decodeOutcome(p.reply);
  outcome.events.assign(
      state_->events.begin() + static_cast<long>(p.firstEvent), state_->events.end());
  return outcome;
}

CallOutcome ChannelHarness::call(
    const std::string& method, const Value& arguments, double timeoutSeconds) {
  return wait(send(method, arguments), timeoutSeconds);
}

const std::vector<ValueMap>& ChannelHarness::events() const { return state_->events; }
NimbraNative& ChannelHarness::service() { return *state_->service; }

}  // namespace nimbra::test
