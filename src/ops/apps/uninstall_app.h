#pragma once

#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "uninstallApp": an application with its leftovers, the leftovers only once the application
// is gone. The applications among `paths` (names ending in ".app", as listApps finds them) go
// first, by item deletion with the administrator fallback (delete_items.h); only when every one
// of them is gone do the other paths go, the same way. While an application stands, nothing
// else is touched: its leftovers would be lost and the application left without them. A call
// naming no application removes every path at once, as "deleteItems" does.
//
// Work queue; blocks for the removals and each administrator step (one for the applications,
// one for the leftovers, each only when needed). Progress "delete" per path, forced at the end.
// Answer: as deleteItems; the paths left untouched are in "failed", and "error" says why.
ValueMap uninstallApp(OperationContext& context, const std::vector<std::string>& paths,
                      bool toTrash);

}  // namespace nimbra
