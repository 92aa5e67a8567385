#include "ops/removal/restore_items.h"

#include <unordered_set>

#include "base/utf8.h"
#include "ops/removal/error_lines.h"
#include "ops/size/size_of.h"
#include "platform/fs/trash.h"

namespace nimbra {
namespace {

constexpr const char* kRestoreTask = "restore";
constexpr const char* kNotInTrash = "not in the Trash";

}  // namespace

ValueMap restoreItems(OperationContext& context, const std::vector<std::string>& paths) {
  ValueList restored;
  ValueList failed;
  ErrorLines errors;
  std::unordered_set<std::string> done;
  int64_t reached = 0;
  int64_t bytes = 0;
  // A path that cannot travel to the interface is left out of the lists, as trashItems does.
  const auto list = [](ValueList& into, const std::string& path) {
    if (isValidUtf8(path)) into.emplace_back(path);
  };

  for (const std::string& path : paths) {
    if (context.isCancelled()) break;
    ++reached;
    std::string shown = path;
    if (!done.contains(path)) {
      const std::optional<TrashedItem> entry = trashEntryAt(path, context.folders.trash);
      // Measured where it is: once back, it is wherever its record said.
      const int64_t size = entry && statTrashedItem(*entry) ? sizeOf(context, entry->location) : 0;
      const TrashRestore restore =
          entry ? restoreFromTrash(*entry) : TrashRestore{{}, path + ": " + kNotInTrash};
      if (restore.error.empty()) {
        done.insert(path);
        list(restored, restore.originalPath);
        bytes += size;
        shown = restore.originalPath;
      } else {
        list(failed, path);
        errors.noteItem(restore.error);
      }
    }
    context.progress.offer(kRestoreTask, shown, reached, bytes, false);
  }

  context.progress.offer(kRestoreTask, "", reached, bytes, true);
  const bool cancelled = reached < static_cast<int64_t>(paths.size());
  return {{"restored", restored},
          {"failed", failed},
          {"error", errors.text()},
          {"cancelled", cancelled}};
}

}  // namespace nimbra
