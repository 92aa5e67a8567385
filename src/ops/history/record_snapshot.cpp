#include "ops/history/record_snapshot.h"

#include <ctime>

#include "ops/history/history_access.h"

namespace nimbra {

void recordSnapshot(OperationContext& context, const std::string& root, const SnapshotSink& sink,
                    bool complete, ValueMap& answer, const std::function<void()>& betweenWrites) {
  answer["snapshot"] = Value();
  answer["recordError"] = "";
  if (!complete) return;
  // A snapshot is found again by its folder's path, which only an absolute one names for good.
  if (!root.starts_with('/')) {
    answer["recordError"] = "only a folder named by its absolute path is recorded";
    return;
  }
  OpenedHistory history = openHistory(context, /*create=*/true, answer);
  if (!history.store) {
    answer["recordError"] = history.error;
    return;
  }
  // Once the walk is over, the snapshot is kept whatever comes: a cancel now would throw away a
  // complete scan.
  history.store->interruptWhen([] { return false; });
  const SnapshotSummary summary{.root = historyKey(root),
                                .takenAt = static_cast<int64_t>(std::time(nullptr)),
                                .size = sink.size(),
                                .files = sink.files(),
                                .folders = sink.tree().folders(),
                                .unreadable = sink.unreadableFolders()};
  if (std::optional<int64_t> id = history.store->add(summary, sink.tree().bytes(), betweenWrites)) {
    answer["snapshot"] = *id;
  } else {
    answer["recordError"] = history.store->lastError();
  }
}

}  // namespace nimbra
