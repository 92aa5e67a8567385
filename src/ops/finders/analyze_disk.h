#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "channel/value.h"
#include "ops/finders/disk_walk.h"
#include "ops/operation_context.h"

namespace nimbra {

// "analyzeDisk": the disk usage tree of `root` to `depth` levels (at most kMaxDiskTreeDepth), by
// the disk walk (disk_walk.h), which the tree has skip other volumes, the swap files and the
// device folder (/System/Volumes, /Volumes, /private/var/vm, /dev, met below the root). Links
// count nothing; a file within the depth is a leaf of its own, deeper files add up into their
// folder at the last level; folders without a file are left out. `alsoFeed` are further sinks
// of the same walk, such as the host's ncdu export.
//
// Work queue; blocks for the walk; cancellation is polled once per entry, and a cancelled tree
// keeps what it found. Progress "disk" every 2000th regular file, forced at the end. Answer: the
// root node (DiskTree::toValue: "name", "path", "size", "files", "modified", "isDir", "children",
// forty shown and one remainder) with "cancelled", "scanned" and what it could not read
// ("unreadable", "unreadableFolders": unreadable_answer.h); a root that is no folder answers its
// empty node alone, with no progress.
//
// With `record`, the same walk also records every folder below the root, at every depth, in
// the disk usage history, unless it is cancelled; the answer then has "snapshot" and
// "recordError" (record_snapshot.h).
ValueMap analyzeDisk(OperationContext& context, const std::string& root, int64_t depth,
                     bool record = false, std::span<DiskWalkSink* const> alsoFeed = {});

}  // namespace nimbra
