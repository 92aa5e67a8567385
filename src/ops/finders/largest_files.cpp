#include "ops/finders/largest_files.h"

#include <algorithm>
#include <utility>

#include "service/nimbra_native.h"
#include "ops/finders/finder_walk.h"
#include "base/utf8.h"

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

std::string lowerCaseExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "";
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

// Larger first; of equal sizes, the one offered first.
bool LargestFiles::ranksBefore(const Ranked& a, const Ranked& b) {
  if (a.file.size != b.file.size) return a.file.size > b.file.size;
  return a.order < b.order;
}

bool LargestFiles::wouldKeep(int64_t size) const {
  if (capacity_ == 0) return false;
  // A newcomer ranks after every kept file of its size, so it must be strictly larger.
  return heap_.size() < capacity_ || size > heap_.front().file.size;
}

void LargestFiles::offer(LargeFile file) {
  if (!wouldKeep(file.size)) return;
  Ranked ranked{std::move(file), offered_++};
  if (heap_.size() == capacity_) {
    std::pop_heap(heap_.begin(), heap_.end(), ranksBefore);
    heap_.back() = std::move(ranked);
  } else {
    heap_.push_back(std::move(ranked));
  }
  std::push_heap(heap_.begin(), heap_.end(), ranksBefore);
}

std::vector<LargeFile> LargestFiles::take() {
  std::sort(heap_.begin(), heap_.end(), ranksBefore);
  std::vector<LargeFile> files;
  files.reserve(heap_.size());
  for (Ranked& ranked : heap_) files.push_back(std::move(ranked.file));
  heap_.clear();
  return files;
}

ValueMap NimbraNative::scanLargeFiles(const std::string& root, int64_t minSize) {
  FinderWalk walk(root, LibraryPruning::homeLevelOnly, [this] { return isCancelled(); });
  if (!walk.ok()) return ValueMap{{"items", ValueList{}}, {"scanned", int64_t{0}}};

  int64_t scanned = 0;
  int64_t totalBytes = 0;
  LargestFiles largest(kLargeFilesListed);
  while (const WalkEntry* file = walk.nextFile()) {
    int64_t size = file->stat()->st_size;
    ++scanned;
    totalBytes += size;
    if (scanned % kProgressEvery == 0) progress(kTask, file->path(), scanned, totalBytes, false);
    // Paths that are not UTF-8 cannot travel to the interface; they still count above.
    if (size >= minSize && largest.wouldKeep(size) && isValidUtf8(file->path())) {
      largest.offer(LargeFile{file->path(), std::string(file->name()), size, file->modified()});
    }
  }

  ValueList items;
  for (const LargeFile& found : largest.take()) items.push_back(itemMap(found));
  progress(kTask, "", scanned, totalBytes, true);
  ValueMap answer{{"scanned", scanned}, {"cancelled", isCancelled()}};
  answer.emplace("items", std::move(items));  // moved, not copied as a list literal would be
  return answer;
}

}  // namespace nimbra
