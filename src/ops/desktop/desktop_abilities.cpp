#include "ops/desktop/desktop_abilities.h"

#include "platform/desktop/desktop_programs.h"
#include "platform/desktop/folder_panel.h"

namespace nimbra {

ValueMap desktopAbilities(OperationContext&) {
  const bool session = hasGraphicalSession();
  const bool opener = session && findOnPath("xdg-open").has_value();
  return ValueMap{{"pickFolder", folderPanelCommand().has_value()},
                  {"revealPath", opener || (session && findOnPath("gdbus").has_value())},
                  {"openPath", opener}};
}

}  // namespace nimbra
