#pragma once

// What `nimbra junk clean` removes: the items of the chosen categories in the scan's answer,
// less the temporary entries it leaves alone, and the list shown before anything goes.
//
// The shared temporary folder holds other programs' work in progress and other users' files,
// which the scan lists like any other entry. The command leaves alone what "inspectItems" holds
// back (in use, sockets and devices, the system's own, unreadable inside), an entry that another
// user owns, and one that changed (itself or anything inside it) in the last 24 hours unless
// the user asks for recent ones too (the page asks and decides the same). The scan's answer
// stays what it is.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "channel/value.h"
#include "host/views/answer_views.h"

namespace nimbra {

struct JunkItem {
  std::string path;
  int64_t size = 0;
};

struct SkippedJunk {
  JunkItem item;
  std::string reason;  // inspectItems' "holdBack", "another user's", "changed in the last 24
                       // hours", "not looked at"
};

struct JunkPlan {
  std::vector<JunkItem> remove;      // largest first
  std::vector<SkippedJunk> skipped;  // largest first
  int64_t bytes = 0;                 // of `remove`
  std::vector<std::string> unknown;  // ids asked for that the scan does not know
  std::vector<std::string> known;    // every id the scan knows, in its order
};

// The temporary entries among the categories `ids` chooses: what "inspectItems" is asked about.
std::vector<std::string> temporaryJunkPaths(const Value& scan, const std::vector<std::string>& ids);

// `inspection` is the "inspectItems" answer for temporaryJunkPaths; an entry it does not
// answer for (the inspection was cancelled) is left alone. `now` is the time the 24 hours are
// counted back from.
JunkPlan planJunkClean(const Value& scan, const Value& inspection,
                       const std::vector<std::string>& ids, bool includeRecent, std::time_t now);

// What goes (all of it when there are few items, else the largest and how many more) and what
// is left alone, with sizes; `toTrash` names where the items go.
std::string junkPlanView(const JunkPlan& plan, bool toTrash, const ViewOptions& options);

// The size the plan gave each of `paths`, added up.
int64_t plannedBytes(const JunkPlan& plan, const std::vector<std::string>& paths);

}  // namespace nimbra
