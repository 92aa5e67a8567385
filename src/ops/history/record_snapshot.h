#pragma once

#include <functional>
#include <string>

#include "channel/value.h"
#include "ops/history/snapshot_sink.h"
#include "ops/operation_context.h"

namespace nimbra {

// After a disk walk asked to record: stores what `sink` saw of `root` as one snapshot, taken
// now, unless the walk was cancelled (`complete` false), and says so in the answer: "snapshot",
// the new id or null when nothing was recorded, and "recordError", why not ("" when recorded or
// cancelled). The store may drop the root's oldest snapshot (kSnapshotsKeptPerFolder).
// `betweenWrites` is the store's (history_store.h), for tests. Blocking; work queue.
void recordSnapshot(OperationContext& context, const std::string& root, const SnapshotSink& sink,
                    bool complete, ValueMap& answer,
                    const std::function<void()>& betweenWrites = {});

}  // namespace nimbra
