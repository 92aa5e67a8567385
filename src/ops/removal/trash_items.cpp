// Moving items to the Trash to stay there, restorable: the gentle counterpart of deletion.

#include <unordered_set>

#include "service/nimbra_native.h"
#include "platform/fs/trash.h"
#include "base/utf8.h"
#include "ops/removal/error_lines.h"

namespace nimbra {
namespace {

inline constexpr const char* kTrashTask = "trash";

}  // namespace

ValueMap NimbraNative::trashItems(const std::vector<std::string>& paths) {
  const std::string trash = homeTrashFolder();
  ValueList trashed;
  ValueList failed;
  ErrorLines errors;
  // A path given twice went with its first mention; it is not reported failed for being gone.
  std::unordered_set<std::string> moved;
  int64_t reached = 0;
  int64_t bytes = 0;
  // A path that is not valid UTF-8 cannot travel to the interface, and one with its bad bytes
  // replaced would name another file: it is left out of the lists.
  const auto list = [](ValueList& into, const std::string& path) {
    if (isValidUtf8(path)) into.emplace_back(path);
  };

  for (const std::string& path : paths) {
    // A move is quick and cannot be taken back half-way: the check comes between items, and
    // what was not reached stays where it is, in neither list.
    if (isCancelled()) break;
    ++reached;
    if (!moved.contains(path)) {
      const TrashMove move = moveToTrash(path, trash);
      if (move.trashed) {
        moved.insert(path);
        list(trashed, path);
        // What went, for the progress display; a cancellation only makes the figure partial.
        bytes += sizeOf(move.trashed->location);
      } else {
        list(failed, path);
        errors.noteItem(move.error);
      }
    }
    progress(kTrashTask, path, reached, bytes, false);
  }

  progress(kTrashTask, "", reached, bytes, true);
  // "cancelled" tells the caller that the paths in neither list were never tried.
  const bool cancelled = reached < static_cast<int64_t>(paths.size());
  return {{"trashed", trashed}, {"failed", failed}, {"error", errors.text()}, {"cancelled", cancelled}};
}

}  // namespace nimbra
