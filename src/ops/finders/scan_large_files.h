#pragma once

#include <cstdint>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "scanLargeFiles": the 400 largest regular files of at least `minSize` bytes below `root`, by
// the finders' walk (finder_walk.h; "Library" pruned at the home folder's top only), largest
// first and equal sizes in walk order. One of them whose path is not UTF-8 counts but is not
// listed: "unnamed" says how many.
//
// Work queue; blocks for the walk; cancellation is polled once per entry, and a cancelled scan
// answers what it found. Progress "large" every 500th file, forced at the end. Answer: {"items":
// [{"path", "name", "size", "ext", "modified"}], "scanned": files seen, "matched": files of at
// least `minSize` (the list holds the largest of them), "unnamed", "cancelled", and what it
// could not read ("unreadable", "unreadableFolders": unreadable_answer.h)}; a root that is no
// folder answers {"items": [], "scanned": 0} and what it could not read, with no progress.
ValueMap scanLargeFiles(OperationContext& context, const std::string& root, int64_t minSize);

}  // namespace nimbra
