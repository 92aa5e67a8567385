#pragma once

#include <string>

#include "ops/operation_context.h"

namespace nimbra {

// "homeDir": the home folder, as the context read it. Main loop; returns at once.
inline std::string homeDir(OperationContext& context) { return context.folders.home; }

}  // namespace nimbra
