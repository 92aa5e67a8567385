#pragma once

// What `nimbra changes`, `nimbra history` and `nimbra history forget` print, and what the
// history's answers have to say on stderr. Like the other views, each takes an answer exactly
// as it came through the channel and never fails on a missing key.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/value.h"
#include "host/views/answer_views.h"

namespace nimbra {

// "diskChanges": the folder's size then and now, then the folders that changed as a tree below
// it, each with its change ("+" grew, "-" shrank: never told by colour alone), the sizes before
// and after, and "new", "gone" or "not readable then/now" where that is what happened; folders
// that only lead to changes are shown by name alone. The changes left out are counted.
std::string changesView(const Value& answer, const ViewOptions& options);

// "diskHistory": one line a snapshot, newest first, with how the folder changed since the
// snapshot before it; listing every folder, a group for each.
std::string historyView(const Value& answer, const ViewOptions& options);

// "forgetHistory" of `path` ("" for every folder).
std::string forgetView(const Value& answer, const std::string& path);

// What a history answer says beyond its figures, for stderr: a broken history file moved aside,
// a snapshot that could not be recorded, an "error". Empty when there is nothing to say.
std::vector<std::string> historyComplaints(const Value& answer);

// A date on the command line, in local time: "2026-12-01", "2026-12-01 14:30",
// "2026-12-01T14:30:05". Seconds since 1970; nullopt for anything else.
std::optional<int64_t> parseLocalDate(std::string_view text);

// For `changes --since DATE`: of the snapshots in a "diskHistory" answer, the last taken at or
// before `time`, else the first one taken after it; nullopt when there is none.
std::optional<int64_t> snapshotSince(const Value& history, int64_t time);

}  // namespace nimbra
