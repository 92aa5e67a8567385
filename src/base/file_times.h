#pragma once

#include <ctime>
#include <cstdint>

namespace nimbra {

// A file time as whole seconds since 1970, truncated toward zero: 1.5 s before 1970 is -1,
// where the raw seconds field (which rounds down) would say -2.
inline int64_t wholeSeconds(const timespec& time) {
  int64_t seconds = time.tv_sec;
  if (seconds < 0 && time.tv_nsec > 0) ++seconds;
  return seconds;
}

}  // namespace nimbra
