#include "channel/standard_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>
#include <utility>

namespace nimbra {
namespace {

// Numbers are copied with memcpy in host order, which is the wire order on every machine we
// build for. A big-endian port would need byte swaps in Writer::scalar and Reader::scalar.
static_assert(std::endian::native == std::endian::little);

enum Type : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

constexpr uint8_t kSize16 = 254;  // size follows as uint16
constexpr uint8_t kSize32 = 255;  // size follows as uint32

constexpr uint8_t kEnvelopeSuccess = 0;
constexpr uint8_t kEnvelopeError = 1;

// ---------------------------------------------------------------------------------------
// UTF-8

// One step over UTF-8 text (Unicode's table of well-formed byte sequences: no overlong forms,
// no surrogates, nothing above U+10FFFF). When the sequence at `p` is ill-formed, `length` is
// its maximal subpart, so that replacing each such piece by one U+FFFD follows the Unicode
// recommendation (and what browsers and Python do).
struct Utf8Step {
  bool valid;
  size_t length;
};

Utf8Step utf8Step(const uint8_t* p, size_t n) {
  const uint8_t lead = p[0];
  if (lead < 0x80) return {true, 1};
  size_t trailing;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
  } else if (lead == 0xE0) {
    trailing = 2;
    low = 0xA0;
  } else if (lead == 0xED) {
    trailing = 2;
    high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    trailing = 2;
  } else if (lead == 0xF0) {
    trailing = 3;
    low = 0x90;
  } else if (lead == 0xF4) {
    trailing = 3;
    high = 0x8F;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    trailing = 3;
  } else {
    return {false, 1};
  }
  for (size_t i = 1; i <= trailing; ++i) {
    if (i >= n || p[i] < low || p[i] > high) return {false, i};
    low = 0x80;
    high = 0xBF;
  }
  return {true, trailing + 1};
}

// Offset of the first ill-formed sequence, or n when the text is valid. Runs of ASCII, the
// common case for paths and keys, are checked eight bytes at a time.
size_t firstInvalidUtf8(const uint8_t* p, size_t n) {
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  size_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & kHighBits) == 0) {
        i += 8;
        continue;
      }
    }
    const Utf8Step step = utf8Step(p + i, n - i);
    if (!step.valid) return i;
    i += step.length;
  }
  return n;
}

