#pragma once

#include <string>
#include <vector>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "inspectItems": what a front end must know before it offers an entry of a shared folder
// (the temporary files) for removal: whether the user the service runs as owns it, when it or
// anything inside it last changed (a program may still be at work in an old folder), and
// whether it must not be offered at all. Both front ends ask this one operation, so the
// terminal and the page hold back the same entries.
//
// An entry is held back, with the reason in "holdBack", when it bears a name the system's own
// cleaning of temporary files keeps out (systemd's private folders, the X11 socket folders),
// when a running program holds it or anything in it open (a descriptor, its working folder,
// its program or a mapped library), when it is or holds a socket, FIFO or device, or when a
// folder in it could not be read: its newest change is then unknown.
//
// Work queue; blocks for the walks (links are never followed, not even at the path itself
// through a trailing slash) and one look at every process. Cancellation is polled before every
// entry; the items not finished are left out of the answer, so a caller never mistakes half a
// walk for an old folder. No progress events. Answer: {"items": one per distinct path, in
// order: {"path", "exists", "mine", "newest": the newest modification time in whole seconds
// since 1970, 0 when none could be read, "unreadable": folders in it that could not be read,
// "holdBack": why it must not be offered, "" when nothing speaks against it}, "cancelled"}. A
// path that names no file (a NUL byte in it too) has "exists" false, "mine" false, "newest" 0.
ValueMap inspectItems(OperationContext& context, const std::vector<std::string>& paths);

}  // namespace nimbra
