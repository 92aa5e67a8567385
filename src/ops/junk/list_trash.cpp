#include "ops/junk/list_trash.h"

#include <algorithm>

#include "base/utf8.h"
#include "ops/size/size_of.h"
#include "platform/fs/trash.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "trash";

struct Listed {
  int64_t deletedAt;
  ValueMap item;
};

}  // namespace

ValueMap listTrash(OperationContext& context) {
  std::vector<Listed> listed;
  int64_t unnamed = 0;
  int64_t count = 0;
  int64_t bytes = 0;
  bool cancelled = false;
  for (TrashEntry& entry : trashEntries(context.folders.trash)) {
    if (context.isCancelled()) {
      cancelled = true;
      break;
    }
    const TrashedItem& item = entry.item;
    const int64_t size = sizeOf(context, item.location);
    ++count;
    bytes += size;
    // An entry that cannot be named to the interface cannot be chosen from it either.
    if (!isValidUtf8(item.location)) {
      ++unnamed;
      context.progress.offer(kTask, "", count, bytes, false);
      continue;
    }
    context.progress.offer(kTask, item.location, count, bytes, false);
    // The original location is shown, never acted on: a name the record holds in other bytes
    // than UTF-8 is shown with those bytes replaced.
    listed.push_back({entry.record.deletedAt,
                      {{"path", item.location},
                       {"name", item.name},
                       {"originalPath", replaceInvalidUtf8(entry.record.originalPath)},
                       {"deletedAt", entry.record.deletedAt},
                       {"size", size},
                       {"isDir", entry.isDirectory}}});
  }
  cancelled = cancelled || context.isCancelled();
  context.progress.offer(kTask, "", count, bytes, true);
  std::stable_sort(listed.begin(), listed.end(),
                   [](const Listed& a, const Listed& b) { return a.deletedAt > b.deletedAt; });
  ValueList items;
  for (Listed& entry : listed) items.emplace_back(std::move(entry.item));
  return {{"items", std::move(items)}, {"unnamed", unnamed}, {"cancelled", cancelled}};
}

}  // namespace nimbra
