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

// Shows the panel and waits until it closes. The chosen folder, with its one trailing newline
// and every trailing "/" but the root's removed; nullopt when nothing was chosen. Only a panel
// that exits with status 0 and prints the absolute path of an existing folder has chosen one:
// a cancelled panel prints nothing, and one that could not open prints its complaint
// ("cannot open display"), which names no folder.
std::optional<std::string> runFolderPanel(const PanelCommand& panel);

}  // namespace nimbra
