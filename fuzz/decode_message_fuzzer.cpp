// Feeds arbitrary bytes to the three decoders of the standard codecs. Whatever decodes must
// encode again and decode to an identical value (doubles compared bit for bit, so NaN
// payloads count), and re-encoding that value must give the same bytes. Whatever does not
// decode must say why.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <variant>

#include "channel/standard_codec.h"

namespace {

using namespace nimbra;

bool identical(const Value& a, const Value& b);

template <class T>
bool identicalScalars(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  } else {
    return a == b;
  }
}

template <class T>
bool identicalVectors(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if constexpr (std::is_same_v<T, Value>) {
      if (!identical(a[i], b[i])) return false;
    } else if constexpr (std::is_same_v<T, std::pair<Value, Value>>) {
      if (!identical(a[i].first, b[i].first) || !identical(a[i].second, b[i].second)) {
        return false;
      }
    } else {
      if (!identicalScalars(a[i], b[i])) return false;
    }
  }
  return true;
}

bool identical(const Value& a, const Value& b) {
  if (a.variant().index() != b.variant().index()) return false;
  return std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        const T& y = std::get<T>(b.variant());
        if constexpr (std::is_same_v<T, ValueMap>) {
          if (x.size() != y.size()) return false;
          for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
            if (i->first != j->first || !identical(i->second, j->second)) return false;
          }
          return true;
        } else if constexpr (requires { x.data(); x.size(); } &&
                             !std::is_same_v<T, std::string>) {
          return identicalVectors(x, y);
        } else {
          return identicalScalars(x, y);
        }
      },
      a.variant());
}

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "codec fault: %s\n", what);
  std::abort();
}

template <class T>
void expectReasonOnFailure(const Decoded<T>& decoded) {
  if (!decoded && decoded.error.empty()) fault("a failed decode gave no reason");
  if (decoded && !decoded.error.empty()) fault("a successful decode carried an error");
}

void roundTripMessage(std::span<const uint8_t> data) {
  const Decoded<Value> first = decodeMessage(data);
  expectReasonOnFailure(first);
  if (!first) return;
  const std::vector<uint8_t> encoded = encodeMessage(*first.value);
  const Decoded<Value> second = decodeMessage(encoded);
  if (!second) fault("an encoded message does not decode");
  if (!identical(*first.value, *second.value)) fault("a message changed in a round trip");
  if (encodeMessage(*second.value) != encoded) fault("a message re-encodes differently");
}

void roundTripMethodCall(std::span<const uint8_t> data) {
  const Decoded<MethodCall> first = decodeMethodCall(data);
  expectReasonOnFailure(first);
  if (!first) return;
  const std::vector<uint8_t> encoded = encodeMethodCall(*first.value);
  const Decoded<MethodCall> second = decodeMethodCall(encoded);
  if (!second) fault("an encoded method call does not decode");
  if (first.value->method != second.value->method ||
      !identical(first.value->arguments, second.value->arguments)) {
    fault("a method call changed in a round trip");
  }
  if (encodeMethodCall(*second.value) != encoded) fault("a method call re-encodes differently");
}

std::vector<uint8_t> encodeEnvelope(const Envelope& envelope) {
  return envelope.success
             ? encodeSuccessEnvelope(envelope.result)
             : encodeErrorEnvelope(envelope.code, envelope.message, envelope.details);
}

void roundTripEnvelope(std::span<const uint8_t> data) {
  const Decoded<Envelope> first = decodeEnvelope(data);
  expectReasonOnFailure(first);
  if (!first) return;
  const std::vector<uint8_t> encoded = encodeEnvelope(*first.value);
  const Decoded<Envelope> second = decodeEnvelope(encoded);
  if (!second) fault("an encoded envelope does not decode");
  const Envelope& a = *first.value;
  const Envelope& b = *second.value;
  if (a.success != b.success || !identical(a.result, b.result) || a.code != b.code ||
      a.message != b.message || !identical(a.details, b.details)) {
    fault("an envelope changed in a round trip");
  }
  if (encodeEnvelope(b) != encoded) fault("an envelope re-encodes differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  roundTripMessage(input);
  roundTripMethodCall(input);
  roundTripEnvelope(input);
  return 0;
}
