#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "service/nimbra_native.h"
#include "ops/finders/disk_tree.h"
#include "platform/fs/dir_walker.h"

namespace nimbra {
namespace {


constexpr const char* kTask = "disk";
// Progress is offered on every this-many regular files.
constexpr int64_t kProgressEvery = 2000;

bool isPrunedPath(const WalkEntry& entry) {
  // Only these last components can match, so most entries never build their path.
  std::string_view name = entry.name();
  if (name != "Volumes" && name != "vm" && name != "dev") return false;
  return isPrunedFromDiskTree(entry.path());
}

// The root node's name: the root's last path component, or the root itself when it has none
// ("/").
std::string rootName(const std::string& root) {
  size_t end = root.find_last_not_of('/');
  if (end == std::string::npos) return root;
  size_t start = root.rfind('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return root.substr(start, end + 1 - start);
}

std::string childPath(const Node& parent, std::string_view name) {
  std::string path = parent.path == "/" ? "" : parent.path;
  path += '/';
  path += name;
  return path;
}

Node& childOf(Node& parent, std::string_view name, bool isDir) {
  auto [it, inserted] = parent.children.try_emplace(std::string(name));
  if (inserted) {
    it->second = std::make_unique<Node>();
    it->second->name = it->first;
    it->second->path = childPath(parent, name);
    it->second->isDir = isDir;
  }
  return *it->second;
}

// The folders from the root down to the entry being walked, as far as the depth limit; each
// gets its node only when the first file below it arrives, so folders holding no file never
// appear in the tree.
struct OpenFolder {
  std::string name;
  Node* node = nullptr;
};

}  // namespace

bool isPrunedFromDiskTree(std::string_view path) {
  static constexpr std::array<std::string_view, 4> kPrunedPaths = {
      "/System/Volumes", "/Volumes", "/private/var/vm", "/dev"};
  return std::find(kPrunedPaths.begin(), kPrunedPaths.end(), path) != kPrunedPaths.end();
}

ValueMap NimbraNative::analyzeDisk(const std::string& root, int64_t askedDepth) {
  const int64_t depth = std::min(askedDepth, kMaxDiskTreeDepth);
  Node tree;
  tree.name = rootName(root);
  tree.path = root;
  tree.isDir = true;

  DirWalker walker(root, WalkOptions{});
  if (!walker.ok()) return tree.toValue(kDiskTreeChildrenShown);

  int64_t scanned = 0;
  std::vector<OpenFolder> folders;  // folders[i] is at depth i + 1
  while (const WalkEntry* entry = walker.next()) {
    if (isCancelled()) break;
    if (entry->isSymlink()) continue;  // never followed, never counted
    if (isPrunedPath(*entry)) {
      walker.skipDescendants();
      continue;
    }
    const int entryDepth = entry->depth();
    if (entry->isDirectory()) {
      if (entryDepth <= depth) {
        folders.resize(static_cast<size_t>(entryDepth - 1));
        folders.push_back(OpenFolder{std::string(entry->name()), nullptr});
      }
      continue;
    }
    if (!entry->isRegular()) continue;
    const struct stat* info = entry->stat();
    if (!info || !S_ISREG(info->st_mode)) continue;

    const int64_t size = info->st_size;
    ++scanned;
    tree.size += size;
    tree.files += 1;
    // The file adds to each node on its first `depth` path components; within the limit it
    // becomes a leaf of its own.
    Node* current = &tree;
    const int64_t levels = std::min<int64_t>(entryDepth, depth);
    for (int64_t i = 0; i < levels; ++i) {
      if (i == entryDepth - 1) {
        current = &childOf(*current, entry->name(), false);
      } else {
        // Walked in pre-order, so every folder above the file has been seen.
        OpenFolder& folder = folders[static_cast<size_t>(i)];
        if (!folder.node) folder.node = &childOf(*current, folder.name, true);
        current = folder.node;
      }
      current->size += size;
      current->files += 1;
    }
    if (scanned % kProgressEvery == 0) progress(kTask, entry->path(), scanned, tree.size, false);
  }

  progress(kTask, "", scanned, tree.size, true);
  ValueMap answer = tree.toValue(kDiskTreeChildrenShown);
  answer["cancelled"] = isCancelled();
  answer["scanned"] = scanned;
  return answer;
}

}  // namespace nimbra
