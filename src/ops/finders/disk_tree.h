#pragma once

// The disk usage tree that "analyzeDisk" builds and answers.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "channel/value.h"
#include "platform/fs/dir_walker.h"

namespace nimbra {

// Children shown per node in the answer; the rest are folded into one remainder entry.
inline constexpr int64_t kDiskTreeChildrenShown = 40;

// The deepest level the tree ever has, whatever depth is asked for: files further down add up
// into their folder at this level, as they do at the asked-for depth. A path the kernel takes
// by name (PATH_MAX, 4096 bytes) holds at most 2048 levels, so real trees stay above it; a
// deeper chain built with *at calls gets a tree that every layer carrying the answer handles
// (it nests 2 x 2048 + 2 deep, within kMaxNestingDepth), on any thread's stack.
inline constexpr int64_t kMaxDiskTreeDepth = 2048;

// Whether the walk's entry is one of the folders the tree never takes in, whatever its root:
// other volumes, the swap files and the device folder (/System/Volumes, /Volumes,
// /private/var/vm, /dev). Compared with the paths of entries, never with the root.
bool isOutsideDiskTree(const WalkEntry& entry);

// One folder or file of the tree. A node above the depth limit sums its children; a node at
// the limit sums every file below it; a file node has no children and `files` 1.
struct Node {
  Node() = default;
  // Takes the subtree apart without recursion: a tree may be kMaxDiskTreeDepth deep.
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  std::string name;
  std::string path;
  int64_t size = 0;   // logical bytes of the regular files at or below this node
  int64_t files = 0;  // regular files at or below this node
  std::map<std::string, std::unique_ptr<Node>> children;  // by name
  bool isDir = true;                                      // false only for a regular file

  // The node as the interface sees it: children largest first, at most `limit` of them,
  // then one "…" entry (with "isOther") summing those left out when that sum is not 0. A
  // child whose path is not UTF-8 is never shown; its bytes go to that remainder. Built with
  // an explicit stack of the nodes under way, never by recursion.
  ValueMap toValue(int64_t limit) const;
};

}  // namespace nimbra
