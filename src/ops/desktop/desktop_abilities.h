#pragma once

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// "desktopAbilities": whether "pickFolder", "revealPath" and "openPath" can show anything here,
// each under its own name as a bool. Those three answer the same whether or not a program could
// start (null, true, true), so an interface asks this to tell a person why nothing appeared. Each
// needs a graphical session (DISPLAY or WAYLAND_DISPLAY) and its program on PATH: the folder
// panel zenity or kdialog, the file manager gdbus (or xdg-open on the parent folder), the
// opener xdg-open. Main loop; returns at once.
ValueMap desktopAbilities(OperationContext& context);

}  // namespace nimbra
