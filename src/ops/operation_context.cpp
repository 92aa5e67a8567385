#include "ops/operation_context.h"

#include "platform/fs/trash.h"
#include "platform/machine/home.h"

namespace nimbra {

Folders Folders::ofCurrentUser() {
  return {.home = homeDirectory(),
          .temporary = temporaryDirectory(),
          .trash = homeTrashFolder(),
          .history = stateDirectory() + "/nimbra/history.sqlite3"};
}

}  // namespace nimbra
