#pragma once

#include <optional>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "diskHistory": the snapshots of the folder `path` (trailing slashes aside), or of every
// folder when nullopt, newest first (in the order they were recorded): {"snapshots": [{"id",
// "takenAt", "size", "files", "unreadable"}], "unnamed", "error", "cancelled"}; listing every
// folder, each snapshot also has "path", and the folders whose path is not UTF-8 are left out
// and counted in "unnamed". No history yet: no snapshots. "error" says why the history could
// not be read ("" when it was); "historyMovedAside" when it was broken (history_access.h).
//
// Work queue; blocking; the reading stops when cancelled.
ValueMap diskHistory(OperationContext& context, const std::optional<std::string>& path);

}  // namespace nimbra
