#pragma once

#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "appLeftovers": the entries of the home folder's and the library folder's support folders
// (Application Support, Caches, Preferences, Logs, Containers ...) whose names match the
// application (leftover_terms.h), folder by folder, the user's first, each measured and named
// from "~" below the home folder. A name that is not UTF-8 neither matches nor is listed.
// Work queue; blocks for the measurements. Answer: {"items": [{"path", "name", "size",
// "weak"}]}.
ValueMap appLeftovers(OperationContext& context, const std::string& bundleId,
                      const std::string& name);

}  // namespace nimbra