std::string replaceInvalidUtf8(const uint8_t* p, size_t n, size_t firstBad) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(n + n / 2);
  out.append(reinterpret_cast<const char*>(p), firstBad);
  size_t i = firstBad;
  while (i < n) {
    const Utf8Step step = utf8Step(p + i, n - i);
    if (step.valid) {
      out.append(reinterpret_cast<const char*>(p + i), step.length);
    } else {
      out.append(kReplacement, 3);
    }
    i += step.length;
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Encoding

// Appends to one buffer from its first byte, because alignment is measured from the start of
// the whole message (a method call's arguments align relative to the name before them).
//
// The buffer is grown ahead of the writes and cut to length by finish(), so each write is a
// bounds check and a memcpy rather than a vector insert. Room is zero-filled when it is made
// and nothing is written past used_, so padding needs no writes of its own.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out), used_(out.size()) {
    out_.resize(used_ + kInitialRoom);
  }

  // Must be called once, after the last write.
  void finish() { out_.resize(used_); }

  void byte(uint8_t b) { *room(1) = b; }

  void bytes(const void* data, size_t n) {
    if (n > 0) std::memcpy(room(n), data, n);
  }

  template <class T>
  void scalar(T v) {
    static_assert(std::is_arithmetic_v<T>);
    std::memcpy(room(sizeof v), &v, sizeof v);
  }

  // The format has no size above 4 GiB - 1; nothing the service sends comes near it (frames
  // of the serve session stop at 64 MiB).
  void size(size_t n) {
    if (n < kSize16) {
      byte(static_cast<uint8_t>(n));
    } else if (n <= 0xFFFF) {
      byte(kSize16);
      scalar(static_cast<uint16_t>(n));
    } else {
      byte(kSize32);
      scalar(static_cast<uint32_t>(n));
    }
  }

  void align(size_t alignment) {
    const size_t misalignment = used_ % alignment;
    if (misalignment != 0) room(alignment - misalignment);
  }

  void string(const std::string& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const size_t bad = firstInvalidUtf8(p, s.size());
    if (bad == s.size()) {
      validString(p, s.size());
    } else {
      const std::string repaired = replaceInvalidUtf8(p, s.size(), bad);
      validString(reinterpret_cast<const uint8_t*>(repaired.data()), repaired.size());
    }
  }

  void validString(const uint8_t* p, size_t n) {
    if (n < kSize16) {
      // Keys and names, nearly every string: one bounds check for the whole value.
      uint8_t* at = room(2 + n);
      at[0] = kString;
      at[1] = static_cast<uint8_t>(n);
      if (n > 0) std::memcpy(at + 2, p, n);
      return;
    }
    byte(kString);
    size(n);
    bytes(p, n);
  }

  template <class T>
  void typedList(Type type, const std::vector<T>& list) {
    byte(type);
    size(list.size());
    if constexpr (sizeof(T) > 1) align(sizeof(T));
    bytes(list.data(), list.size() * sizeof(T));
  }

  void value(const Value& v) {
    std::visit([this](const auto& x) { write(x); }, v.variant());
  }

 private:
  void write(std::monostate) { byte(kNull); }
  void write(bool b) { byte(b ? kTrue : kFalse); }
  void write(int64_t i) {
    if (i >= INT32_MIN && i <= INT32_MAX) {
      byte(kInt32);
      scalar(static_cast<int32_t>(i));
    } else {
      byte(kInt64);
      scalar(i);
    }
  }
  void write(double d) {
    byte(kFloat64);
    align(8);
    scalar(d);
  }
  void write(const std::string& s) { string(s); }
  void write(const ValueList& list) {
    byte(kList);
    size(list.size());
    for (const Value& item : list) value(item);
  }
  void write(const ValueMap& map) {
    byte(kMap);
    size(map.size());
    for (const auto& [key, item] : map) {
      string(key);
      value(item);
    }
  }
  void write(const ValuePairs& pairs) {
    byte(kMap);
    size(pairs.size());
    for (const auto& [key, item] : pairs) {
      value(key);
      value(item);
    }
  }
  void write(const Bytes& b) { typedList(kUint8List, b); }
  void write(const Int32List& l) { typedList(kInt32List, l); }
  void write(const Int64List& l) { typedList(kInt64List, l); }
  void write(const Float32List& l) { typedList(kFloat32List, l); }
  void write(const Float64List& l) { typedList(kFloat64List, l); }

  // Where the next n bytes go. Kept small so it inlines into every write; growing, rare,
  // stays out of line.
  uint8_t* room(size_t n) {
    if (out_.size() - used_ < n) [[unlikely]] grow(n);
    uint8_t* at = out_.data() + used_;
    used_ += n;
    return at;
  }

  [[gnu::noinline]] void grow(size_t n) { out_.resize(std::max(out_.size() * 2, used_ + n)); }

  // Most answers are small; larger ones grow the buffer geometrically.
  static constexpr size_t kInitialRoom = 256;

  std::vector<uint8_t>& out_;
  size_t used_;
};

// ---------------------------------------------------------------------------------------
// Decoding

