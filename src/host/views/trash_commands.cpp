#include "host/views/trash_commands.h"

#include <algorithm>

namespace nimbra {
namespace {

constexpr std::time_t kDaySeconds = 24 * 60 * 60;

// Where a listed entry came from; where it is, for an entry with no record.
std::string shownPlace(const Value& entry) {
  std::string from = answerText(entry, "originalPath");
  return from.empty() ? answerText(entry, "path") : from;
}

}  // namespace

TrashRestorePlan planTrashRestore(const Value& listing, const std::vector<std::string>& paths) {
  TrashRestorePlan plan;
  const ValueList& entries = answerList(listing, "items");
  for (const std::string& path : paths) {
    const auto named = [&](const char* key) {
      return std::find_if(entries.begin(), entries.end(),
                          [&](const Value& entry) { return answerText(entry, key) == path; });
    };
    // The listing is newest first: the first entry from a place is the last one moved from it.
    auto found = named("path");
    if (found == entries.end()) found = named("originalPath");
    if (found == entries.end()) {
      plan.unknown.push_back(path);
    } else {
      plan.entries.push_back(answerText(*found, "path"));
    }
  }
  return plan;
}

TrashEmptyPlan planTrashEmpty(const Value& listing, std::optional<int64_t> olderThanDays,
                              std::time_t now) {
  TrashEmptyPlan plan;
  plan.unnamed = answerNumber(listing, "unnamed");
  for (const Value& entry : answerList(listing, "items")) {
    const int64_t movedAt = answerNumber(entry, "deletedAt");
    if (olderThanDays && movedAt <= 0) {
      ++plan.undated;
      continue;
    }
    if (olderThanDays && movedAt > now - *olderThanDays * kDaySeconds) {
      ++plan.recent;
      continue;
    }
    const int64_t size = answerNumber(entry, "size");
    plan.shown.remove.push_back({shownPlace(entry), size});
    plan.shown.bytes += size;
    plan.entries.push_back(answerText(entry, "path"));
  }
  std::stable_sort(plan.shown.remove.begin(), plan.shown.remove.end(),
                   [](const JunkItem& a, const JunkItem& b) { return a.size > b.size; });
  return plan;
}

std::string trashEmptyPlanView(const TrashEmptyPlan& plan, std::optional<int64_t> olderThanDays,
                               const ViewOptions& options) {
  std::string out = junkPlanView(plan.shown, /*toTrash=*/false, options);
  const auto leftAlone = [&](int64_t count, const std::string& why) {
    if (count > 0)
      out += options.palette.bold("left alone: " + plural(count, "entry", "entries")) + " " + why +
             "\n";
  };
  if (olderThanDays) {
    leftAlone(plan.recent,
              "moved to the Trash in the last " + plural(*olderThanDays, "day", "days"));
  }
  leftAlone(plan.undated, "with no date of moving on record");
  leftAlone(plan.unnamed, "whose names are not valid UTF-8");
  return out;
}

}  // namespace nimbra
