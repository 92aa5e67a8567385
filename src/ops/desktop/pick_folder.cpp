#include "ops/desktop/pick_folder.h"

#include "platform/desktop/folder_panel.h"

namespace nimbra {

void pickFolder(OperationContext& context, FolderCompletion completion) {
  std::optional<PanelCommand> panel = folderPanelCommand();
  if (!panel) {
    completion(std::nullopt);
    return;
  }
  context.runInBackground([panel = std::move(*panel), completion = std::move(completion)] {
    completion(runFolderPanel(panel));
  });
}

}  // namespace nimbra