// Reads values from one buffer. Every failure records the first error and answers false; the
// callers unwind without looking at partial results.
//
// `pending_` counts the elements that open lists and maps still promise beyond the one being
// read. Each of them needs at least one byte after the current value, so a size is accepted
// only if it fits in what remains after those: a forged size fails before any allocation, and
// nested forged sizes cannot claim the same bytes twice.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> in) : in_(in) {}

  const std::string& error() const { return error_; }
  bool atEnd() const { return pos_ == in_.size(); }

  bool fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }

  bool failTrailing() {
    return fail(std::to_string(in_.size() - pos_) + " trailing bytes after offset " +
                std::to_string(pos_));
  }

  bool byte(uint8_t& b) {
    if (pos_ >= in_.size()) return failTruncated(1);
    b = in_[pos_++];
    return true;
  }

  bool value(Value& out, int depth) {
    const size_t start = pos_;
    uint8_t type = 0;
    if (!byte(type)) return false;
    switch (type) {
      case kNull:
        out = Value();
        return true;
      case kTrue:
        out = Value(true);
        return true;
      case kFalse:
        out = Value(false);
        return true;
      case kInt32: {
        int32_t i = 0;
        if (!scalar(i)) return false;
        out = Value(int64_t{i});
        return true;
      }
      case kInt64: {
        int64_t i = 0;
        if (!scalar(i)) return false;
        out = Value(i);
        return true;
      }
      case kFloat64: {
        double d = 0;
        if (!align(8) || !scalar(d)) return false;
        out = Value(d);
        return true;
      }
      case kLargeInt:
      case kString: {
        std::string s;
        if (!string(s)) return false;
        out = Value(std::move(s));
        return true;
      }
      case kUint8List:
        return typedList<uint8_t>(out);
      case kInt32List:
        return typedList<int32_t>(out);
      case kInt64List:
        return typedList<int64_t>(out);
      case kFloat32List:
        return typedList<float>(out);
      case kFloat64List:
        return typedList<double>(out);
      case kList:
      case kMap:
        if (depth >= kMaxNestingDepth) {
          return fail("lists and maps nested deeper than " + std::to_string(kMaxNestingDepth) +
                      " at offset " + std::to_string(start));
        }
        return type == kList ? list(out, depth + 1) : map(out, depth + 1);
      default:
        return fail("unknown type byte " + std::to_string(type) + " at offset " +
                    std::to_string(start));
    }
  }

  // The body of a string value (type byte already read): size, then UTF-8 bytes.
  bool string(std::string& out) {
    const size_t start = pos_;
    size_t n = 0;
    if (!size(n) || !fits(n, 1, start)) return false;
    const uint8_t* p = in_.data() + pos_;
    if (firstInvalidUtf8(p, n) != n) {
      return fail("invalid UTF-8 in the string at offset " + std::to_string(start));
    }
    out.assign(reinterpret_cast<const char*>(p), n);
    pos_ += n;
    return true;
  }

 private:
  bool failTruncated(size_t needed) {
    return fail("truncated: " + std::to_string(needed) + " more bytes needed at offset " +
                std::to_string(pos_) + ", " + std::to_string(in_.size() - pos_) + " remain");
  }

  size_t remaining() const { return in_.size() - pos_; }

  // Whether `count` elements of `width` bytes fit before the bytes that enclosing lists and
  // maps still need. 64-bit arithmetic: count < 2^32 and width <= 8 cannot overflow.
  bool fits(uint64_t count, uint64_t width, size_t sizeOffset) {
    if (count * width + pending_ <= remaining()) return true;
    return fail("size " + std::to_string(count) + " at offset " + std::to_string(sizeOffset) +
                " exceeds the " + std::to_string(remaining()) + " bytes that remain");
  }

  template <class T>
  bool scalar(T& out) {
    if (remaining() < sizeof(T)) return failTruncated(sizeof(T));
    std::memcpy(&out, in_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }

  bool size(size_t& out) {
    uint8_t first = 0;
    if (!byte(first)) return false;
    if (first < kSize16) {
      out = first;
    } else if (first == kSize16) {
      uint16_t n = 0;
      if (!scalar(n)) return false;
      out = n;
    } else {
      uint32_t n = 0;
      if (!scalar(n)) return false;
      out = n;
    }
    return true;
  }

  bool align(size_t alignment) {
    const size_t misalignment = pos_ % alignment;
    if (misalignment == 0) return true;
    const size_t padding = alignment - misalignment;
    if (remaining() < padding) return failTruncated(padding);
    pos_ += padding;
    return true;
  }

  template <class T>
  bool typedList(Value& out) {
    const size_t start = pos_;
    size_t n = 0;
    if (!size(n)) return false;
    if constexpr (sizeof(T) > 1) {
      if (!align(sizeof(T))) return false;
    }
    if (!fits(n, sizeof(T), start)) return false;
    std::vector<T> list(n);
    // An empty vector's data() may be null, which memcpy must never see.
    if (n > 0) std::memcpy(list.data(), in_.data() + pos_, n * sizeof(T));
    pos_ += n * sizeof(T);
    out = Value(std::move(list));
    return true;
  }

  bool list(Value& out, int depth) {
    const size_t start = pos_;
    size_t n = 0;
    if (!size(n) || !fits(n, 1, start)) return false;
    pending_ += n;
    ValueList list(n);
    for (Value& item : list) {
      --pending_;
      if (!value(item, depth)) return false;
    }
    out = Value(std::move(list));
    return true;
  }

  bool map(Value& out, int depth) {
    const size_t start = pos_;
    size_t n = 0;
    if (!size(n) || !fits(n, 2, start)) return false;
    pending_ += 2 * n;
    ValueMap map;
    // Our own encoder writes keys in ascending order, which lets each insert go at the end
    // in constant time. Other writers (Dart maps keep insertion order) may not; from the
    // first key out of order on, the entries' wire order is kept here in case a later
    // non-string key turns the map into ValuePairs.
    bool ascending = true;
    std::vector<ValueMap::iterator> wireOrder;
    for (size_t i = 0; i < n; ++i) {
      const size_t keyOffset = pos_;
      --pending_;
      std::string name;
      if (pos_ < in_.size() && in_[pos_] == kString) {
        ++pos_;  // the common case, read without a Value in between
        if (!string(name)) return false;
      } else {
        Value key;
        if (!value(key, depth)) return false;
        std::string* text = key.getIf<std::string>();  // a large int reads as text
        if (text == nullptr) {
          ValuePairs pairs = toPairs(map, ascending, wireOrder, n);
          return pairsFrom(std::move(pairs), std::move(key), n - i, depth, out);
        }
        name = std::move(*text);
      }
      const size_t before = map.size();
      const auto entry = map.emplace_hint(map.end(), std::move(name), Value());
      if (map.size() == before) {
        return fail("repeated map key at offset " + std::to_string(keyOffset));
      }
      if (ascending && std::next(entry) != map.end()) {
        ascending = false;
        wireOrder.reserve(n);
        for (auto it = map.begin(); it != map.end(); ++it) {
          if (it != entry) wireOrder.push_back(it);
        }
      }
      if (!ascending) wireOrder.push_back(entry);
      --pending_;
      if (!value(entry->second, depth)) return false;
    }
    out = Value(std::move(map));
    return true;
  }

  // The entries read so far, as pairs in wire order; the map is emptied.
  static ValuePairs toPairs(ValueMap& map, bool ascending,
                            const std::vector<ValueMap::iterator>& wireOrder, size_t n) {
    ValuePairs pairs;
    pairs.reserve(n);
    auto take = [&](ValueMap::iterator it) {
      auto node = map.extract(it);
      pairs.emplace_back(Value(std::move(node.key())), std::move(node.mapped()));
    };
    if (ascending) {
      while (!map.empty()) take(map.begin());
    } else {
      for (auto it : wireOrder) take(it);
    }
    return pairs;
  }

  // Finishes a map as ValuePairs: `firstKey` has been read, its value and `left - 1` more
  // entries follow.
  bool pairsFrom(ValuePairs pairs, Value firstKey, size_t left, int depth, Value& out) {
    pairs.emplace_back(std::move(firstKey), Value());
    --pending_;
    if (!value(pairs.back().second, depth)) return false;
    for (size_t i = 1; i < left; ++i) {
      pairs.emplace_back();
      --pending_;
      if (!value(pairs.back().first, depth)) return false;
      --pending_;
      if (!value(pairs.back().second, depth)) return false;
    }
    out = Value(std::move(pairs));
    return true;
  }

  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  size_t pending_ = 0;
  std::string error_;
};

