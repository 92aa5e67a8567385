#include "ops/finders/analyze_disk.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_times.h"
#include "ops/finders/disk_tree.h"
#include "ops/history/record_snapshot.h"
#include "ops/history/snapshot_sink.h"
#include "ops/unreadable_answer.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "disk";
// Progress is offered on every this-many regular files.
constexpr int64_t kProgressEvery = 2000;

// The root node's name: the root's last path component, or the root itself when it has none
// ("/").
std::string rootName(const std::string& root) {
  size_t end = root.find_last_not_of('/');
  if (end == std::string::npos) return root;
  size_t start = root.rfind('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return root.substr(start, end + 1 - start);
}

// The folders from the root down to the entry being walked, as far as the depth limit; each
// gets its node only when the first file below it arrives, so folders holding no file never
// appear in the tree.
struct OpenFolder {
  std::string name;
  std::optional<DiskTree::NodeId> node;
};

// The tree as a sink of the disk walk: each regular file adds to the nodes of its first `depth`
// path components.
class DiskTreeSink final : public DiskWalkSink {
 public:
  DiskTreeSink(OperationContext& context, DiskTree& tree, int64_t depth)
      : context_(context), tree_(tree), depth_(depth) {}

  bool take(const WalkEntry& entry) override {
    // Inside a pruned folder that another sink has the walk enter.
    if (prunedDepth_ && entry.depth() > *prunedDepth_) return false;
    prunedDepth_.reset();
    if (entry.isSymlink()) return false;  // never followed, never counted
    if (isOtherVolumeOrDevices(entry)) {
      prunedDepth_ = entry.depth();
      return false;
    }
    const int entryDepth = entry.depth();
    if (entry.isDirectory()) {
      if (entryDepth <= depth_) {
        folders_.resize(static_cast<size_t>(entryDepth - 1));
        folders_.push_back(OpenFolder{std::string(entry.name()), std::nullopt});
      }
      return true;
    }
    if (!entry.isRegular()) return false;
    const struct stat* info = entry.stat();
    if (!info || !S_ISREG(info->st_mode)) return false;

    const int64_t size = info->st_size;
    const int64_t modified = wholeSeconds(info->st_mtim);
    ++scanned_;
    tree_.addFile(DiskTree::kRoot, size, modified);
    // The file adds to each node on its first `depth` path components; within the limit it
    // becomes a leaf of its own.
    DiskTree::NodeId current = DiskTree::kRoot;
    const int64_t levels = std::min<int64_t>(entryDepth, depth_);
    for (int64_t i = 0; i < levels; ++i) {
      if (i == entryDepth - 1) {
        current = tree_.addChild(current, entry.name(), false);
      } else {
        // Walked in pre-order, so every folder above the file has been seen.
        OpenFolder& folder = folders_[static_cast<size_t>(i)];
        if (!folder.node) folder.node = tree_.addChild(current, folder.name, true);
        current = *folder.node;
      }
      tree_.addFile(current, size, modified);
    }
    if (scanned_ % kProgressEvery == 0)
      context_.progress.offer(kTask, entry.path(), scanned_, tree_.size(DiskTree::kRoot), false);
    return false;
  }

  int64_t scanned() const { return scanned_; }

 private:
  OperationContext& context_;
  DiskTree& tree_;
  const int64_t depth_;
  int64_t scanned_ = 0;
  std::vector<OpenFolder> folders_;  // folders_[i] is at depth i + 1
  std::optional<int> prunedDepth_;
};

}  // namespace

ValueMap analyzeDisk(OperationContext& context, const std::string& root, int64_t askedDepth,
                     bool record, std::span<DiskWalkSink* const> alsoFeed) {
  DiskTree tree(root, rootName(root));
  DiskTreeSink treeSink(context, tree, std::min(askedDepth, kMaxDiskTreeDepth));
  std::vector<DiskWalkSink*> sinks{&treeSink};
  SnapshotSink snapshotSink;
  if (record) sinks.push_back(&snapshotSink);
  sinks.insert(sinks.end(), alsoFeed.begin(), alsoFeed.end());
  UnreadableFolders unreadable;
  const DiskWalkEnd end = walkDisk(
      root, sinks, [&context] { return context.isCancelled(); }, &unreadable);
  if (end == DiskWalkEnd::notAFolder) return tree.toValue(kDiskTreeChildrenShown);
  context.progress.offer(kTask, "", treeSink.scanned(), tree.size(DiskTree::kRoot), true);
  ValueMap answer = tree.toValue(kDiskTreeChildrenShown);
  answer["cancelled"] = context.isCancelled();
  answer["scanned"] = treeSink.scanned();
  addUnreadable(answer, unreadable);
  if (record) recordSnapshot(context, root, snapshotSink, end == DiskWalkEnd::finished, answer);
  return answer;
}

}  // namespace nimbra
