#include "platform/desktop/folder_panel.h"

#include <sys/stat.h>

#include "base/path_parts.h"
#include "base/utf8.h"
#include "platform/desktop/desktop_programs.h"
#include "platform/process/child_process.h"

namespace nimbra {
namespace {

bool isFolder(const std::string& path) {
  struct stat info {};
  return !namesNoFile(path) && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<PanelCommand> folderPanelCommand() {
  if (!hasGraphicalSession()) return std::nullopt;
  if (auto zenity = findOnPath("zenity"))
    return PanelCommand{*zenity, {"--file-selection", "--directory"}};
  if (auto kdialog = findOnPath("kdialog"))
    return PanelCommand{*kdialog, {"--getexistingdirectory"}};
  return std::nullopt;
}

std::optional<std::string> runFolderPanel(const PanelCommand& panel) {
  ChildOutcome child = runChild(panel.program, panel.arguments, {.keepStandardError = false});
  if (!child.exitedZero) return std::nullopt;
  std::string folder = std::move(child.out);
  if (folder.ends_with('\n')) folder.pop_back();
  // The answer travels as a string, which must be UTF-8.
  if (!folder.starts_with('/') || !isValidUtf8(folder) || !isFolder(folder)) return std::nullopt;
  return withoutTrailingSlashes(folder);
}

}  // namespace nimbra
