#pragma once

// The values that travel on the channels: what Flutter's standard codec can carry.
//
// Results, argument bags and events of the service use only null, bool, int64, double,
// string, ValueList and ValueMap (string keys). The remaining alternatives exist so that
// the decoder can read every standard type a client may send (typed arrays, maps whose
// keys are not strings) without losing them; the service treats them as "some other type".

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace nimbra {

class Value;

using ValueList = std::vector<Value>;

// String keys to values, kept as one vector sorted by key. Answers hold hundreds of thousands
// of small maps; a node-based map spends a 32-byte node and an allocation on every entry,
// which made a large answer take seven times its encoded size. Lookups are binary searches;
// inserting in the middle moves the entries after it, which is cheap for the few keys a map
// here has. The interface is the subset of std::map's that the service uses; iterators (and
// pointers to entries) are invalidated by any insertion or erasure.
class ValueMap {
 public:
  using Entry = std::pair<std::string, Value>;
  using iterator = std::vector<Entry>::iterator;
  using const_iterator = std::vector<Entry>::const_iterator;

  ValueMap() = default;
  // A repeated key keeps its first value, as std::map does.
  ValueMap(std::initializer_list<Entry> entries);
  // Takes `entries` in any order. When two share a key, answers nullopt and sets `repeated`
  // to the index of the later one, leaving `entries` as they were.
  static std::optional<ValueMap> fromEntries(std::vector<Entry>&& entries, size_t& repeated);

  // Defined below Value, which they need complete.
  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;
  size_t size() const;
  bool empty() const;
  void clear();

  iterator find(std::string_view key);
  const_iterator find(std::string_view key) const;
  size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }
  bool contains(std::string_view key) const;
  // Throws std::out_of_range for a missing key, as std::map does.
  Value& at(std::string_view key);
  const Value& at(std::string_view key) const;
  Value& operator[](std::string_view key);

  // Inserts when the key is missing; otherwise leaves the map alone. Answers the entry and
  // whether it was inserted.
  template <class... Args>
  std::pair<iterator, bool> try_emplace(std::string key, Args&&... args);
  template <class V>
  std::pair<iterator, bool> emplace(std::string key, V&& value) {
    return try_emplace(std::move(key), std::forward<V>(value));
  }
  std::pair<iterator, bool> insert(Entry entry);
  template <class V>
  std::pair<iterator, bool> insert_or_assign(std::string key, V&& value);
  iterator erase(const_iterator at);
  size_t erase(std::string_view key);

  friend bool operator==(const ValueMap& a, const ValueMap& b);

 private:
  friend class Value;
  iterator lowerBound(std::string_view key);

  std::vector<Entry> entries_;
};
// One value already in the standard codec's bytes, made only by encodePiece
// (channel/standard_codec.h), which also checks that the bytes read the same at any offset of a
// message. An answer of hundreds of thousands of small maps keeps each of them this way as it
// is built: a few bytes over its encoded size instead of a Value tree several times as large.
// The encoder writes the bytes as they are; decoding never makes one.
class EncodedValue {
 public:
  std::span<const uint8_t> bytes() const { return bytes_; }
  friend bool operator==(const EncodedValue&, const EncodedValue&) = default;