template <class T>
Decoded<T> failure(const Reader& reader) {
  return Decoded<T>{std::nullopt, reader.error()};
}

}  // namespace

std::vector<uint8_t> encodeMessage(const Value& value) {
  std::vector<uint8_t> out;
  Writer writer(out);
  writer.value(value);
  writer.finish();
  return out;
}

Decoded<Value> decodeMessage(std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  Value value;
  if (!reader.value(value, 0)) return failure<Value>(reader);
  if (!reader.atEnd()) {
    reader.failTrailing();
    return failure<Value>(reader);
  }
  return {std::move(value), {}};
}

std::vector<uint8_t> encodeMethodCall(const MethodCall& call) {
  std::vector<uint8_t> out;
  Writer writer(out);
  writer.string(call.method);
  writer.value(call.arguments);
  writer.finish();
  return out;
}

Decoded<MethodCall> decodeMethodCall(std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  Value name;
  if (!reader.value(name, 0)) return failure<MethodCall>(reader);
  std::string* method = name.getIf<std::string>();
  if (method == nullptr) return {std::nullopt, "the method name is not a string"};
  MethodCall call{std::move(*method), Value()};
  if (!reader.value(call.arguments, 0)) return failure<MethodCall>(reader);
  if (!reader.atEnd()) {
    reader.failTrailing();
    return failure<MethodCall>(reader);
  }
  return {std::move(call), {}};
}

