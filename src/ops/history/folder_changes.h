#pragma once

// How the folders below one root changed between two of its snapshots. A folder is listed when
// its size or its file count changed, a folder that appeared counting 0 before and one that
// vanished 0 after, except:
//  - a folder one of whose own folders changed by exactly as much (bytes and files): that one
//    says where the change is, and the folders above it would only repeat it;
//  - a folder inside one that appeared or vanished: that one stands for everything in it;
//  - a folder inside one the walk could not read in either snapshot: nothing is known of what
//    it held then, so nothing in it is said to have appeared or vanished. The unreadable folder
//    itself is listed, marked, when its figures differ.
// Largest change of bytes first (then of files, then in the order met), at most `limit`; a path
// that is not UTF-8 is counted apart, never listed.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/formats/snapshot_tree.h"

namespace nimbra {

enum class UnreadableIn { neither, before, after };

struct FolderChange {
  std::string path;
  int64_t before = 0, after = 0;
  int64_t filesBefore = 0, filesAfter = 0;
  UnreadableIn unreadable = UnreadableIn::neither;
  friend bool operator==(const FolderChange&, const FolderChange&) = default;
};

struct FolderChanges {
  std::vector<FolderChange> listed;
  int64_t more = 0;     // changes beyond the limit
  int64_t unnamed = 0;  // changes whose path is not UTF-8
  bool cancelled = false;
};

// Compares the folders of two snapshots of `root` (as readSnapshotTree reads them). Polls
// `cancelled` every few thousand folders; a cancelled comparison lists nothing.
FolderChanges compareSnapshots(const std::string& root, const std::vector<SnapshotFolder>& before,
                               const std::vector<SnapshotFolder>& after, size_t limit,
                               const std::function<bool()>& cancelled);

}  // namespace nimbra
