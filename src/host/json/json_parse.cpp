#include "host/json/json_parse.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace nimbra {
namespace {

using json = nlohmann::json;

constexpr uint64_t kInt64Max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

std::string nestingError() {
  return "arrays and objects nested deeper than " + std::to_string(kMaxNestingDepth);
}

// nlohmann's messages start with an internal tag ("[json.exception.parse_error.101] ") that
// means nothing to a person typing arguments.
std::string withoutTag(const char* what) {
  std::string text(what);
  if (!text.empty() && text.front() == '[') {
    const size_t end = text.find("] ");
    if (end != std::string::npos) text.erase(0, end + 2);
  }
  return text;
}

// Builds a Value straight from the parser's events. Seeing the number's own text is what
// lets an integer literal beyond int64 be told from a double written with an exponent.
class ValueBuilder {
 public:
  std::string error;
  Value root;

  bool null() { return add(Value()); }
  bool boolean(bool b) { return add(Value(b)); }
  bool number_integer(json::number_integer_t i) { return add(Value(int64_t{i})); }
  bool number_unsigned(json::number_unsigned_t u) {
    if (u > kInt64Max) return fail("integer " + std::to_string(u) + " is outside the 64-bit range");
    return add(Value(static_cast<int64_t>(u)));
  }
  bool number_float(json::number_float_t d, const json::string_t& text) {
    if (text.find_first_of(".eE") == std::string::npos) {
      return fail("integer " + text + " is outside the 64-bit range");
    }
    return add(Value(d));  // nlohmann has already refused numbers beyond a double's range
  }
  bool string(json::string_t& s) { return add(Value(std::move(s))); }
  bool binary(json::binary_t& b) { return add(Value(Bytes(b.begin(), b.end()))); }

  bool start_object(std::size_t) { return open(true); }
  bool key(json::string_t& k) {
    frames_.back().key = std::move(k);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t) { return open(false); }
  bool end_array() { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    return fail(withoutTag(e.what()));
  }

 private:
  struct Frame {
    bool isObject;
    ValueList list;
    // In the text's order; sorted once, when the object ends, rather than on every key.
    std::vector<ValueMap::Entry> entries;
    std::string key;
  };

  bool fail(std::string why) {
    if (error.empty()) error = std::move(why);
    return false;
  }

  bool open(bool isObject) {
    if (frames_.size() >= static_cast<size_t>(kMaxNestingDepth)) return fail(nestingError());
    frames_.push_back(Frame{isObject, {}, {}, {}});
    return true;
  }

  bool close() {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    if (!frame.isObject) return add(Value(std::move(frame.list)));
    size_t repeated = 0;
    std::optional<ValueMap> map = ValueMap::fromEntries(std::move(frame.entries), repeated);
    if (!map) return fail("repeated key \"" + frame.entries[repeated].first + "\" in an object");
    return add(Value(std::move(*map)));
  }

  bool add(Value v) {
    if (frames_.empty()) {
      root = std::move(v);
      return true;
    }
    Frame& top = frames_.back();
    if (!top.isObject) {
      top.list.push_back(std::move(v));
      return true;
    }
    top.entries.emplace_back(std::move(top.key), std::move(v));
    return true;
  }

  std::vector<Frame> frames_;
};

}  // namespace

Decoded<Value> parseJsonValue(std::string_view text) {
  ValueBuilder builder;
  bool ok = false;
  try {
    ok = json::sax_parse(text.begin(), text.end(), &builder);
  } catch (const json::exception& e) {
    // The SAX parser reports syntax through parse_error; this guards the rest of nlohmann.
    builder.error = withoutTag(e.what());
  }
  if (!ok) {
    return {std::nullopt, builder.error.empty() ? "not a JSON value" : std::move(builder.error)};
  }
  return {std::move(builder.root), {}};
}

}  // namespace nimbra
