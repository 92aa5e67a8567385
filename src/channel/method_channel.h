#pragma once

#include <functional>
#include <memory>
#include <string>

#include "channel/binary_messenger.h"
#include "channel/method_call.h"
#include "channel/method_result.h"

namespace nimbra {

// Receives the calls of a method channel on the main loop. The handler owns the call (so it can
// move the arguments into a task rather than copy them) and the result, and may answer after
// it returns.
using MethodCallHandler =
    std::function<void(MethodCall call, std::unique_ptr<MethodResult> result)>;

// A named channel that carries method calls with the standard method codec.
// The messenger is not owned and must outlive the handler's installation.
class MethodChannel {
 public:
  MethodChannel(BinaryMessenger* messenger, std::string name)
      : messenger_(messenger), name_(std::move(name)) {}
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Installs the handler on the messenger; it stays installed after this object is gone.
  // A call whose bytes cannot be decoded is answered "not implemented" without reaching it.
  void setMethodCallHandler(MethodCallHandler handler) const;
  // Calls a method on the other side; `onReply` gets the raw reply bytes.
  void invokeMethod(const MethodCall& call, BinaryReply onReply = nullptr) const;

 private:
  BinaryMessenger* messenger_;
  std::string name_;
};

}  // namespace nimbra
