#include "host/embedding/engine_messenger.h"

namespace nimbra {

void EngineMessenger::send(const std::string& channel, std::vector<uint8_t> message,
                           BinaryReply reply) {
  if (receiver_) {
    receiver_(channel, std::move(message), std::move(reply));
  } else if (reply) {
    reply({});
  }
}

void EngineMessenger::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  if (handler) {
    handlers_[channel] = std::move(handler);
  } else {
    handlers_.erase(channel);
  }
}

void EngineMessenger::setInterfaceReceiver(InterfaceReceiver receiver) {
  receiver_ = std::move(receiver);
}

void EngineMessenger::deliverFromInterface(const std::string& channel, std::vector<uint8_t> message,
                                           BinaryReply reply) {
  if (!reply) reply = [](std::vector<uint8_t>) {};
  auto found = handlers_.find(channel);
  if (found == handlers_.end()) {
    reply({});
    return;
  }
  // Copy: the handler may replace itself while it runs.
  BinaryMessageHandler handler = found->second;
  handler(std::move(message), std::move(reply));
}

}  // namespace nimbra
