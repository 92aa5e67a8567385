#pragma once

#include <cstdint>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "scanDuplicates": the sets of regular files of at least `minSize` bytes below `root` with
// identical content, by the finders' walk (finder_walk.h; every "Library" pruned), found in
// stages: by size, by the digest of the first 64 KiB, then by comparing the rest window by
// window (duplicate_stages.h, duplicate_compare.h). Sets by wasted bytes, largest first; each
// set's files by path. A file with several names (hard links) takes part once, by the first
// name the walk meets: its other names are no copies, though each counts in "scanned". A path
// that is not UTF-8 counts as a copy but is not listed: its set's "unnamed" says how many of its
// copies are not listed (a set may list one path, or none), the answer's "unnamed" all of them.
//
// Work queue; blocks for the walk and the reads; cancellation is polled once per entry of the
// walk, between size buckets and sets, and before each compared window; a cancelled scan answers
// the sets finished. Progress "dupes" every 500th candidate of the walk (bytes 0), then once per
// bucket (count buckets done, bytes wasted so far), forced at the end. Answer: {"groups":
// [{"size", "hash", "wasted", "unnamed", "files": [{"path", "name", "size", "modified"}]}],
// "scanned", "wasted", "unnamed", "cancelled", and what it could not read ("unreadable",
// "unreadableFolders": unreadable_answer.h)}; a root that is no folder answers {"groups": [],
// "scanned": 0} and what it could not read.
ValueMap scanDuplicates(OperationContext& context, const std::string& root, int64_t minSize);

}  // namespace nimbra
