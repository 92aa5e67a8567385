// JSON text out of channel values, and straight out of standard codec bytes. Both walk nested
// lists and maps with explicit stacks: the deepest answer costs no stack of its own.

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/utf8.h"
#include "channel/codec_types.h"
#include "host/json/json_text.h"

namespace nimbra {
namespace {

using json = nlohmann::json;

void appendInteger(std::string& out, int64_t i) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, i).ptr);
}

// Shortest round-trip digits, with ".0" on integral values, as nlohmann writes them; NaN and
// the infinities as null, as JSON.stringify does.
void appendDouble(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  out += json(d).dump();
}

template <class T>
void appendNumbers(std::string& out, const T* numbers, size_t count) {
  out += '[';
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    if constexpr (std::is_floating_point_v<T>) {
      appendDouble(out, numbers[i]);
    } else {
      appendInteger(out, numbers[i]);
    }
  }
  out += ']';
}

template <class T>
void appendNumbers(std::string& out, const std::vector<T>& numbers) {
  appendNumbers(out, numbers.data(), numbers.size());
}

// Typed list elements from the wire, which need not be aligned in memory.
template <class T>
void appendWireNumbers(std::string& out, std::span<const uint8_t> bytes, size_t count) {
  std::vector<T> numbers(count);
  if (count > 0) std::memcpy(numbers.data(), bytes.data(), count * sizeof(T));
  appendNumbers(out, numbers);
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text, JsonControls controls) {
  if (!isValidUtf8(text)) {
    appendJsonString(out, replaceInvalidUtf8(text), controls);
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  const bool shortForms = controls == JsonControls::shortForms;
  out += '"';
  size_t plain = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool control = c < 0x20 || (!shortForms && c == 0x7F);
    if (!control && c != '"' && c != '\\') continue;
    out.append(text.data() + plain, i - plain);
    plain = i + 1;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      continue;
    }
    // Five control characters have short forms: \b \f \n \r \t.
    static constexpr std::string_view kShort = "\b\f\n\r\t", kShortLetters = "bfnrt";
    const size_t shortForm =
        shortForms ? kShort.find(static_cast<char>(c)) : std::string_view::npos;
    if (shortForm != std::string_view::npos) {
      out += '\\';
      out += kShortLetters[shortForm];
      continue;
    }
    out += "\\u00";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  out.append(text.data() + plain, text.size() - plain);
  out += '"';
}

namespace {

// --- From a Value ---

class ValuePrinter {
 public:
  explicit ValuePrinter(std::string& out) : out_(out) {}

  void print(const Value& value) {
    const Value* next = &value;
    while (true) {
      if (next) std::visit([&](const auto& x) { scalarOrOpen(x); }, next->variant());
      if (open_.empty()) return;
      next = step(open_.back());
      if (!next) open_.pop_back();
    }
  }

 private:
  struct Open {
    const ValueList* list = nullptr;
    const ValueMap* map = nullptr;
    const ValuePairs* pairs = nullptr;
    size_t index = 0;
    ValueMap::const_iterator entry{};
  };

  void scalarOrOpen(std::monostate) { out_ += "null"; }
  void scalarOrOpen(bool b) { out_ += b ? "true" : "false"; }
  void scalarOrOpen(int64_t i) { appendInteger(out_, i); }
  void scalarOrOpen(double d) { appendDouble(out_, d); }
  void scalarOrOpen(const std::string& s) { appendJsonString(out_, s); }
  void scalarOrOpen(const Bytes& b) { appendNumbers(out_, b); }
  void scalarOrOpen(const Int32List& l) { appendNumbers(out_, l); }
  void scalarOrOpen(const Int64List& l) { appendNumbers(out_, l); }
  void scalarOrOpen(const Float32List& l) { appendNumbers(out_, l); }
  void scalarOrOpen(const Float64List& l) { appendNumbers(out_, l); }
  void scalarOrOpen(const ValueList& list) {
    out_ += '[';
    open_.push_back(Open{.list = &list});
  }
  void scalarOrOpen(const ValueMap& map) {
    out_ += '{';
    open_.push_back(Open{.map = &map, .entry = map.begin()});
  }
  void scalarOrOpen(const ValuePairs& pairs) {
    out_ += '[';
    open_.push_back(Open{.pairs = &pairs});
  }
  // Decoded values hold no encoded pieces, so this goes one level deep at most.
  void scalarOrOpen(const EncodedValue& piece) {
    Decoded<Value> decoded = decodeMessage(piece.bytes());
    ValuePrinter(out_).print(decoded ? *decoded.value : Value());
  }

  // Writes what comes before the next element of `top` and answers it; at the end, closes
  // `top` and answers nullptr.
  const Value* step(Open& top) {
    const size_t i = top.index++;
    if (top.list && i < top.list->size()) {
      if (i > 0) out_ += ',';
      return &(*top.list)[i];
    }
    if (top.map && top.entry != top.map->end()) {
      if (i > 0) out_ += ',';
      appendJsonString(out_, top.entry->first);
      out_ += ':';
      return &(top.entry++)->second;
    }
    if (top.pairs && i < 2 * top.pairs->size()) {
      // [[key, value], ...]: an object could not hold keys that are not strings.
      const auto& pair = (*top.pairs)[i / 2];
      if (i % 2 == 1) {
        out_ += ',';
        return &pair.second;
      }
      out_ += i == 0 ? "[" : "],[";
      return &pair.first;
    }
    if (top.pairs && !top.pairs->empty()) out_ += ']';
    out_ += top.map ? '}' : ']';
    return nullptr;
  }

