#pragma once

#include <optional>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"
#include "platform/formats/history_store.h"

namespace nimbra {

// The folder a path's snapshots are kept under: the path without its trailing slashes, so
// "/srv/data/" and "/srv/data" share one history.
std::string historyKey(const std::string& path);

// The disk usage history of the context's folders, opened for one operation, with its
// statements stopped by the operation's cancellation. `create` makes the file when missing
// (recording); the readers leave a missing file missing and see no snapshots. When the opening
// moved a broken file aside, the answer says so once, in "historyMovedAside": {"path",
// "reason"}. Without a store, `error` says why ("" when there simply is none yet).
struct OpenedHistory {
  std::optional<HistoryStore> store;
  std::string error;
};
OpenedHistory openHistory(OperationContext& context, bool create, ValueMap& answer);

// The map of a snapshot in the history answers: {"id", "takenAt", "size", "files",
// "unreadable"}.
ValueMap snapshotValue(const SnapshotSummary& snapshot);

}  // namespace nimbra
