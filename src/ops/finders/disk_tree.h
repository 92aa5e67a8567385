#pragma once

// The disk usage tree that "analyzeDisk" builds and answers. Lean, since a deep tree holds a
// node for every file: a node keeps its name once, in the tree's own text, and no path (paths
// are made as the answer is written); nodes live in one chunked store, linked to their first
// child and next sibling by number. About 48 bytes and the name a node.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "channel/value.h"

namespace nimbra {

// Children shown per node in the answer; the rest are folded into one remainder entry.
inline constexpr int64_t kDiskTreeChildrenShown = 40;

// The deepest level the tree ever has, whatever depth is asked for: files further down add up
// into their folder at this level, as they do at the asked-for depth. A path the kernel takes
// by name (PATH_MAX, 4096 bytes) holds at most 2048 levels, so real trees stay above it; a
// deeper chain built with *at calls gets a tree that every layer carrying the answer handles
// (it nests 2 x 2048 + 2 deep, within kMaxNestingDepth), on any thread's stack.
inline constexpr int64_t kMaxDiskTreeDepth = 2048;

class DiskTree {
 public:
  using NodeId = uint32_t;
  static constexpr NodeId kRoot = 0;

  // The root folder, named `name`, at `path`.
  DiskTree(std::string path, std::string name);
  DiskTree(const DiskTree&) = delete;
  DiskTree& operator=(const DiskTree&) = delete;

  // A new child of `parent`: a folder, or a regular file (a leaf). Names within one folder are
  // the walk's, so never twice the same.
  NodeId addChild(NodeId parent, std::string_view name, bool isDir);
  // One more regular file of `size` bytes, last changed at `modified` (seconds since 1970), at
  // or below `node`.
  void addFile(NodeId node, int64_t size, int64_t modified);
  int64_t size(NodeId node) const { return nodes_[node].size; }

  // The tree as the interface sees it: each node {"name", "path", "size", "files", "modified"
  // (the newest change of a file at or below it, 0 for none), "isDir", "children"}, children
  // largest first (equal sizes by name), at most `limit` of them, then one "…" entry (with
  // "isOther") summing those left out, and the newest of their changes, when that sum is not 0. A
  // child whose path is not UTF-8 is never shown; its bytes go to that remainder. Built with an
  // explicit stack of the nodes under way, never by recursion.
  ValueMap toValue(int64_t limit) const;

 private:
  static constexpr NodeId kNone = UINT32_MAX;
  struct Node {
    const char* name;
    uint32_t nameLength;
    NodeId firstChild = kNone;
    NodeId nextSibling = kNone;
    bool isDir = true;
    int64_t size = 0;      // logical bytes of the regular files at or below this node
    int64_t files = 0;     // regular files at or below this node
    int64_t modified = 0;  // the newest modification time of those files
    std::string_view nameView() const { return {name, nameLength}; }
  };
  struct NodeInProgress;

  // Keeps `name` for the life of the tree.
  const char* keep(std::string_view name);

  std::string rootPath_;
  std::deque<Node> nodes_;
  std::vector<std::unique_ptr<char[]>> text_;  // the names, in chunks that never move
  size_t textLeft_ = 0;
  char* textAt_ = nullptr;
};

}  // namespace nimbra
