#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/finders/disk_walk.h"
#include "platform/formats/snapshot_tree.h"

namespace nimbra {

// The disk walk's sink that records a snapshot: the size and file count of every folder below
// the root at every depth, and of the root, counted as the disk usage tree counts them (links,
// and the folders the tree never takes in, count nothing), with the folders the walk could not
// read marked. It keeps one entry per open folder and writes each folder's record once the
// walk has left it, so its memory is the tree's bytes (about 25 a folder) and the depth.
class SnapshotSink final : public DiskWalkSink {
 public:
  void begin(const std::string& root) override;
  bool take(const WalkEntry& entry) override;
  void end(bool complete) override;
  void unreadable(const UnreadableFolder& folder) override;

  // After a complete walk: every folder in post-order, the root last with the totals.
  const SnapshotTreeWriter& tree() const { return tree_; }
  int64_t size() const { return size_; }
  int64_t files() const { return files_; }
  int64_t unreadableFolders() const { return unreadable_; }

 private:
  struct OpenFolder {
    size_t pathBefore = 0;  // path_'s length before this folder's name was added
    size_t nameAt = 0;      // where its name starts in path_
    int64_t size = 0;
    int64_t files = 0;
    bool unreadable = false;
  };
  // Writes the records of the open folders at `depth` and deeper.
  void closeFrom(size_t depth);

  std::vector<OpenFolder> open_;  // open_[0] is the root, open_[d] at depth d
  std::string path_;              // of the innermost open folder, spelled as the walk spells it
  SnapshotTreeWriter tree_;
  std::optional<int> prunedDepth_;
  int64_t size_ = 0;
  int64_t files_ = 0;
  int64_t unreadable_ = 0;
};

}  // namespace nimbra
