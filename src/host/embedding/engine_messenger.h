#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "channel/binary_messenger.h"

namespace nimbra {

// The embedding stand-in's messenger. It has two sides:
//  - the host side (BinaryMessenger), where the service installs its handlers and sends
//    events;
//  - the interface side, where a front end (the `call` and `serve` commands, the test
//    harness) plays the Flutter interface: it delivers calls to the host and receives what
//    the host sends.
// Every method is called on the main loop; nothing here is thread-safe, by design.
class EngineMessenger final : public BinaryMessenger {
 public:
  // What the host sends to the interface: a channel, the bytes, and a reply callback when the
  // host wants an answer (nullptr otherwise).
  using InterfaceReceiver = std::function<void(const std::string& channel,
                                               std::vector<uint8_t> message, BinaryReply reply)>;

  EngineMessenger() = default;
  EngineMessenger(const EngineMessenger&) = delete;
  EngineMessenger& operator=(const EngineMessenger&) = delete;

  // Host side.
  void send(const std::string& channel, std::vector<uint8_t> message,
            BinaryReply reply = nullptr) override;
  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

  // Interface side. Without a receiver, host messages are dropped (a wanted reply is empty).
  void setInterfaceReceiver(InterfaceReceiver receiver);
  // Hands a message from the interface to the host's handler for `channel`. `reply` (may be
  // nullptr) receives the answer exactly once; a channel without a handler answers empty.
  void deliverFromInterface(const std::string& channel, std::vector<uint8_t> message,
                            BinaryReply reply);
  bool hasHandler(const std::string& channel) const { return handlers_.count(channel) != 0; }

 private:
  std::map<std::string, BinaryMessageHandler> handlers_;
  InterfaceReceiver receiver_;
};

}  // namespace nimbra
