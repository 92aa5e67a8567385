#include "ops/history/history_access.h"

#include "base/path_parts.h"

namespace nimbra {

std::string historyKey(const std::string& path) { return withoutTrailingSlashes(path); }

OpenedHistory openHistory(OperationContext& context, bool create, ValueMap& answer) {
  HistoryOpening opening = HistoryStore::open(context.folders.history, create);
  if (opening.movedAside) {
    answer["historyMovedAside"] =
        ValueMap{{"path", opening.movedAside->path}, {"reason", opening.movedAside->reason}};
  }
  if (opening.store) opening.store->interruptWhen([&context] { return context.isCancelled(); });
  return {std::move(opening.store), std::move(opening.error)};
}

ValueMap snapshotValue(const SnapshotSummary& snapshot) {
  return {{"id", snapshot.id},
          {"takenAt", snapshot.takenAt},
          {"size", snapshot.size},
          {"files", snapshot.files},
          {"unreadable", snapshot.unreadable}};
}

}  // namespace nimbra
