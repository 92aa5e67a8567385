#include "support/codec_vectors.h"

#include <charconv>
#include <fstream>
#include <stdexcept>
#include <string>

namespace nimbra::test {
namespace {

[[noreturn]] void unknown(const Json& notation) {
  throw std::invalid_argument("no value notation: " + notation.dump());
}

// int64 values are decimal text: JSON numbers lose digits beyond 2^53 in JavaScript.
int64_t int64FromDecimal(const Json& text) {
  const std::string digits = text.get<std::string>();
  int64_t n = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (error != std::errc() || end != digits.data() + digits.size()) unknown(text);
  return n;
}

Value mapFromNotation(const Json& entries) {
  ValuePairs pairs;
  for (const Json& pair : entries)
    pairs.emplace_back(valueFromNotation(pair.at(0)), valueFromNotation(pair.at(1)));
  std::vector<ValueMap::Entry> stringKeyed;
  for (auto& [key, item] : pairs) {
    if (!key.getIf<std::string>()) return Value(std::move(pairs));
    stringKeyed.emplace_back(*key.getIf<std::string>(), item);
  }
  size_t repeated = 0;
  std::optional<ValueMap> map = ValueMap::fromEntries(std::move(stringKeyed), repeated);
  if (!map) unknown(entries);
  return Value(std::move(*map));
}

}  // namespace

Json loadCodecVectors(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Json::parse(in);
}

std::vector<uint8_t> bytesFromHex(const std::string& hex) {
  if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
    throw std::invalid_argument("bad hex: " + hex);
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Value valueFromNotation(const Json& notation) {
  if (notation.is_null()) return Value();
  if (notation.is_boolean()) return Value(notation.get<bool>());
  if (notation.is_string()) return Value(notation.get<std::string>());
  if (notation.is_array()) {
    ValueList list;
    for (const Json& element : notation) list.push_back(valueFromNotation(element));
    return Value(std::move(list));
  }
  if (!notation.is_object() || notation.size() != 1) unknown(notation);
  const std::string& kind = notation.begin().key();
  const Json& content = notation.begin().value();
  if (kind == "int32") return Value(int64_t{content.get<int32_t>()});
  if (kind == "int64") return Value(int64FromDecimal(content));
  if (kind == "float64") return Value(content.get<double>());
  if (kind == "bytes") return Value(bytesFromHex(content));
  if (kind == "int32s") return Value(content.get<Int32List>());
  if (kind == "float32s") return Value(content.get<Float32List>());
  if (kind == "float64s") return Value(content.get<Float64List>());
  if (kind == "int64s") {
    Int64List list;
    for (const Json& item : content) list.push_back(int64FromDecimal(item));
    return Value(std::move(list));
  }
  if (kind == "map") return mapFromNotation(content);
  unknown(notation);
}

}  // namespace nimbra::test
