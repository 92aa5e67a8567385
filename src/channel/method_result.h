#pragma once

#include <functional>
#include <optional>
#include <string>

#include "channel/value.h"

namespace nimbra {

// The answer to one method call. It answers exactly once: the first of success(),
// notImplemented() or error() is delivered and later ones are ignored; a result destroyed
// without an answer answers "not implemented", so no call is ever left waiting.
// Not copyable; move it into whatever task will answer.
class MethodResult {
 public:
  // Receives the encoded reply (an envelope, or empty for "not implemented").
  using Deliver = std::function<void(std::vector<uint8_t> reply)>;

  explicit MethodResult(Deliver deliver) : deliver_(std::move(deliver)) {}
  ~MethodResult();
  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void success(const Value& value = Value());
  // The same, and `value` is gone before the reply is delivered: a large answer is never held
  // beside its encoding while the receiver works on the bytes.
  void success(Value&& value);
  void error(const std::string& code, const std::string& message = "",
             const Value& details = Value());
  void notImplemented();
  bool answered() const { return !deliver_; }

 private:
  Deliver deliver_;
};

}  // namespace nimbra
