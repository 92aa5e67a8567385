#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "channel/value.h"
#include "ops/operation_context.h"

namespace nimbra {

// The changes a comparison lists at most.
inline constexpr size_t kChangesListed = 400;

// "diskChanges": how the folder `path` changed from snapshot `from` to snapshot `to`, both of
// that folder; by default `to` is the newest and `from` the one recorded before `to`. Answer:
// {"path": the folder (trailing slashes aside), "from", "to": the two snapshots as diskHistory
// shows them (null when missing), "size":
// {"before", "after"} (the folder's own totals), "changes": [{"path", "before", "after",
// "filesBefore", "filesAfter"}] chosen and ordered as folder_changes.h says, at most
// kChangesListed, a folder the walk could not read in one of them marked "unreadable":
// "before" or "after"; "more" (changes past the limit), "unnamed" (changes whose path is not
// UTF-8), "error" (why nothing could be compared: no history, a single snapshot, an id that
// is no snapshot of the folder; "" otherwise), "cancelled"}.
//
// Work queue; blocking: reads both snapshots whole (about 25 bytes a folder) and compares them
// in memory. Cancellation is polled while they are read and compared; a cancelled comparison
// lists nothing.
ValueMap diskChanges(OperationContext& context, const std::string& path,
                     std::optional<int64_t> from, std::optional<int64_t> to);

}  // namespace nimbra
