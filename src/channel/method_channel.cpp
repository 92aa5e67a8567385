#include "channel/method_channel.h"

#include "channel/standard_codec.h"

namespace nimbra {

void MethodChannel::setMethodCallHandler(MethodCallHandler handler) const {
  if (!handler) {
    messenger_->setMessageHandler(name_, nullptr);
    return;
  }
  messenger_->setMessageHandler(
      name_, [handler = std::move(handler)](std::vector<uint8_t> message, BinaryReply reply) {
        Decoded<MethodCall> call = decodeMethodCall(message);
        if (!call) {
          reply({});
          return;
        }
        handler(std::move(*call.value), std::make_unique<MethodResult>(std::move(reply)));
      });
}

void MethodChannel::invokeMethod(const MethodCall& call, BinaryReply onReply) const {
  messenger_->send(name_, encodeMethodCall(call), std::move(onReply));
}

}  // namespace nimbra
