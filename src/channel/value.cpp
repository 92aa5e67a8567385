#include "channel/value.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <stdexcept>

namespace nimbra {

ValueMap::ValueMap(std::initializer_list<Entry> entries) : entries_(entries) {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return a.first < b.first; });
  entries_.erase(std::unique(entries_.begin(), entries_.end(),
                             [](const Entry& a, const Entry& b) { return a.first == b.first; }),
                 entries_.end());
}

std::optional<ValueMap> ValueMap::fromEntries(std::vector<Entry>&& entries, size_t& repeated) {
  ValueMap map;
  const auto ascending =
      std::adjacent_find(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return !(a.first < b.first); });
  if (ascending == entries.end()) {
    map.entries_ = std::move(entries);
    return map;
  }
  // Out of order: sort positions by key, so that a repeat can be named by where it came.
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return entries[a].first < entries[b].first; });
  repeated = entries.size();
  for (size_t i = 1; i < order.size(); ++i) {
    // Stable: within equal keys the positions ascend, so order[i] is a later repeat.
    if (entries[order[i]].first == entries[order[i - 1]].first)
      repeated = std::min(repeated, order[i]);
  }
  if (repeated != entries.size()) return std::nullopt;
  map.entries_.reserve(entries.size());
  for (size_t i : order) map.entries_.push_back(std::move(entries[i]));
  return map;
}

ValueMap::iterator ValueMap::lowerBound(std::string_view key) {
  return std::lower_bound(entries_.begin(), entries_.end(), key,
                          [](const Entry& entry, std::string_view k) { return entry.first < k; });
}

ValueMap::iterator ValueMap::find(std::string_view key) {
  const iterator at = lowerBound(key);
  return at != entries_.end() && at->first == key ? at : entries_.end();
}

ValueMap::const_iterator ValueMap::find(std::string_view key) const {
  return const_cast<ValueMap*>(this)->find(key);
}

Value& ValueMap::at(std::string_view key) {
  const iterator found = find(key);
  if (found == end()) throw std::out_of_range("no key \"" + std::string(key) + "\" in the map");
  return found->second;
}

const Value& ValueMap::at(std::string_view key) const {
  return const_cast<ValueMap*>(this)->at(key);
}

size_t ValueMap::erase(std::string_view key) {
  const iterator found = find(key);
  if (found == end()) return 0;
  entries_.erase(found);
  return 1;
}

void Value::dismantle() noexcept {
  // `open` holds the containers being taken apart, each below the one before it. A child is
  // destroyed at once when it holds no children of its own, or is moved onto the stack, so
  // no destructor ever meets a non-empty container below it. Memory stays bounded by the
  // depth, and each container is freed as soon as it is empty.
  std::vector<Value> open;
  open.push_back(std::move(*this));
  while (!open.empty()) {
    Value child;
    if (!open.back().takeLastChild(child)) {
      open.pop_back();
    } else if (child.holdsNonEmptyContainer()) {
      open.push_back(std::move(child));
    }
  }
}

bool Value::takeLastChild(Value& child) noexcept {
  if (auto* list = std::get_if<ValueList>(&v_); list && !list->empty()) {
    child = std::move(list->back());
    list->pop_back();
    return true;
  }
  if (auto* map = std::get_if<ValueMap>(&v_); map && !map->empty()) {
    child = std::move(map->entries_.back().second);
    map->entries_.pop_back();
    return true;
  }
  if (auto* pairs = std::get_if<ValuePairs>(&v_); pairs && !pairs->empty()) {
    auto& [key, item] = pairs->back();
    if (item.holdsNonEmptyContainer()) {
      child = std::move(item);
      item = Value();
    } else if (key.holdsNonEmptyContainer()) {
      child = std::move(key);
      key = Value();
    } else {
      pairs->pop_back();
    }
    return true;
  }
  return false;
}

}  // namespace nimbra
