#include "ops/finders/disk_tree.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "base/utf8.h"

namespace nimbra {
namespace {

// U+2026 HORIZONTAL ELLIPSIS.
constexpr const char* kRemainderName = "\xE2\x80\xA6";

ValueMap remainderMap(int64_t size) {
  return ValueMap{{"name", kRemainderName}, {"path", ""},     {"size", size},
                  {"files", int64_t{0}},    {"isDir", false}, {"children", ValueList{}},
                  {"isOther", true}};
}

// One node whose map is being built: its children in the order shown, the next one to look
// at, and the maps of those shown so far.
struct NodeInProgress {
  const Node* node;
  std::vector<const Node*> sorted;
  size_t next = 0;
  ValueList shown;
  int64_t remainder = 0;
};

NodeInProgress start(const Node& node) {
  NodeInProgress step{&node, {}, 0, {}, 0};
  step.sorted.reserve(node.children.size());
  for (const auto& [childName, child] : node.children) step.sorted.push_back(child.get());
  std::stable_sort(step.sorted.begin(), step.sorted.end(),
                   [](const auto* a, const auto* b) { return a->size > b->size; });
  return step;
}

ValueMap finish(NodeInProgress& step) {
  const Node& node = *step.node;
  if (step.remainder >= 1) step.shown.push_back(remainderMap(step.remainder));
  ValueMap map{{"name", node.name},
               {"path", node.path},
               {"size", node.size},
               {"files", node.files},
               {"isDir", node.isDir}};
  map.emplace("children", std::move(step.shown));  // moved, not copied as a literal would be
  return map;
}

}  // namespace

bool isOutsideDiskTree(const WalkEntry& entry) {
  // Only these last components can match, so most entries never build their path.
  std::string_view name = entry.name();
  if (name != "Volumes" && name != "vm" && name != "dev") return false;
  static constexpr std::array<std::string_view, 4> kPrunedPaths = {"/System/Volumes", "/Volumes",
                                                                   "/private/var/vm", "/dev"};
  return std::find(kPrunedPaths.begin(), kPrunedPaths.end(), entry.path()) != kPrunedPaths.end();
}

Node::~Node() {
  // Innermost first: each node on `open` hands its children over one by one, and a node is
  // destroyed only once it has none left, so no destructor ever runs deeper than one level.
  std::vector<std::unique_ptr<Node>> open;
  while (true) {
    Node& top = open.empty() ? *this : *open.back();
    if (top.children.empty()) {
      if (open.empty()) return;
      open.pop_back();
      continue;
    }
    auto last = std::prev(top.children.end());
    std::unique_ptr<Node> child = std::move(last->second);
    top.children.erase(last);
    if (child) open.push_back(std::move(child));
  }
}

ValueMap Node::toValue(int64_t limit) const {
  std::vector<NodeInProgress> open;
  open.push_back(start(*this));
  while (true) {
    NodeInProgress& top = open.back();
    if (top.next < top.sorted.size()) {
      const Node* child = top.sorted[top.next++];
      if (static_cast<int64_t>(top.shown.size()) < limit && isValidUtf8(child->path)) {
        open.push_back(start(*child));
      } else {
        top.remainder += child->size;
      }
      continue;
    }
    ValueMap map = finish(top);
    open.pop_back();
    if (open.empty()) return map;
    open.back().shown.push_back(std::move(map));
  }
}

}  // namespace nimbra
