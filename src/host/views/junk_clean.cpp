#include "host/views/junk_clean.h"

#include <algorithm>
#include <optional>
#include <set>
#include <unordered_map>

namespace nimbra {
namespace {

constexpr const char* kTemporaryId = "temp";
constexpr std::time_t kRecentSeconds = 24 * 60 * 60;
constexpr const char* kChangedRecently = "changed in the last 24 hours";
// Beyond this many items a list shows the largest and says how many more there are.
constexpr size_t kListedItems = 20;

// What `inspectItems` found about each temporary entry, by path.
std::unordered_map<std::string, const Value*> factsByPath(const Value& inspection) {
  std::unordered_map<std::string, const Value*> facts;
  for (const Value& item : answerList(inspection, "items"))
    facts.emplace(answerText(item, "path"), &item);
  return facts;
}

// Why a temporary entry is left alone, or nullopt to remove it. An entry that is gone by now is
// handed on: the removal reports it.
std::optional<std::string> reasonToKeep(const Value* facts, bool includeRecent, std::time_t now) {
  if (facts == nullptr) return "not looked at";  // the inspection was cut short
  if (!answerFlag(*facts, "exists")) return std::nullopt;
  if (std::string why = answerText(*facts, "holdBack"); !why.empty()) return why;
  if (!answerFlag(*facts, "mine")) return "another user's";
  if (!includeRecent && answerNumber(*facts, "newest") >= now - kRecentSeconds)
    return kChangedRecently;
  return std::nullopt;
}

bool largerFirst(const JunkItem& a, const JunkItem& b) { return a.size > b.size; }

// One line an item: the size right-aligned in `sizeWidth`, the path fitted to what is left
// after `note`.
std::string itemLine(const JunkItem& item, const std::string& note, size_t sizeWidth,
                     const ViewOptions& options) {
  const size_t used = 2 + sizeWidth + 2 + (note.empty() ? 0 : 2 + displayWidth(note));
  const size_t room = options.columns > used + 8 ? options.columns - used : 8;
  return "  " + padLeft(sizeText(item.size, options), sizeWidth) + "  " + fitPath(item.path, room) +
         (note.empty() ? "" : "  " + options.palette.dim(note)) + "\n";
}

// The largest kListedItems of `items` (all of them when there are few), each with its note,
// then how many more there are and their size.
template <typename Entry, typename ItemOf, typename NoteOf>
std::string itemLines(const std::vector<Entry>& entries, ItemOf itemOf, NoteOf noteOf,
                      const ViewOptions& options) {
  const size_t shown = entries.size() <= kListedItems ? entries.size() : kListedItems;
  size_t sizeWidth = 0;
  for (size_t i = 0; i < shown; ++i)
    sizeWidth = std::max(sizeWidth, sizeText(itemOf(entries[i]).size, options).size());
  std::string out;
  for (size_t i = 0; i < shown; ++i)
    out += itemLine(itemOf(entries[i]), noteOf(entries[i]), sizeWidth, options);
  if (shown < entries.size()) {
    int64_t rest = 0;
    for (size_t i = shown; i < entries.size(); ++i) rest += itemOf(entries[i]).size;
    out += "  and " +
           plural(static_cast<int64_t>(entries.size() - shown), "more item", "more items") + ", " +
           sizeText(rest, options) + "\n";
  }
  return out;
}

}  // namespace

std::vector<std::string> temporaryJunkPaths(const Value& scan,
                                            const std::vector<std::string>& ids) {
  std::vector<std::string> paths;
  if (std::find(ids.begin(), ids.end(), kTemporaryId) == ids.end()) return paths;
  for (const Value& category : answerList(scan, "categories")) {
    if (answerText(category, "id") != kTemporaryId) continue;
    for (const Value& item : answerList(category, "items")) {
      std::string path = answerText(item, "path");
      if (!path.empty()) paths.push_back(std::move(path));
    }
  }
  return paths;
}

JunkPlan planJunkClean(const Value& scan, const Value& inspection,
                       const std::vector<std::string>& ids, bool includeRecent, std::time_t now) {
  JunkPlan plan;
  const auto facts = factsByPath(inspection);
  std::set<std::string> found;
  for (const Value& category : answerList(scan, "categories")) {
    const std::string id = answerText(category, "id");
    if (id.empty()) continue;
    plan.known.push_back(id);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
    found.insert(id);
    for (const Value& listed : answerList(category, "items")) {
      JunkItem item{answerText(listed, "path"), answerNumber(listed, "size")};
      if (item.path.empty()) continue;
      std::optional<std::string> reason;
      if (id == kTemporaryId) {
        const auto found = facts.find(item.path);
        reason = reasonToKeep(found == facts.end() ? nullptr : found->second, includeRecent, now);
      }
      if (reason) {
        plan.skipped.push_back({std::move(item), std::move(*reason)});
        continue;
      }
      plan.bytes += item.size;
      plan.remove.push_back(std::move(item));
    }
  }
  for (const std::string& id : ids) {
    if (!found.contains(id)) plan.unknown.push_back(id);
  }
  std::stable_sort(plan.remove.begin(), plan.remove.end(), largerFirst);
  std::stable_sort(
      plan.skipped.begin(), plan.skipped.end(),
      [](const SkippedJunk& a, const SkippedJunk& b) { return largerFirst(a.item, b.item); });
  return plan;
}

std::string junkPlanView(const JunkPlan& plan, bool toTrash, const ViewOptions& options) {
  std::string out;
  if (!plan.remove.empty()) {
    out += options.palette.bold(
               std::string(toTrash ? "to move to the Trash: " : "to delete for good: ") +
               plural(static_cast<int64_t>(plan.remove.size()), "item", "items") + ", " +
               sizeText(plan.bytes, options)) +
           "\n";
    out += itemLines(
        plan.remove, [](const JunkItem& item) -> const JunkItem& { return item; },
        [](const JunkItem&) { return std::string(); }, options);
  }
  if (!plan.skipped.empty()) {
    const bool recent =
        std::any_of(plan.skipped.begin(), plan.skipped.end(),
                    [](const SkippedJunk& skipped) { return skipped.reason == kChangedRecently; });
    out += options.palette.bold("left alone: " + plural(static_cast<int64_t>(plan.skipped.size()),
                                                        "temporary item", "temporary items")) +
           (recent ? " (--include-recent takes the recent ones too)" : "") + "\n";
    out += itemLines(
        plan.skipped, [](const SkippedJunk& skipped) -> const JunkItem& { return skipped.item; },
        [](const SkippedJunk& skipped) { return skipped.reason; }, options);
  }
  return out;
}

int64_t plannedBytes(const JunkPlan& plan, const std::vector<std::string>& paths) {
  std::unordered_map<std::string, int64_t> sizes;
  for (const JunkItem& item : plan.remove) sizes.emplace(item.path, item.size);
  int64_t total = 0;
  for (const std::string& path : paths) {
    auto found = sizes.find(path);
    if (found != sizes.end()) total += found->second;
  }
  return total;
}

}  // namespace nimbra
