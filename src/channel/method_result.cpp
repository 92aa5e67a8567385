#include "channel/method_result.h"

#include <utility>

#include "channel/standard_codec.h"

namespace nimbra {

MethodResult::~MethodResult() { notImplemented(); }

void MethodResult::success(const Value& value) {
  if (!deliver_) return;
  std::exchange(deliver_, nullptr)(encodeSuccessEnvelope(value));
}

void MethodResult::success(Value&& value) {
  if (!deliver_) return;
  std::vector<uint8_t> reply = encodeSuccessEnvelope(value);
  { const Value gone = std::move(value); }  // freed now, before the receiver's work
  std::exchange(deliver_, nullptr)(std::move(reply));
}

void MethodResult::error(const std::string& code, const std::string& message,
                         const Value& details) {
  if (!deliver_) return;
  std::exchange(deliver_, nullptr)(encodeErrorEnvelope(code, message, details));
}

void MethodResult::notImplemented() {
  if (!deliver_) return;
  std::exchange(deliver_, nullptr)({});
}

}  // namespace nimbra
