#pragma once

// Flutter's standard message codec and standard method codec, byte for byte.
//
// Decoding never trusts the input: truncated or malformed bytes give an error text, never a
// crash, an over-read, or an allocation larger than the input could describe. Every size field
// is checked against the bytes that remain (each promised element needs at least one) before
// anything is allocated.
//
// Choices where the format leaves room:
// - type 5 ("large int", a decimal or hex text Flutter's own encoders never write on desktop)
//   decodes as a string, the way Flutter's own decoders read it;
// - a map whose keys are all strings decodes to ValueMap, and a repeated key there is an error
//   (one entry would otherwise be silently dropped); any other map decodes to ValuePairs in
//   wire order, repeated keys kept;
// - padding bytes are skipped unread, as Flutter does; non-minimal size encodings are accepted;
// - lists and maps nested deeper than kMaxNestingDepth are an error.
//
// Neither direction recurses: both walk nested lists and maps with explicit stacks, so the
// deepest value allowed costs no more stack than a flat one, on any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "channel/codec_reader.h"
#include "channel/method_call.h"
#include "channel/value.h"

namespace nimbra {

// Either a decoded value or the reason there is none.
template <class T>
struct Decoded {
  std::optional<T> value;
  std::string error;  // empty when value is present
  explicit operator bool() const { return value.has_value(); }
};

// --- Standard message codec ---
// Strings holding invalid UTF-8 are written with each bad sequence replaced by U+FFFD.
std::vector<uint8_t> encodeMessage(const Value& value);
// The whole input must be one value; trailing bytes are an error.
Decoded<Value> decodeMessage(std::span<const uint8_t> bytes);

// The bytes of `value`, to be kept as part of a larger answer (see EncodedValue). Nullopt when
// `value` holds something the format aligns to the message's start (a double, a typed list of
// wider numbers): its bytes would be wrong at another offset, so the caller keeps the Value.
std::optional<EncodedValue> encodePiece(const Value& value);

// Appends the type and size of a byte array value (type 8, never aligned) of `size` bytes to
// a message being built; its bytes follow. For a container that carries another message
// without copying it into a Value first, or without copying it at all.
void appendByteArrayHeader(std::vector<uint8_t>& message, size_t size);

// --- Standard method codec ---
std::vector<uint8_t> encodeMethodCall(const MethodCall& call);
Decoded<MethodCall> decodeMethodCall(std::span<const uint8_t> bytes);

// A reply: success (0x00 + value) or error (0x01 + code + message + details).
struct Envelope {
  bool success = true;
  Value result;      // success only
  std::string code;  // error only
  std::string message;
  Value details;
  friend bool operator==(const Envelope&, const Envelope&) = default;
};
std::vector<uint8_t> encodeSuccessEnvelope(const Value& result);
// An empty `message` is written as null, as Flutter's own C++ wrapper does; a null message
// decodes to "".
std::vector<uint8_t> encodeErrorEnvelope(const std::string& code, const std::string& message,
                                         const Value& details);
// An empty reply means "not implemented" and is not an envelope; callers check for it first.
Decoded<Envelope> decodeEnvelope(std::span<const uint8_t> bytes);

}  // namespace nimbra
