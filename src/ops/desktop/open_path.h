#pragma once

#include <string>

#include "ops/operation_context.h"

namespace nimbra {

// "openPath": opens the item with its default application (xdg-open), started detached and
// reaped in the background. A path holding a NUL does nothing. Main loop; never blocks it. The
// method answers true.
void openPath(OperationContext& context, const std::string& path);

}  // namespace nimbra
