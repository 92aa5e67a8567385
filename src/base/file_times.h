#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace nimbra {

// A file time as whole seconds since 1970, truncated toward zero: 1.5 s before 1970 is -1,
// where the raw seconds field (which rounds down) would say -2.
inline int64_t wholeSeconds(const timespec& time) {
  int64_t seconds = time.tv_sec;
  if (seconds < 0 && time.tv_nsec > 0) ++seconds;
  return seconds;
}

// Which of the two a call on a symbolic link looks at.
enum class LinkAt { target, itself };

// The modification time of what `path` names, as wholeSeconds; 0 when it cannot be read.
inline int64_t modifiedSeconds(const std::string& path, LinkAt link) {
  struct stat info {};
  const int read =
      link == LinkAt::target ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
  return read == 0 ? wholeSeconds(info.st_mtim) : 0;
}

}  // namespace nimbra
