#include "channel/event_channel.h"

#include "channel/standard_codec.h"

namespace nimbra {

void EventSink::success(const Value& event) const {
  messenger_->send(channel_, encodeSuccessEnvelope(event));
}

void EventSink::error(const std::string& code, const std::string& message,
                      const Value& details) const {
  messenger_->send(channel_, encodeErrorEnvelope(code, message, details));
}

void EventSink::endOfStream() const { messenger_->send(channel_, {}); }

void EventChannel::setStreamHandler(StreamHandler* handler) const {
  if (!handler) {
    messenger_->setMessageHandler(name_, nullptr);
    return;
  }
  // The interface's protocol: "listen" starts a stream (ending any earlier one first), "cancel"
  // ends it; both are answered with an envelope, anything else "not implemented".
  auto listening = std::make_shared<bool>(false);
  messenger_->setMessageHandler(name_, [handler, listening, messenger = messenger_, name = name_](
                                           std::vector<uint8_t> message, BinaryReply reply) {
    Decoded<MethodCall> call = decodeMethodCall(message);
    if (!call) {
      reply({});
      return;
    }
    const std::string& method = call.value->method;
    if (method == "listen") {
      if (*listening) handler->onCancel(Value());
      std::optional<StreamError> failure =
          handler->onListen(call.value->arguments, std::make_unique<EventSink>(messenger, name));
      *listening = !failure;
      reply(failure ? encodeErrorEnvelope(failure->code, failure->message, failure->details)
                    : encodeSuccessEnvelope(Value()));
    } else if (method == "cancel") {
      if (!*listening) {
        reply(encodeErrorEnvelope("error", "No active stream to cancel", Value()));
        return;
      }
      *listening = false;
      std::optional<StreamError> failure = handler->onCancel(call.value->arguments);
      reply(failure ? encodeErrorEnvelope(failure->code, failure->message, failure->details)
                    : encodeSuccessEnvelope(Value()));
    } else {
      reply({});
    }
  });
}

}  // namespace nimbra
