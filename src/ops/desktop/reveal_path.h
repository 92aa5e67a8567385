#pragma once

#include <string>

#include "ops/operation_context.h"

namespace nimbra {

// "revealPath": shows the item selected in the file manager, else opens its parent folder, in a
// program started detached and reaped in the background. A path holding a NUL does nothing.
// Main loop; never blocks it. The method answers true.
void revealPath(OperationContext& context, const std::string& path);

}  // namespace nimbra
