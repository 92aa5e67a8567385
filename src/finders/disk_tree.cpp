#include "finders/disk_tree.h"

#include <algorithm>
#include <vector>

#include "platform/utf8.h"

namespace nimbra {
namespace {

// U+2026 HORIZONTAL ELLIPSIS.
constexpr const char* kRemainderName = "\xE2\x80\xA6";

ValueMap remainderMap(int64_t size) {
  return ValueMap{{"name", kRemainderName}, {"path", ""},         {"size", size},
                  {"files", int64_t{0}},    {"isDir", false},     {"children", ValueList{}},
                  {"isOther", true}};
}

}  // namespace

ValueMap NimbraNative::Node::dict(int64_t limit) const {
  std::vector<const Node*> sorted;
  sorted.reserve(children.size());
  for (const auto& [childName, child] : children) sorted.push_back(child.get());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Node* a, const Node* b) { return a->size > b->size; });

  ValueList shown;
  int64_t remainder = 0;
  for (const Node* child : sorted) {
    if (static_cast<int64_t>(shown.size()) < limit && isValidUtf8(child->path)) {
      shown.push_back(child->dict(limit));
    } else {
      remainder += child->size;
    }
  }
  if (remainder >= 1) shown.push_back(remainderMap(remainder));
  // Built entry by entry: an initializer list would copy the whole subtree at every level.
  ValueMap map{{"name", name}, {"path", path}, {"size", size}, {"files", files}, {"isDir", isDir}};
  map.emplace("children", std::move(shown));
  return map;
}

}  // namespace nimbra
