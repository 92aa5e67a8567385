#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "channel/binary_messenger.h"
#include "channel/value.h"

namespace nimbra {

// Sends the events of one listen session to the interface. Call on the main loop only.
class EventSink {
 public:
  EventSink(BinaryMessenger* messenger, std::string channel)
      : messenger_(messenger), channel_(std::move(channel)) {}
  void success(const Value& event) const;
  void error(const std::string& code, const std::string& message = "",
             const Value& details = Value()) const;
  void endOfStream() const;

 private:
  BinaryMessenger* messenger_;
  std::string channel_;
};

// An error a stream handler may report from onListen/onCancel.
struct StreamError {
  std::string code;
  std::string message;
  Value details;
};

// Reacts to the interface starting and stopping to listen. Both calls arrive on the main loop.
class StreamHandler {
 public:
  virtual ~StreamHandler() = default;
  virtual std::optional<StreamError> onListen(const Value& arguments,
                                              std::unique_ptr<EventSink> events) = 0;
  virtual std::optional<StreamError> onCancel(const Value& arguments) = 0;
};

// A named channel for a stream of events, speaking Flutter's "listen"/"cancel" protocol with
// the standard method codec. The messenger and handler are not owned; both must outlive the
// installation.
class EventChannel {
 public:
  EventChannel(BinaryMessenger* messenger, std::string name)
      : messenger_(messenger), name_(std::move(name)) {}
  EventChannel(const EventChannel&) = delete;
  EventChannel& operator=(const EventChannel&) = delete;

  void setStreamHandler(StreamHandler* handler) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
};

}  // namespace nimbra
