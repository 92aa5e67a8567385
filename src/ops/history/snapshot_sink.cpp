#include "ops/history/snapshot_sink.h"

#include <sys/stat.h>

#include "base/path_parts.h"
#include "ops/finders/disk_walk.h"

namespace nimbra {

void SnapshotSink::begin(const std::string& root) {
  path_ = root;
  open_.assign(1, OpenFolder{0, root.size()});
}

bool SnapshotSink::take(const WalkEntry& entry) {
  // Inside a pruned folder that another sink has the walk enter.
  if (prunedDepth_ && entry.depth() > *prunedDepth_) return false;
  prunedDepth_.reset();
  closeFrom(static_cast<size_t>(entry.depth()));
  if (entry.isSymlink()) return false;
  if (isOtherVolumeOrDevices(entry)) {
    prunedDepth_ = entry.depth();
    return false;
  }
  if (entry.isDirectory()) {
    OpenFolder folder{path_.size()};
    if (path_.empty() || path_.back() != '/') path_ += '/';
    folder.nameAt = path_.size();
    path_ += entry.name();
    open_.push_back(folder);
    return true;
  }
  if (!entry.isRegular()) return false;
  const struct stat* info = entry.stat();
  if (!info || !S_ISREG(info->st_mode)) return false;
  open_.back().size += info->st_size;
  open_.back().files += 1;
  return false;
}

void SnapshotSink::closeFrom(size_t depth) {
  while (open_.size() > depth && open_.size() > 1) {
    const OpenFolder folder = open_.back();
    open_.pop_back();
    tree_.add(static_cast<int64_t>(open_.size()), std::string_view(path_).substr(folder.nameAt),
              folder.size, folder.files, folder.unreadable);
    open_.back().size += folder.size;
    open_.back().files += folder.files;
    path_.resize(folder.pathBefore);
  }
}

void SnapshotSink::end(bool complete) {
  if (!complete || open_.empty()) return;
  closeFrom(1);
  const OpenFolder& root = open_.front();
  tree_.add(0, "", root.size, root.files, root.unreadable);
  size_ = root.size;
  files_ = root.files;
  open_.clear();
}

void SnapshotSink::unreadable(const UnreadableFolder& folder) {
  ++unreadable_;
  // The folder is one still open: the root, or one the walk was entering or listing.
  const std::string wanted = withoutTrailingSlashes(folder.path);
  for (size_t i = open_.size(); i-- > 0;) {
    const size_t end = i + 1 < open_.size() ? open_[i + 1].pathBefore : path_.size();
    if (withoutTrailingSlashes(path_.substr(0, end)) == wanted) {
      open_[i].unreadable = true;
      return;
    }
  }
}

}  // namespace nimbra
