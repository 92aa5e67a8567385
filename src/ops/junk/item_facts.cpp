#include "ops/junk/item_facts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "base/path_parts.h"
#include "platform/fs/dir_walker.h"

namespace nimbra {
namespace {

// The newest modification time at `location` and below it, or nullopt when cancelled mid-walk.
std::optional<int64_t> newestChange(OperationContext& context, const std::string& location,
                                    const struct stat& info) {
  int64_t newest = info.st_mtim.tv_sec;
  if (!S_ISDIR(info.st_mode)) return newest;
  DirWalker walker(location);
  while (const WalkEntry* entry = walker.next()) {
    if (context.isCancelled()) return std::nullopt;
    newest = std::max(newest, entry->modified());
  }
  return newest;
}

}  // namespace

ValueMap inspectItems(OperationContext& context, const std::vector<std::string>& paths) {
  ValueList items;
  std::unordered_set<std::string> answered;
  bool cancelled = false;
  for (const std::string& path : paths) {
    if (context.isCancelled()) {
      cancelled = true;
      break;
    }
    if (!answered.insert(path).second) continue;
    // "link/" would name the link's target; the entry itself is what will be removed.
    const std::string location = withoutTrailingSlashes(path);
    struct stat info {};
    if (namesNoFile(path) || ::lstat(location.c_str(), &info) != 0) {
      items.emplace_back(
          ValueMap{{"path", path}, {"exists", false}, {"mine", false}, {"newest", int64_t{0}}});
      continue;
    }
    const std::optional<int64_t> newest = newestChange(context, location, info);
    if (!newest) {
      cancelled = true;
      break;
    }
    items.emplace_back(ValueMap{{"path", path},
                                {"exists", true},
                                {"mine", info.st_uid == ::geteuid()},
                                {"newest", *newest}});
  }
  return {{"items", std::move(items)}, {"cancelled", cancelled}};
}

}  // namespace nimbra
