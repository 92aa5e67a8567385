#pragma once

// The folders of one disk usage snapshot as the history keeps them: every folder below the
// root, and the root, with its size, its file count and whether it could be read, in one
// compact byte string. Folders come in post-order (each after everything inside it, the root
// last), each as
//   varint (depth << 1 | unreadable), varint name length, name, varint size, varint files
// with LEB128 varints: about 25 bytes a folder, a tenth of what a row a folder costs in the
// database. Post-order because a folder's figures are known only once the walk has left it, so
// the writer appends as the walk goes and never goes back.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

class SnapshotTreeWriter {
 public:
  // The next folder in post-order: `depth` 1 for a folder directly in the root, 0 for the
  // root itself (last, with an empty name). Sizes and counts are never negative.
  void add(int64_t depth, std::string_view name, int64_t size, int64_t files, bool unreadable);
  const std::string& bytes() const { return bytes_; }
  int64_t folders() const { return folders_; }

 private:
  std::string bytes_;
  int64_t folders_ = 0;
};

struct SnapshotFolder {
  static constexpr uint32_t kNoParent = UINT32_MAX;
  uint32_t parent = kNoParent;  // index of the folder that holds it; kNoParent for the root
  std::string_view name;        // a view into the bytes read
  int64_t size = 0;
  int64_t files = 0;
  bool unreadable = false;
};

// The folders of `bytes` in post-order, the root last, each with the index of its parent; the
// views point into `bytes`. Nullopt when the bytes are no such tree: cut short, a varint
// beyond 63 bits, a name that is empty or holds "/" (the root's excepted), a folder that skips
// a level, anything but exactly one root at the end. Reading is bounded by the bytes.
std::optional<std::vector<SnapshotFolder>> readSnapshotTree(std::string_view bytes);

}  // namespace nimbra
