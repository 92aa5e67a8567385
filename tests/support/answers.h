#pragma once

// Short readers for the answers of operations, failing the test where a key is missing or of
// another type.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/value.h"
#include "host/json/json_parse.h"
#include "host/json/json_text.h"

namespace nimbra::test {

using Paths = std::vector<std::string>;

// The value at `key`, or T{} and a test failure when it is missing or of another type.
template <class T>
T get(const ValueMap& map, const std::string& key) {
  auto found = map.find(key);
  const T* value = found == map.end() ? nullptr : found->second.template getIf<T>();
  EXPECT_NE(value, nullptr) << "no " << key << " of the expected type";
  return value ? *value : T{};
}

inline ValueMap asMap(const Value& value) {
  const ValueMap* map = value.getIf<ValueMap>();
  EXPECT_NE(map, nullptr) << "not a map";
  return map ? *map : ValueMap{};
}

// The string at `key` of every map in `list`.
inline Paths stringsAt(const ValueList& list, const std::string& key) {
  Paths strings;
  for (const Value& item : list) strings.push_back(get<std::string>(asMap(item), key));
  return strings;
}

// The value a JSON text stands for: a fixed answer written as the interface would read it.
inline Value fromJson(std::string_view text) {
  Decoded<Value> value = parseJsonValue(text);
  EXPECT_TRUE(value) << value.error;
  return value ? std::move(*value.value) : Value();
}

}  // namespace nimbra::test
