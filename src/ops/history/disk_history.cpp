#include "ops/history/disk_history.h"

#include "base/utf8.h"
#include "ops/history/history_access.h"

namespace nimbra {

ValueMap diskHistory(OperationContext& context, const std::optional<std::string>& path) {
  ValueMap answer{
      {"snapshots", ValueList{}}, {"unnamed", int64_t{0}}, {"error", ""}, {"cancelled", false}};
  OpenedHistory history = openHistory(context, /*create=*/false, answer);
  if (!history.store) {
    answer["error"] = history.error;
    return answer;
  }
  const std::optional<std::string> root = path ? std::optional(historyKey(*path)) : std::nullopt;
  const std::optional<std::vector<SnapshotSummary>> found = history.store->snapshots(root);
  if (!found) {
    answer["cancelled"] = history.store->interrupted();
    answer["error"] = history.store->interrupted() ? "" : history.store->lastError();
    return answer;
  }
  ValueList snapshots;
  int64_t unnamed = 0;
  for (const SnapshotSummary& snapshot : *found) {
    ValueMap shown = snapshotValue(snapshot);
    if (!path) {
      if (!isValidUtf8(snapshot.root)) {
        ++unnamed;
        continue;
      }
      shown["path"] = snapshot.root;
    }
    snapshots.emplace_back(std::move(shown));
  }
  answer["snapshots"] = std::move(snapshots);
  answer["unnamed"] = unnamed;
  return answer;
}

}  // namespace nimbra
