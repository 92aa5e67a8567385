#pragma once

// The disk usage tree that "analyzeDisk" builds and answers.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "channel/nimbra_native.h"
#include "channel/value.h"

namespace nimbra {

// Children shown per node in the answer; the rest are folded into one remainder entry.
inline constexpr int64_t kDiskTreeChildrenShown = 40;

// One folder or file of the tree. A node above the depth limit sums its children; a node at
// the limit sums every file below it; a file node has no children and `files` 1.
struct NimbraNative::Node {
  std::string name;
  std::string path;
  int64_t size = 0;   // logical bytes of the regular files at or below this node
  int64_t files = 0;  // regular files at or below this node
  std::map<std::string, std::shared_ptr<Node>> children;  // by name; owned
  bool isDir = true;  // false only for a regular file

  // The node as the interface sees it: children largest first, at most `limit` of them,
  // then one "…" entry (with "isOther") summing those left out when that sum is not 0. A
  // child whose path is not UTF-8 is never shown; its bytes go to that remainder.
  ValueMap dict(int64_t limit) const;
};

// The folders the disk usage walk never enters, whatever its root: other volumes, the swap
// files and the device folder. Compared with the paths of entries, never with the root.
bool isPrunedFromDiskTree(std::string_view path);

}  // namespace nimbra