  std::string& out_;
  std::vector<Open> open_;
};

// --- From codec bytes ---

enum class Transcoded { done, failed, notPlain, notWritten };

// Text is handed to the sink in pieces of about this size, so a large answer is never held
// as text beside its bytes.
constexpr size_t kPieceSize = 64 * 1024;

// Writes the next value the reader holds as JSON text. Maps must have string keys in strictly
// ascending order, as our own encoder writes every ValueMap; anything else (keys that are not
// strings, or out of order, which a ValueMap would sort) answers notPlain and the caller goes
// through a Value instead, so both routes always give the same text.
//
// With a sink, the text goes to it piece by piece and `out` holds at most one piece; without,
// it all stays in `out`.
Transcoded transcode(CodecReader& reader, std::string& out, const TextSink* sink) {
  using Kind = CodecToken::Kind;
  struct Open {
    bool isMap;
    bool any = false;
    bool keyNext = true;
    std::string_view lastKey{};
  };
  std::vector<Open> open;
  CodecToken token;
  do {
    if (!reader.next(token)) return Transcoded::failed;
    if (token.kind == Kind::end) {
      out += open.back().isMap ? '}' : ']';
      open.pop_back();
      continue;  // ends the loop at the last one: the caller hands the rest on
    }
    if (!open.empty()) {
      Open& top = open.back();
      if (top.isMap && top.keyNext) {
        if (token.kind != Kind::string || token.type != codec::kString) return Transcoded::notPlain;
        if (top.any && !(top.lastKey < token.text)) return Transcoded::notPlain;
        if (top.any) out += ',';
        appendJsonString(out, token.text);
        out += ':';
        top.any = true;
        top.keyNext = false;
        top.lastKey = token.text;
        continue;
      }
      if (top.isMap) {
        top.keyNext = true;
      } else {
        if (top.any) out += ',';
        top.any = true;
      }
    }
    switch (token.kind) {
      case Kind::null: out += "null"; break;
      case Kind::boolean: out += token.boolean ? "true" : "false"; break;
      case Kind::integer: appendInteger(out, token.integer); break;
      case Kind::float64: appendDouble(out, token.float64); break;
      case Kind::string: appendJsonString(out, token.text); break;
      case Kind::typedList:
        switch (token.type) {
          case codec::kUint8List: appendNumbers(out, token.elements.data(), token.count); break;
          case codec::kInt32List:
            appendWireNumbers<int32_t>(out, token.elements, token.count);
            break;
          case codec::kInt64List:
            appendWireNumbers<int64_t>(out, token.elements, token.count);
            break;
          case codec::kFloat32List:
            appendWireNumbers<float>(out, token.elements, token.count);
            break;
          default: appendWireNumbers<double>(out, token.elements, token.count); break;
        }
        break;
      case Kind::list:
        out += '[';
        open.push_back(Open{false});
        break;
      case Kind::map:
        out += '{';
        open.push_back(Open{true});
        break;
      case Kind::end: break;
    }
    if (sink && out.size() >= kPieceSize) {
      if (!(*sink)(out)) return Transcoded::notWritten;
      out.clear();
    }
  } while (!open.empty());
  return Transcoded::done;
}

}  // namespace

std::string toJsonText(const Value& value) {
  std::string out;
  ValuePrinter(out).print(value);
  return out;
}

json toJson(const Value& value) { return json::parse(toJsonText(value)); }

Decoded<std::string> successAsJsonText(std::span<const uint8_t> reply) {
  std::string text;
  Decoded<bool> written = writeSuccessAsJson(reply, "", [&](std::string_view piece) {
    text += piece;
    return true;
  });
  if (!written) return {std::nullopt, std::move(written.error)};
  return {std::move(text), {}};
}

Decoded<bool> writeSuccessAsJson(std::span<const uint8_t> reply, std::string_view prefix,
                                 const TextSink& write) {
  // Twice through the bytes: first only to check them (the text goes nowhere), so that
  // nothing is written for a reply that turns out not to decode.
  const TextSink discard = [](std::string_view) { return true; };
  for (const TextSink* sink : {&discard, &write}) {
    CodecReader reader(reply);
    uint8_t kind = 0;
    if (!reader.byte(kind) || kind != 0) return {std::nullopt, "not a success envelope"};
    std::string text(sink == &write ? prefix : std::string_view());
    switch (transcode(reader, text, sink)) {
      case Transcoded::failed: return {std::nullopt, reader.error()};
      case Transcoded::notWritten: return {false, {}};
      case Transcoded::notPlain: {
        Decoded<Envelope> envelope = decodeEnvelope(reply);
        if (!envelope) return {std::nullopt, envelope.error};
        return {write(std::string(prefix) + toJsonText(envelope.value->result)), {}};
      }
      case Transcoded::done: break;
    }
    if (!reader.atEnd()) {
      reader.failTrailing();
      return {std::nullopt, reader.error()};
    }
    if (sink == &write) return {write(text), {}};
  }
  return {true, {}};
}

}  // namespace nimbra
