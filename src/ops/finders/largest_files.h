#pragma once

// The large file scan's list: the largest files, in memory bounded by the list's length.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/value.h"

namespace nimbra {

// The most files the large file scan lists.
inline constexpr size_t kLargeFilesListed = 400;

// The extension of a file name, lower-cased: what follows its last ".", "" when there is
// none or the only dot starts the name (".profile"). Only ASCII letters change case.
std::string lowerCaseExtension(std::string_view name);

struct LargeFile {
  std::string path;
  std::string name;
  int64_t size = 0;
  int64_t modified = 0;
};

// Keeps the `capacity` largest files offered, as sorting everything offered by size
// (largest first, stable: equal sizes in the order offered) and cutting the list would, but
// in memory bounded by `capacity` however many files are offered.
class LargestFiles {
 public:
  explicit LargestFiles(size_t capacity) : capacity_(capacity) {}

  // Whether a file of `size` would be kept; lets the caller skip building a LargeFile.
  bool wouldKeep(int64_t size) const;
  void offer(LargeFile file);
  // The kept files, largest first; equal sizes in the order they were offered.
  std::vector<LargeFile> take();

 private:
  struct Ranked {
    LargeFile file;
    uint64_t order;
  };
  static bool ranksBefore(const Ranked& a, const Ranked& b);

  size_t capacity_;
  uint64_t offered_ = 0;
  std::vector<Ranked> heap_;  // the kept files, the one ranked last on top
};

// The files as the answers list them, each {"path", "name", "size", "ext", "modified"}, in their
// order. A path that is not UTF-8 cannot travel to the interface: such a file is counted in
// `unnamed` instead, and its place is not given to a smaller file.
ValueList largeFileItems(const std::vector<LargeFile>& files, int64_t& unnamed);

}  // namespace nimbra
