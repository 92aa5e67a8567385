// Feeds arbitrary bytes to the reader of the history's snapshot trees (a history file is the
// user's to change). Whatever reads must be a tree: every folder's parent comes after it, the
// root last, and the folders written again read back as a tree of as many folders.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/formats/snapshot_tree.h"

namespace {

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "snapshot tree fault: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nimbra;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto folders = readSnapshotTree(bytes);
  if (!folders) return 0;
  // Each folder's depth, found from its parents; the root's is 0.
  std::vector<int64_t> depth(folders->size());
  SnapshotTreeWriter again;
  for (size_t i = folders->size(); i-- > 0;) {
    const SnapshotFolder& folder = (*folders)[i];
    if (folder.parent == SnapshotFolder::kNoParent) {
      if (i + 1 != folders->size()) fault("a root before the end");
      continue;
    }
    if (folder.parent <= i || folder.parent >= folders->size()) fault("a parent before its folder");
    depth[i] = depth[folder.parent] + 1;
  }
  for (size_t i = 0; i < folders->size(); ++i) {
    const SnapshotFolder& folder = (*folders)[i];
    again.add(depth[i], folder.name, folder.size, folder.files, folder.unreadable);
  }
  // A varint may be written longer than needed; the shortest form reads back the same.
  const auto reread = readSnapshotTree(again.bytes());
  if (!reread || reread->size() != folders->size()) fault("a tree written again does not read");
  return 0;
}
