#pragma once

// The folder panel stand-in: a dialog program of the desktop that prints the chosen folder.

#include <optional>
#include <string>
#include <vector>

namespace nimbra {

struct PanelCommand {
  std::string program;  // absolute, found through $PATH
  std::vector<std::string> arguments;
};

// zenity, else kdialog, as found through $PATH; nullopt when neither exists or when no display
// is set (DISPLAY or WAYLAND_DISPLAY), for a panel nobody could see would never close.
std::optional<PanelCommand> folderPanelCommand();

// The folder in what the panel printed: its one trailing newline and every trailing "/" but
// the root's removed; nullopt when nothing was chosen (cancelled panels print nothing).
std::optional<std::string> chosenFolder(std::string panelOutput);

}  // namespace nimbra
