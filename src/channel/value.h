#pragma once

// The values that travel on the channels: what Flutter's standard codec can carry.
//
// Results, argument bags and events of the service use only null, bool, int64, double,
// string, ValueList and ValueMap (string keys). The remaining alternatives exist so that
// the decoder can read every standard type a client may send (typed arrays, maps whose
// keys are not strings) without losing them; the service treats them as "some other type".

#include <cstdint>
#include <map>
#include <optional>
#include <type_traits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace nimbra {

class Value;

using ValueList = std::vector<Value>;
using ValueMap = std::map<std::string, Value>;
// A map with at least one key that is not a string, in wire order.
using ValuePairs = std::vector<std::pair<Value, Value>>;
using Bytes = std::vector<uint8_t>;
using Int32List = std::vector<int32_t>;
using Int64List = std::vector<int64_t>;
using Float32List = std::vector<float>;
using Float64List = std::vector<double>;

using ValueVariant = std::variant<std::monostate, bool, int64_t, double, std::string, ValueList,
                                  ValueMap, Bytes, Int32List, Int64List, Float32List,
                                  Float64List, ValuePairs>;

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
  // Other integer widths would silently pick bool or double; make callers choose.
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, int32_t> &&
             !std::is_same_v<T, int64_t>)
  Value(T) = delete;

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
