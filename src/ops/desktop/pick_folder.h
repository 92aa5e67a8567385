#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ops/operation_context.h"

namespace nimbra {

// Receives the chosen folder, or nullopt when none was chosen.
using FolderCompletion = std::function<void(std::optional<std::string> folder)>;

// "pickFolder": shows the desktop's folder panel and hands the chosen folder to `completion`,
// once, from another thread; nullopt when it is cancelled, fails, or there is no panel program
// or display. The panel stays open as long as the user likes: it waits in the background, so
// other calls, other panels included, are answered meanwhile. Main loop; returns at once. The
// method answers the folder, or null.
void pickFolder(OperationContext& context, FolderCompletion completion);

}  // namespace nimbra
