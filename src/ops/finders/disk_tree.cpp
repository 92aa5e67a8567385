#include "ops/finders/disk_tree.h"

#include <algorithm>
#include <cstring>

#include "base/utf8.h"

namespace nimbra {
namespace {

// U+2026 HORIZONTAL ELLIPSIS.
constexpr const char* kRemainderName = "\xE2\x80\xA6";
// The names are kept in chunks of this size (a longer name gets a chunk of its own).
constexpr size_t kTextChunk = 256 * 1024;

ValueMap remainderMap(int64_t size, int64_t modified) {
  return ValueMap{{"name", kRemainderName},  {"path", ""},           {"size", size},
                  {"files", int64_t{0}},     {"modified", modified}, {"isDir", false},
                  {"children", ValueList{}}, {"isOther", true}};
}

std::string childPath(const std::string& parent, std::string_view name) {
  std::string path = parent == "/" ? "" : parent;
  path += '/';
  path += name;
  return path;
}

}  // namespace

// One node whose map is being built: its path, its children in the order shown, the next one
// to look at, and the maps of those shown so far.
struct DiskTree::NodeInProgress {
  NodeId id;
  std::string path;
  std::vector<NodeId> sorted;
  size_t next = 0;
  ValueList shown;
  int64_t remainder = 0;
  int64_t remainderModified = 0;
};

DiskTree::DiskTree(std::string path, std::string name) : rootPath_(std::move(path)) {
  nodes_.push_back(Node{keep(name), static_cast<uint32_t>(name.size())});
}

const char* DiskTree::keep(std::string_view name) {
  if (name.size() > textLeft_) {
    const size_t size = std::max(kTextChunk, name.size());
    text_.push_back(std::make_unique<char[]>(size));
    textAt_ = text_.back().get();
    textLeft_ = size;
  }
  char* kept = textAt_;
  if (!name.empty()) std::memcpy(kept, name.data(), name.size());
  textAt_ += name.size();
  textLeft_ -= name.size();
  return kept;
}

DiskTree::NodeId DiskTree::addChild(NodeId parent, std::string_view name, bool isDir) {
  const auto id = static_cast<NodeId>(nodes_.size());
  Node child{keep(name), static_cast<uint32_t>(name.size())};
  child.isDir = isDir;
  // The children's order is of no matter: the answer sorts them.
  child.nextSibling = nodes_[parent].firstChild;
  nodes_.push_back(child);
  nodes_[parent].firstChild = id;
  return id;
}

void DiskTree::addFile(NodeId node, int64_t size, int64_t modified) {
  Node& counted = nodes_[node];
  counted.size += size;
  counted.files += 1;
  counted.modified = std::max(counted.modified, modified);
}

ValueMap DiskTree::toValue(int64_t limit) const {
  const auto start = [this](NodeId id, std::string path) {
    NodeInProgress step{id, std::move(path), {}, 0, {}, 0, 0};
    for (NodeId child = nodes_[id].firstChild; child != kNone; child = nodes_[child].nextSibling)
      step.sorted.push_back(child);
    std::sort(step.sorted.begin(), step.sorted.end(), [this](NodeId a, NodeId b) {
      const Node& x = nodes_[a];
      const Node& y = nodes_[b];
      return x.size != y.size ? x.size > y.size : x.nameView() < y.nameView();
    });
    return step;
  };
  const auto finish = [this](NodeInProgress& step) {
    const Node& node = nodes_[step.id];
    if (step.remainder >= 1)
      step.shown.push_back(remainderMap(step.remainder, step.remainderModified));
    ValueMap map{{"name", std::string(node.nameView())},
                 {"path", std::move(step.path)},
                 {"size", node.size},
                 {"files", node.files},
                 {"modified", node.modified},
                 {"isDir", node.isDir}};
    map.emplace("children", std::move(step.shown));  // moved, not copied as a literal would be
    return map;
  };

  std::vector<NodeInProgress> open;
  open.push_back(start(kRoot, rootPath_));
  while (true) {
    NodeInProgress& top = open.back();
    if (top.next < top.sorted.size()) {
      const NodeId child = top.sorted[top.next++];
      std::string path = childPath(top.path, nodes_[child].nameView());
      if (static_cast<int64_t>(top.shown.size()) < limit && isValidUtf8(path)) {
        open.push_back(start(child, std::move(path)));
      } else {
        top.remainder += nodes_[child].size;
        top.remainderModified = std::max(top.remainderModified, nodes_[child].modified);
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
