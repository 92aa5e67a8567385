#include "ops/finders/scan_large_files.h"

#include <utility>

#include "base/utf8.h"
#include "ops/finders/finder_walk.h"
#include "ops/finders/largest_files.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "large";
// Progress is offered on every this-many regular files.
constexpr int64_t kProgressEvery = 500;

ValueMap itemMap(const LargeFile& file) {
  return ValueMap{{"path", file.path},
                  {"name", file.name},
                  {"size", file.size},
                  {"ext", lowerCaseExtension(file.name)},
                  {"modified", file.modified}};
}

}  // namespace

ValueMap scanLargeFiles(OperationContext& context, const std::string& root, int64_t minSize) {
  FinderWalk walk(root, {.library = LibraryPruning::homeLevelOnly, .home = context.folders.home},
                  [&context] { return context.isCancelled(); });
  if (!walk.ok()) return ValueMap{{"items", ValueList{}}, {"scanned", int64_t{0}}};

  int64_t scanned = 0;
  int64_t totalBytes = 0;
  LargestFiles largest(kLargeFilesListed);
  while (const WalkEntry* file = walk.nextFile()) {
    int64_t size = file->stat()->st_size;
    ++scanned;
    totalBytes += size;
    if (scanned % kProgressEvery == 0) {
      context.progress.offer(kTask, file->path(), scanned, totalBytes, false);
    }
    // Paths that are not UTF-8 cannot travel to the interface; they still count above.
    if (size >= minSize && largest.wouldKeep(size) && isValidUtf8(file->path())) {
      largest.offer(LargeFile{file->path(), std::string(file->name()), size, file->modified()});
    }
  }

  ValueList items;
  for (const LargeFile& found : largest.take()) items.push_back(itemMap(found));
  context.progress.offer(kTask, "", scanned, totalBytes, true);
  ValueMap answer{{"scanned", scanned}, {"cancelled", context.isCancelled()}};
  answer.emplace("items", std::move(items));  // moved, not copied as a list literal would be
  return answer;
}

}  // namespace nimbra
