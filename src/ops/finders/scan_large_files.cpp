#include "ops/finders/scan_large_files.h"

#include <utility>

#include "ops/finders/finder_walk.h"
#include "ops/finders/largest_files.h"
#include "ops/unreadable_answer.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "large";
// Progress is offered on every this-many regular files.
constexpr int64_t kProgressEvery = 500;

}  // namespace

ValueMap scanLargeFiles(OperationContext& context, const std::string& root, int64_t minSize) {
  FinderWalk walk(root, {.library = LibraryPruning::homeLevelOnly, .home = context.folders.home},
                  [&context] { return context.isCancelled(); });
  if (!walk.ok()) {
    ValueMap answer{{"items", ValueList{}}, {"scanned", int64_t{0}}};
    addUnreadable(answer, walk.unreadable());
    return answer;
  }

  int64_t scanned = 0;
  int64_t matched = 0;
  int64_t unnamed = 0;
  int64_t totalBytes = 0;
  LargestFiles largest(kLargeFilesListed);
  while (const WalkEntry* file = walk.nextFile()) {
    int64_t size = file->stat()->st_size;
    ++scanned;
    totalBytes += size;
    if (scanned % kProgressEvery == 0) {
      context.progress.offer(kTask, file->path(), scanned, totalBytes, false);
    }
    if (size < minSize) continue;
    ++matched;
    if (largest.wouldKeep(size))
      largest.offer(LargeFile{file->path(), std::string(file->name()), size, file->modified()});
  }

  ValueList items = largeFileItems(largest.take(), unnamed);
  context.progress.offer(kTask, "", scanned, totalBytes, true);
  ValueMap answer{{"scanned", scanned},
                  {"matched", matched},
                  {"unnamed", unnamed},
                  {"cancelled", context.isCancelled()}};
  addUnreadable(answer, walk.unreadable());
  answer.emplace("items", std::move(items));  // moved, not copied as a list literal would be
  return answer;
}

}  // namespace nimbra
