#pragma once

// What `nimbra trash restore` puts back and what `nimbra trash empty` deletes, chosen from the
// Trash's listing ("listTrash") so that what is named or shown is exactly what is acted on.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "channel/value.h"
#include "host/views/answer_views.h"
#include "host/views/junk_clean.h"

namespace nimbra {

struct TrashRestorePlan {
  std::vector<std::string> entries;  // for "restoreItems", in the order asked
  std::vector<std::string> unknown;  // the paths asked for that name nothing in the Trash
};

// Each of `paths` (absolute, as the command line made them) as the entry to put back: an entry
// itself, as the listing names it, or the place entries came from, of which the newest goes
// back (as trash-cli's trash-restore offers it first).
TrashRestorePlan planTrashRestore(const Value& listing, const std::vector<std::string>& paths);

struct TrashEmptyPlan {
  JunkPlan shown;                    // what goes, each as where it came from, largest first
  std::vector<std::string> entries;  // the same, as entries, for "emptyTrash"
  int64_t recent = 0;                // left alone: moved within the days asked for
  int64_t undated = 0;               // left alone: no record of when it was moved
  int64_t unnamed = 0;               // left alone: a name the listing cannot carry
};

// Every entry listed or, with `olderThanDays`, those moved to the Trash longer ago than that
// before `now`.
TrashEmptyPlan planTrashEmpty(const Value& listing, std::optional<int64_t> olderThanDays,
                              std::time_t now);

// What goes, with sizes, and what is left alone and why.
std::string trashEmptyPlanView(const TrashEmptyPlan& plan, std::optional<int64_t> olderThanDays,
                               const ViewOptions& options);

}  // namespace nimbra
