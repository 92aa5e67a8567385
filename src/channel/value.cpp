#include "channel/value.h"

#include <iterator>

namespace nimbra {

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
    child = std::move(map->extract(std::prev(map->end())).mapped());
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
