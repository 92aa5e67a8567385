#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "listApps": the application bundles (case-sensitive ".app", one level deep) of the
// applications folder, the home folder's Applications and the applications folder's Utilities,
// largest first (equal sizes in the order found), each read from its information file with the
// bundle's name as fallback and with its 64 x 64 icon (app_icon.h). A link to a bundle is listed
// and measured as the link; one that leads nowhere is not. A path that is not UTF-8 is left out.
//
// Work queue; blocks for the measurements and the icons; cancellation is polled before each
// bundle, and a cancelled list keeps the bundles before it. Progress "apps" per bundle (count so
// far, bytes 0), no final event. Answer: {"apps": [{"name", "path", "bundleId", "version",
// "size", "isApple", "modified", "icon"}]}.
ValueMap listApps(OperationContext& context);

}  // namespace nimbra