std::vector<uint8_t> encodeSuccessEnvelope(const Value& result) {
  std::vector<uint8_t> out;
  Writer writer(out);
  writer.byte(kEnvelopeSuccess);
  writer.value(result);
  writer.finish();
  return out;
}

std::vector<uint8_t> encodeErrorEnvelope(const std::string& code, const std::string& message,
                                         const Value& details) {
  std::vector<uint8_t> out;
  Writer writer(out);
  writer.byte(kEnvelopeError);
  writer.string(code);
  if (message.empty()) {
    writer.value(Value());
  } else {
    writer.string(message);
  }
  writer.value(details);
  writer.finish();
  return out;
}

Decoded<Envelope> decodeEnvelope(std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  uint8_t kind = 0;
  if (!reader.byte(kind)) return {std::nullopt, "an empty reply is not an envelope"};
  Envelope envelope;
  if (kind == kEnvelopeSuccess) {
    if (!reader.value(envelope.result, 0)) return failure<Envelope>(reader);
  } else if (kind == kEnvelopeError) {
    envelope.success = false;
    Value code;
    Value message;
    if (!reader.value(code, 0)) return failure<Envelope>(reader);
    if (code.getIf<std::string>() == nullptr) return {std::nullopt, "the error code is not a string"};
    if (!reader.value(message, 0)) return failure<Envelope>(reader);
    if (!message.isNull() && message.getIf<std::string>() == nullptr) {
      return {std::nullopt, "the error message is neither a string nor null"};
    }
    if (!reader.value(envelope.details, 0)) return failure<Envelope>(reader);
    envelope.code = std::move(*code.getIf<std::string>());
    if (auto* text = message.getIf<std::string>()) envelope.message = std::move(*text);
  } else {
    return {std::nullopt, "unknown envelope kind " + std::to_string(kind)};
  }
  if (!reader.atEnd()) {
    reader.failTrailing();
    return failure<Envelope>(reader);
  }
  return {std::move(envelope), {}};
}

}  // namespace nimbra
