#include "ops/removal/trash_items.h"

#include <unordered_set>

#include "base/utf8.h"
#include "ops/removal/error_lines.h"
#include "ops/size/size_of.h"
#include "platform/fs/trash.h"

namespace nimbra {
namespace {

inline constexpr const char* kTrashTask = "trash";

}  // namespace

ValueMap trashItems(OperationContext& context, const std::vector<std::string>& paths) {
  const std::string& trash = context.folders.trash;
  ValueList trashed;
  ValueList places;  // "moved": where each item went
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
    if (context.isCancelled()) break;
    ++reached;
    if (!moved.contains(path)) {
      const TrashMove move = moveToTrash(path, trash);
      if (move.trashed) {
        moved.insert(path);
        list(trashed, path);
        // Where it went, so that exactly this move can be taken back.
        if (isValidUtf8(path) && isValidUtf8(move.trashed->location)) {
          places.emplace_back(ValueMap{{"path", path}, {"trashPath", move.trashed->location}});
        }
        // What went, for the progress display; a cancellation only makes the figure partial.
        bytes += sizeOf(context, move.trashed->location);
      } else {
        list(failed, path);
        errors.noteItem(move.error);
      }
    }
    context.progress.offer(kTrashTask, path, reached, bytes, false);
  }

  context.progress.offer(kTrashTask, "", reached, bytes, true);
  // "cancelled" tells the caller that the paths in neither list were never tried.
  const bool cancelled = reached < static_cast<int64_t>(paths.size());
  return {{"trashed", trashed},
          {"failed", failed},
          {"error", errors.text()},
          {"cancelled", cancelled},
          {"moved", places}};
}

}  // namespace nimbra
