#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nimbra {

// Answers a message that wanted a reply. An empty reply means "not implemented".
using BinaryReply = std::function<void(std::vector<uint8_t> reply)>;
// Handles one incoming message on a channel; `reply` must be called exactly once, possibly
// later, on the main loop.
using BinaryMessageHandler = std::function<void(std::vector<uint8_t> message, BinaryReply reply)>;

// The byte pipe between the interface and the host, as the embedding provides it.
// All calls happen on the main loop.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;
  // Sends a message from the host to the interface. `reply` (optional) receives its answer.
  virtual void send(const std::string& channel, std::vector<uint8_t> message,
                    BinaryReply reply = nullptr) = 0;
  // Installs (or, with nullptr, removes) the host's handler for messages from the interface.
  virtual void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace nimbra
