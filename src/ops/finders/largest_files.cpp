#include "ops/finders/largest_files.h"

#include <algorithm>
#include <utility>

#include "base/utf8.h"

namespace nimbra {

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

ValueList largeFileItems(const std::vector<LargeFile>& files, int64_t& unnamed) {
  ValueList items;
  for (const LargeFile& file : files) {
    if (!isValidUtf8(file.path)) {
      ++unnamed;
      continue;
    }
    items.emplace_back(ValueMap{{"path", file.path},
                                {"name", file.name},
                                {"size", file.size},
                                {"ext", lowerCaseExtension(file.name)},
                                {"modified", file.modified}});
  }
  return items;
}

}  // namespace nimbra
