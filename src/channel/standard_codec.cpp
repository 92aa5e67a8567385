#include "channel/standard_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <deque>
#include <type_traits>
#include <utility>

#include "base/utf8.h"
#include "channel/codec_reader.h"
#include "channel/codec_types.h"

namespace nimbra {
namespace {

using namespace codec;

// Numbers are copied with memcpy in host order, which is the wire order on every machine we
// build for. A big-endian port would need byte swaps in Writer::scalar and CodecReader.
static_assert(std::endian::native == std::endian::little);

constexpr uint8_t kEnvelopeSuccess = 0;
constexpr uint8_t kEnvelopeError = 1;

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

  // Whether anything written was aligned (a double, a typed list of wider numbers): such
  // bytes read correctly only at the offset they were written for.
  bool wroteAligned() const { return aligned_; }

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
    aligned_ = true;
    const size_t misalignment = used_ % alignment;
    if (misalignment != 0) room(alignment - misalignment);
  }

  void string(const std::string& s) {
    if (isValidUtf8(s)) {
      validString(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    } else {
      const std::string repaired = replaceInvalidUtf8(s);
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

  // Writes `v` and everything in it in wire order. Lists and maps are entered with an explicit
  // stack, not by recursion, so a value nested thousands deep needs no stack of its own.
  void value(const Value& v) {
    std::vector<Open> open;
    const Value* next = &v;
    while (true) {
      if (next) {
        std::visit([&](const auto& x) { write(x, open); }, next->variant());
        next = nullptr;
      }
      if (open.empty()) return;
      Open& top = open.back();
      if (top.list && top.index < top.list->size()) {
        next = &(*top.list)[top.index++];
      } else if (top.map && top.entry != top.map->end()) {
        string(top.entry->first);
        next = &top.entry->second;
        ++top.entry;
      } else if (top.pairs && top.index < 2 * top.pairs->size()) {
        const auto& pair = (*top.pairs)[top.index / 2];
        next = top.index % 2 == 0 ? &pair.first : &pair.second;
        ++top.index;
      } else {
        open.pop_back();
      }
    }
  }

 private:
  // A list or map whose elements are being written; exactly one of the pointers is set.
  struct Open {
    const ValueList* list = nullptr;
    const ValueMap* map = nullptr;
    const ValuePairs* pairs = nullptr;
    size_t index = 0;  // pairs: two steps per entry, key then value
    ValueMap::const_iterator entry{};
  };

  // Scalars and typed lists are written whole; lists and maps only their header, their
  // elements follow from value()'s loop.
  template <class T>
  void write(const T& x, std::vector<Open>&) {
    write(x);
  }
  void write(const ValueList& list, std::vector<Open>& open) {
    byte(kList);
    size(list.size());
    open.push_back(Open{.list = &list});
  }
  void write(const ValueMap& map, std::vector<Open>& open) {
    byte(kMap);
    size(map.size());
    open.push_back(Open{.map = &map, .entry = map.begin()});
  }
  void write(const ValuePairs& pairs, std::vector<Open>& open) {
    byte(kMap);
    size(pairs.size());
    open.push_back(Open{.pairs = &pairs});
  }
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
  void write(const Bytes& b) { typedList(kUint8List, b); }
  void write(const Int32List& l) { typedList(kInt32List, l); }
  void write(const Int64List& l) { typedList(kInt64List, l); }
  void write(const Float32List& l) { typedList(kFloat32List, l); }
  void write(const Float64List& l) { typedList(kFloat64List, l); }
  void write(const EncodedValue& e) { bytes(e.bytes().data(), e.bytes().size()); }

  // Where the next n bytes go. Kept small so it inlines into every write; growing, rare,
  // stays out of line.
  uint8_t* room(size_t n) {
    if (out_.size() - used_ < n) [[unlikely]]
      grow(n);
    uint8_t* at = out_.data() + used_;
    used_ += n;
    return at;
  }

  [[gnu::noinline]] void grow(size_t n) { out_.resize(std::max(out_.size() * 2, used_ + n)); }

  // Most answers are small; larger ones grow the buffer geometrically.
  static constexpr size_t kInitialRoom = 256;

  std::vector<uint8_t>& out_;
  size_t used_;
  bool aligned_ = false;
};

// ---------------------------------------------------------------------------------------
// Decoding

// Builds one value from a reader's tokens, with an explicit stack of the lists and maps being
// filled. Stops after the first error; the caller looks at nothing it built.
class ValueBuilder {
 public:
  explicit ValueBuilder(CodecReader& reader) : reader_(reader) {}

  bool value(Value& out) {
    CodecToken token;
    do {
      if (!reader_.next(token)) return false;
      if (token.kind == CodecToken::Kind::end) {
        if (!close()) return false;
        continue;
      }
      if (!open_.empty() && open_.back().kind == Open::Kind::map && open_.back().keyNext) {
        if (token.kind == CodecToken::Kind::string) {
          if (!addKey(open_.back(), token)) return false;
          continue;
        }
        toPairs(open_.back());
      }
      take(token, slotFor(out));
    } while (!open_.empty());
    return true;
  }

 private:
  // A list or map being filled. Held in a deque, so that pointers into the containers of the
  // ones below stay valid while more are opened.
  struct Open {
    enum class Kind { list, map, pairs } kind;
    Value* slot;  // where the finished container goes
    size_t count;
    ValueList list{};
    // A map's entries in wire order, each with its key's offset: sorted into a ValueMap when
    // it ends (our own encoder writes keys in order, so that costs one pass), or turned into
    // ValuePairs in this order when a key is not a string.
    std::vector<ValueMap::Entry> entries{};
    std::vector<size_t> keyOffsets{};
    ValuePairs pairs{};
    size_t filled = 0;  // list elements, or halves of pairs (key, value) read so far
    bool keyNext = true;
  };

  Value* slotFor(Value& out) {
    if (open_.empty()) return &out;
    Open& top = open_.back();
    switch (top.kind) {
      case Open::Kind::list: return &top.list[top.filled++];
      case Open::Kind::map: top.keyNext = true; return &top.entries.back().second;
      case Open::Kind::pairs:
        if (top.filled++ % 2 == 0) {
          top.pairs.emplace_back();
          return &top.pairs.back().first;
        }
        return &top.pairs.back().second;
    }
    return &out;
  }

  void take(const CodecToken& token, Value* slot) {
    using Kind = CodecToken::Kind;
    switch (token.kind) {
      case Kind::null: *slot = Value(); return;
      case Kind::boolean: *slot = Value(token.boolean); return;
      case Kind::integer: *slot = Value(token.integer); return;
      case Kind::float64: *slot = Value(token.float64); return;
      case Kind::string: *slot = Value(std::string(token.text)); return;
      case Kind::typedList: *slot = typedList(token); return;
      case Kind::list:
        open_.push_back(Open{.kind = Open::Kind::list, .slot = slot, .count = token.count});
        // The reader has checked that the input holds at least one byte per element.
        open_.back().list.resize(token.count);
        return;
      case Kind::map:
        open_.push_back(Open{.kind = Open::Kind::map, .slot = slot, .count = token.count});
        // Reserved, so the slot of the value being read never moves.
        open_.back().entries.reserve(token.count);
        open_.back().keyOffsets.reserve(token.count);
        return;
      case Kind::end: return;
    }
  }

  static Value typedList(const CodecToken& token) {
    switch (token.type) {
      case kUint8List: return Value(Bytes(token.elements.begin(), token.elements.end()));
      case kInt32List: return Value(elements<int32_t>(token));
      case kInt64List: return Value(elements<int64_t>(token));
      case kFloat32List: return Value(elements<float>(token));
      default: return Value(elements<double>(token));
    }
  }

  template <class T>
  static std::vector<T> elements(const CodecToken& token) {
    std::vector<T> list(token.count);
    // An empty vector's data() may be null, which memcpy must never see.
    if (token.count > 0) std::memcpy(list.data(), token.elements.data(), token.count * sizeof(T));
    return list;
  }

  bool addKey(Open& top, const CodecToken& token) {
    // A repeat of the key just before is caught at once; others when the map ends.
    if (!top.entries.empty() && top.entries.back().first == token.text)
      return failRepeated(token.offset);
    top.entries.emplace_back(std::string(token.text), Value());
    top.keyOffsets.push_back(token.offset);
    top.keyNext = false;
    return true;
  }

  // A repeated key is an error: one entry would otherwise be silently dropped.
  bool failRepeated(size_t offset) {
    return reader_.fail("repeated map key at offset " + std::to_string(offset));
  }

  // A key that is not a string: the map becomes ValuePairs, the entries read so far first.
  static void toPairs(Open& top) {
    top.pairs.reserve(top.count);
    for (auto& [key, item] : top.entries)
      top.pairs.emplace_back(Value(std::move(key)), std::move(item));
    top.entries = {};
    top.filled = 2 * top.pairs.size();
    top.kind = Open::Kind::pairs;
  }

  bool close() {
    Open& top = open_.back();
    switch (top.kind) {
      case Open::Kind::list: *top.slot = Value(std::move(top.list)); break;
      case Open::Kind::map: {
        size_t repeated = 0;
        std::optional<ValueMap> map = ValueMap::fromEntries(std::move(top.entries), repeated);
        if (!map) return failRepeated(top.keyOffsets[repeated]);
        *top.slot = Value(std::move(*map));
        break;
      }
      case Open::Kind::pairs: *top.slot = Value(std::move(top.pairs)); break;
    }
    open_.pop_back();
    return true;
  }

  CodecReader& reader_;
  std::deque<Open> open_;
};

bool readValue(CodecReader& reader, Value& out) { return ValueBuilder(reader).value(out); }

template <class T>
Decoded<T> failure(const CodecReader& reader) {
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

std::optional<EncodedValue> encodePiece(const Value& value) {
  std::vector<uint8_t> out;
  Writer writer(out);
  writer.value(value);
  writer.finish();
  if (writer.wroteAligned()) return std::nullopt;
  out.shrink_to_fit();  // kept by the hundred thousand: no spare room each
  return EncodedValue(std::move(out));
}

Decoded<Value> decodeMessage(std::span<const uint8_t> bytes) {
  CodecReader reader(bytes);
  Value value;
  if (!readValue(reader, value)) return failure<Value>(reader);
  if (!reader.atEnd()) {
    reader.failTrailing();
    return failure<Value>(reader);
  }
  return {std::move(value), {}};
}

void appendByteArrayHeader(std::vector<uint8_t>& message, size_t n) {
  message.push_back(kUint8List);
  if (n < kSize16) {
    message.push_back(static_cast<uint8_t>(n));
  } else {
    const size_t width = n <= 0xFFFF ? 2 : 4;
    message.push_back(width == 2 ? kSize16 : kSize32);
    for (size_t i = 0; i < width; ++i) message.push_back(static_cast<uint8_t>(n >> (8 * i)));
  }
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
  CodecReader reader(bytes);
  Value name;
  if (!readValue(reader, name)) return failure<MethodCall>(reader);
  std::string* method = name.getIf<std::string>();
  if (method == nullptr) return {std::nullopt, "the method name is not a string"};
  MethodCall call{std::move(*method), Value()};
  if (!readValue(reader, call.arguments)) return failure<MethodCall>(reader);
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
  CodecReader reader(bytes);
  uint8_t kind = 0;
  if (!reader.byte(kind)) return {std::nullopt, "an empty reply is not an envelope"};
  Envelope envelope;
  if (kind == kEnvelopeSuccess) {
    if (!readValue(reader, envelope.result)) return failure<Envelope>(reader);
  } else if (kind == kEnvelopeError) {
    envelope.success = false;
    Value code;
    Value message;
    if (!readValue(reader, code)) return failure<Envelope>(reader);
    if (code.getIf<std::string>() == nullptr)
      return {std::nullopt, "the error code is not a string"};
    if (!readValue(reader, message)) return failure<Envelope>(reader);
    if (!message.isNull() && message.getIf<std::string>() == nullptr) {
      return {std::nullopt, "the error message is neither a string nor null"};
    }
    if (!readValue(reader, envelope.details)) return failure<Envelope>(reader);
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
