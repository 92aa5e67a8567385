#include "removal/removal_measure.h"

#include <sys/stat.h>

#include "platform/dir_walker.h"

namespace nimbra {

int64_t uncancelledSizeOf(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return st.st_size;
  if (!S_ISDIR(st.st_mode)) return 0;
  int64_t total = 0;
  DirWalker walker(path);
  while (const WalkEntry* entry = walker.next()) {
    if (entry->isRegular()) total += entry->size();
  }
  return total;
}

}  // namespace nimbra
