#include "platform/folder_panel.h"

#include <cstdlib>

#include "platform/desktop_launch.h"
#include "platform/path_parts.h"

namespace nimbra {
namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

std::optional<PanelCommand> folderPanelCommand() {
  if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) return std::nullopt;
  if (auto zenity = findOnPath("zenity")) return PanelCommand{*zenity, {"--file-selection", "--directory"}};
  if (auto kdialog = findOnPath("kdialog")) return PanelCommand{*kdialog, {"--getexistingdirectory"}};
  return std::nullopt;
}

std::optional<std::string> chosenFolder(std::string panelOutput) {
  if (panelOutput.ends_with('\n')) panelOutput.pop_back();
  if (panelOutput.empty()) return std::nullopt;
  return withoutTrailingSlashes(panelOutput);
}

}  // namespace nimbra