 private:
  friend std::optional<EncodedValue> encodePiece(const Value& value);
  explicit EncodedValue(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::vector<uint8_t> bytes_;
};

// A map with at least one key that is not a string, in wire order.
using ValuePairs = std::vector<std::pair<Value, Value>>;
using Bytes = std::vector<uint8_t>;
using Int32List = std::vector<int32_t>;
using Int64List = std::vector<int64_t>;
using Float32List = std::vector<float>;
using Float64List = std::vector<double>;

using ValueVariant =
    std::variant<std::monostate, bool, int64_t, double, std::string, ValueList, ValueMap, Bytes,
                 Int32List, Int64List, Float32List, Float64List, ValuePairs, EncodedValue>;

// A dynamically typed channel value. Regular (copyable, comparable with ==); never throws on
// access: getIf answers nullptr for another type.
//
// Destruction takes nested lists and maps apart with an explicit stack, so a value nested
// thousands deep (the deepest disk usage tree, a hostile frame up to kMaxNestingDepth) is
// destroyed on any thread's stack. Copying and comparing still recurse; the service copies
// no answer.
class Value {
 public:
  Value() = default;
  ~Value() {
    if (holdsNonEmptyContainer()) dismantle();
  }
  Value(const Value&) = default;
  Value(Value&&) = default;
  Value& operator=(const Value&) = default;
  Value& operator=(Value&&) = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int32_t i) : v_(int64_t{i}) {}
  Value(int64_t i) : v_(i) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(ValueList l) : v_(std::move(l)) {}
  Value(ValueMap m) : v_(std::move(m)) {}
  Value(Bytes b) : v_(std::move(b)) {}
  Value(Int32List l) : v_(std::move(l)) {}
  Value(Int64List l) : v_(std::move(l)) {}
  Value(Float32List l) : v_(std::move(l)) {}
  Value(Float64List l) : v_(std::move(l)) {}
  Value(ValuePairs p) : v_(std::move(p)) {}
  Value(EncodedValue e) : v_(std::move(e)) {}
  // Other integer widths would silently pick bool or double; make callers choose.
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, int32_t> &&
           !std::is_same_v<T, int64_t>) Value(T)
  = delete;

  bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
  template <class T>
  const T* getIf() const {
    return std::get_if<T>(&v_);
  }
  template <class T>
  T* getIf() {
    return std::get_if<T>(&v_);
  }
  const ValueVariant& variant() const { return v_; }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  bool holdsNonEmptyContainer() const noexcept;
  // Destroys what this value holds, innermost containers first, without recursion.
  void dismantle() noexcept;
  // Moves one child out of a list, map or map of pairs (the last one), so that the children
  // left are fewer; false when there is none.
  bool takeLastChild(Value& child) noexcept;

  ValueVariant v_;
};

inline ValueMap::iterator ValueMap::begin() { return entries_.begin(); }
inline ValueMap::iterator ValueMap::end() { return entries_.end(); }
inline ValueMap::const_iterator ValueMap::begin() const { return entries_.begin(); }
inline ValueMap::const_iterator ValueMap::end() const { return entries_.end(); }
inline size_t ValueMap::size() const { return entries_.size(); }
inline bool ValueMap::empty() const { return entries_.empty(); }
inline void ValueMap::clear() { entries_.clear(); }
inline bool ValueMap::contains(std::string_view key) const { return find(key) != end(); }
inline Value& ValueMap::operator[](std::string_view key) {
  return try_emplace(std::string(key)).first->second;
}
inline std::pair<ValueMap::iterator, bool> ValueMap::insert(Entry entry) {
  return try_emplace(std::move(entry.first), std::move(entry.second));
}
inline ValueMap::iterator ValueMap::erase(const_iterator at) { return entries_.erase(at); }
inline bool operator==(const ValueMap& a, const ValueMap& b) { return a.entries_ == b.entries_; }

template <class... Args>
std::pair<ValueMap::iterator, bool> ValueMap::try_emplace(std::string key, Args&&... args) {
  // Maps are mostly built in key order: appending needs no search.
  iterator at = entries_.empty() || entries_.back().first < key ? entries_.end() : lowerBound(key);
  if (at != entries_.end() && at->first == key) return {at, false};
  at = entries_.emplace(at, std::piecewise_construct, std::forward_as_tuple(std::move(key)),
                        std::forward_as_tuple(std::forward<Args>(args)...));
  return {at, true};
}

template <class V>
std::pair<ValueMap::iterator, bool> ValueMap::insert_or_assign(std::string key, V&& value) {
  auto [at, inserted] = try_emplace(std::move(key));
  at->second = std::forward<V>(value);
  return {at, inserted};
}

inline bool Value::holdsNonEmptyContainer() const noexcept {
  if (auto* list = std::get_if<ValueList>(&v_)) return !list->empty();
  if (auto* map = std::get_if<ValueMap>(&v_)) return !map->empty();
  if (auto* pairs = std::get_if<ValuePairs>(&v_)) return !pairs->empty();
  return false;
}

// Reads an integer that arrived as int32 or int64 (both decode to int64_t). Nullopt otherwise.
inline std::optional<int64_t> intValue(const Value& v) {
  if (auto* i = v.getIf<int64_t>()) return *i;
  return std::nullopt;
}

}  // namespace nimbra
