#pragma once

#include <optional>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "fileStats": in one walk of `root`, by the disk usage tree's rules (disk_walk.h: hidden
// entries and package contents counted, links never followed, kernel file systems, other
// volumes and /dev left out), the bytes and files by kind (file_kinds.h; a file inside a
// package of a known kind is of the package's kind), by extension (the 30 largest, lower-cased,
// without the dot, "" for none) and by the age of their last change: "month" (under 30 days,
// or in the future), "halfYear" (under 182), "year" (under 365), "twoYears" (under 730),
// "older". Sizes are file lengths, as the tree counts them.
//
// Work queue; blocks for the walk; cancellation is polled once per entry, and a cancelled walk
// answers what it counted. Progress "stats" every 2000th file, forced at the end. Answer:
// {"kinds": [{"kind", "size", "files"}] (all eight), "extensions": [{"ext", "kind", "size",
// "files"}], "ages": [{"age", "size", "files"}] (all five), each largest first, "size",
// "files", "unreadable", "unreadableFolders" (unreadable_answer.h), "cancelled"}.
//
// With `kind`, the same walk also keeps that kind's 400 largest files, counted as the kinds are
// (a file in a package of the kind is one of them): "largest" [{"path", "name", "size", "ext",
// "modified"}] as the large file scan lists them, and "unnamed", those of them whose path is not
// UTF-8. The large file scan does not serve here: it never looks into packages, hidden folders
// or Library, where most of some kinds lives (photo libraries, application bundles).
ValueMap fileStats(OperationContext& context, const std::string& root,
                   const std::optional<std::string>& kind = std::nullopt);

}  // namespace nimbra
