#include "ops/history/folder_changes.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

#include "base/utf8.h"

namespace nimbra {
namespace {

// Folders compared between two polls of the cancellation.
constexpr size_t kFoldersPerPoll = 4096;

struct Figures {
  int64_t size = 0;
  int64_t files = 0;
  bool present = false;
  bool unreadable = false;
};

// A folder of either snapshot, or of both.
struct Folder {
  uint32_t parent = 0;
  std::string_view name;
  Figures before, after;
};

struct Key {
  uint32_t parent;
  std::string_view name;
  friend bool operator==(const Key&, const Key&) = default;
};
struct KeyHash {
  size_t operator()(const Key& key) const {
    return std::hash<std::string_view>()(key.name) ^ (size_t{key.parent} * 0x9E3779B97F4A7C15ull);
  }
};

// The folders of both snapshots in one list, matched by path; a folder always comes after the
// one that holds it (the root is 0).
class Union {
 public:
  Union() : folders_(1) {}

  // Adds one snapshot's folders, figures on the side `side` chooses.
  template <class Side>
  bool add(const std::vector<SnapshotFolder>& snapshot, Side side,
           const std::function<bool()>& cancelled) {
    std::vector<uint32_t> at(snapshot.size());
    // Backwards, post-order is a pre-order: a folder's parent is placed before it.
    for (size_t i = snapshot.size(); i-- > 0;) {
      if (i % kFoldersPerPoll == 0 && cancelled()) return false;
      const SnapshotFolder& folder = snapshot[i];
      const uint32_t index =
          folder.parent == SnapshotFolder::kNoParent ? 0 : placed(at[folder.parent], folder.name);
      at[i] = index;
      side(folders_[index]) = {folder.size, folder.files, true, folder.unreadable};
    }
    return true;
  }
  std::vector<Folder>& folders() { return folders_; }

 private:
  uint32_t placed(uint32_t parent, std::string_view name) {
    auto [found, added] = index_.try_emplace(Key{parent, name}, folders_.size());
    if (added) folders_.push_back(Folder{parent, name, {}, {}});
    return found->second;
  }
  std::vector<Folder> folders_;
  std::unordered_map<Key, uint32_t, KeyHash> index_;
};

struct Change {
  int64_t size = 0;
  int64_t files = 0;
  bool any() const { return size != 0 || files != 0; }
  friend bool operator==(const Change&, const Change&) = default;
};

Change changeOf(const Folder& folder) {
  return {folder.after.size - folder.before.size, folder.after.files - folder.before.files};
}

// A folder whose contents the other snapshot cannot be compared with item by item.
bool standsForItsContents(const Folder& folder) {
  return folder.before.present != folder.after.present || folder.before.unreadable ||
         folder.after.unreadable;
}

std::string pathOf(const std::vector<Folder>& folders, uint32_t index, const std::string& root) {
  std::vector<std::string_view> names;
  for (; index != 0; index = folders[index].parent) names.push_back(folders[index].name);
  std::string path = root == "/" ? "" : root;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    path += '/';
    path += *name;
  }
  return path;
}

}  // namespace

FolderChanges compareSnapshots(const std::string& root, const std::vector<SnapshotFolder>& before,
                               const std::vector<SnapshotFolder>& after, size_t limit,
                               const std::function<bool()>& cancelled) {
  FolderChanges changes;
  Union both;
  if (!both.add(
          before, [](Folder& f) -> Figures& { return f.before; }, cancelled) ||
      !both.add(
          after, [](Folder& f) -> Figures& { return f.after; }, cancelled)) {
    changes.cancelled = true;
    return changes;
  }
  const std::vector<Folder>& folders = both.folders();
  // Parents come first, so one pass settles what is hidden and what is accounted for.
  std::vector<bool> hidden(folders.size()), repeated(folders.size());
  for (size_t i = 1; i < folders.size(); ++i) {
    const uint32_t parent = folders[i].parent;
    hidden[i] = hidden[parent] || standsForItsContents(folders[parent]);
    const Change change = changeOf(folders[i]);
    if (change.any() && change == changeOf(folders[parent])) repeated[parent] = true;
  }
  std::vector<uint32_t> listed;
  for (uint32_t i = 1; i < folders.size(); ++i) {
    if (hidden[i] || !changeOf(folders[i]).any()) continue;
    if (repeated[i] && !standsForItsContents(folders[i])) continue;
    listed.push_back(i);
  }
  std::stable_sort(listed.begin(), listed.end(), [&](uint32_t a, uint32_t b) {
    const Change x = changeOf(folders[a]), y = changeOf(folders[b]);
    if (std::llabs(x.size) != std::llabs(y.size)) return std::llabs(x.size) > std::llabs(y.size);
    return std::llabs(x.files) > std::llabs(y.files);
  });
  for (size_t n = 0; n < listed.size(); ++n) {
    if (changes.listed.size() == limit) {
      changes.more = static_cast<int64_t>(listed.size() - n);
      break;
    }
    const Folder& folder = folders[listed[n]];
    std::string path = pathOf(folders, listed[n], root);
    if (!isValidUtf8(path)) {
      ++changes.unnamed;
      continue;
    }
    changes.listed.push_back({std::move(path), folder.before.size, folder.after.size,
                              folder.before.files, folder.after.files,
                              folder.after.unreadable    ? UnreadableIn::after
                              : folder.before.unreadable ? UnreadableIn::before
                                                         : UnreadableIn::neither});
  }
  return changes;
}

}  // namespace nimbra
