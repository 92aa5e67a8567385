#pragma once

#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "inspectItems": what a front end must know before it offers an entry of a shared folder
// (the temporary files) for removal: whether the user the service runs as owns it, and when it
// or anything inside it last changed, since a program may still be at work in an old folder.
// Both front ends ask this one operation, so the terminal and the page hold back the same
// entries.
//
// Work queue; blocks for the walks (links are never followed, not even at the path itself
// through a trailing slash). Cancellation is polled before every entry; the items not finished
// are left out of the answer, so a caller never mistakes half a walk for an old folder.
// No progress events. Answer: {"items": one per distinct path, in order: {"path", "exists",
// "mine", "newest": the newest modification time in whole seconds since 1970, 0 when none
// could be read}, "cancelled"}. A path that names no file (a NUL byte in it too) has "exists"
// false, "mine" false and "newest" 0.
ValueMap inspectItems(OperationContext& context, const std::vector<std::string>& paths);

}  // namespace nimbra
