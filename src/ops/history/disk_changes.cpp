#include "ops/history/disk_changes.h"

#include <algorithm>

#include "ops/history/folder_changes.h"
#include "ops/history/history_access.h"
#include "platform/formats/snapshot_tree.h"

namespace nimbra {
namespace {

const char* unreadableText(UnreadableIn side) {
  return side == UnreadableIn::before ? "before" : "after";
}

ValueMap changeValue(const FolderChange& change) {
  ValueMap shown{{"path", change.path},
                 {"before", change.before},
                 {"after", change.after},
                 {"filesBefore", change.filesBefore},
                 {"filesAfter", change.filesAfter}};
  if (change.unreadable != UnreadableIn::neither)
    shown["unreadable"] = unreadableText(change.unreadable);
  return shown;
}

// The two snapshots to compare, or why there are none.
struct Pair {
  std::optional<SnapshotSummary> from, to;
  std::string error;
};

Pair choose(const std::vector<SnapshotSummary>& snapshots, const std::string& shown,
            std::optional<int64_t> from, std::optional<int64_t> to) {
  const auto byId = [&](int64_t id) -> std::optional<SnapshotSummary> {
    auto found = std::find_if(snapshots.begin(), snapshots.end(),
                              [id](const SnapshotSummary& s) { return s.id == id; });
    return found == snapshots.end() ? std::nullopt : std::optional(*found);
  };
  Pair pair;
  if (snapshots.empty()) {
    pair.error = "no snapshot of " + shown + " yet";
    return pair;
  }
  pair.to = to ? byId(*to) : snapshots.front();
  if (!pair.to) {
    pair.error = "no snapshot " + std::to_string(*to) + " of " + shown;
    return pair;
  }
  if (from) {
    pair.from = byId(*from);
    if (!pair.from) pair.error = "no snapshot " + std::to_string(*from) + " of " + shown;
    return pair;
  }
  // Newest first: the one recorded before `to` is the next in the list.
  auto older = std::find_if(snapshots.begin(), snapshots.end(),
                            [&](const SnapshotSummary& s) { return s.id < pair.to->id; });
  if (older == snapshots.end()) {
    pair.error = "only one snapshot of " + shown + " up to " + std::to_string(pair.to->id) +
                 ": nothing to compare it with";
  } else {
    pair.from = *older;
  }
  return pair;
}

}  // namespace

ValueMap diskChanges(OperationContext& context, const std::string& path,
                     std::optional<int64_t> from, std::optional<int64_t> to) {
  const std::string root = historyKey(path);
  ValueMap answer{
      {"path", root},           {"from", Value()},
      {"to", Value()},          {"size", ValueMap{{"before", int64_t{0}}, {"after", int64_t{0}}}},
      {"changes", ValueList{}}, {"more", int64_t{0}},
      {"unnamed", int64_t{0}},  {"error", ""},
      {"cancelled", false}};
  OpenedHistory history = openHistory(context, /*create=*/false, answer);
  if (!history.store && !history.error.empty()) {
    answer["error"] = history.error;
    return answer;
  }
  HistoryStore* store = history.store ? &*history.store : nullptr;
  const auto failed = [&] {
    answer["cancelled"] = store->interrupted();
    answer["error"] = store->interrupted() ? "" : store->lastError();
    return answer;
  };
  std::vector<SnapshotSummary> snapshots;
  if (store) {
    std::optional<std::vector<SnapshotSummary>> found = store->snapshots(root);
    if (!found) return failed();
    snapshots = std::move(*found);
  }
  const Pair pair = choose(snapshots, root, from, to);
  if (pair.to) answer["to"] = snapshotValue(*pair.to);
  if (pair.from) answer["from"] = snapshotValue(*pair.from);
  if (!pair.error.empty()) {
    answer["error"] = pair.error;
    return answer;
  }
  answer["size"] = ValueMap{{"before", pair.from->size}, {"after", pair.to->size}};
  const std::optional<std::string> beforeBytes = store->tree(pair.from->id);
  if (!beforeBytes) return failed();
  const std::optional<std::string> afterBytes = store->tree(pair.to->id);
  if (!afterBytes) return failed();
  const auto before = readSnapshotTree(*beforeBytes);
  const auto after = readSnapshotTree(*afterBytes);
  if (!before || !after) {
    answer["error"] = "snapshot " + std::to_string((before ? pair.to : pair.from)->id) +
                      " is damaged and cannot be compared";
    return answer;
  }
  const FolderChanges changes = compareSnapshots(root, *before, *after, kChangesListed,
                                                 [&context] { return context.isCancelled(); });
  if (changes.cancelled) {
    answer["cancelled"] = true;
    return answer;
  }
  ValueList listed;
  for (const FolderChange& change : changes.listed) listed.emplace_back(changeValue(change));
  answer["changes"] = std::move(listed);
  answer["more"] = changes.more;
  answer["unnamed"] = changes.unnamed;
  return answer;
}

}  // namespace nimbra
