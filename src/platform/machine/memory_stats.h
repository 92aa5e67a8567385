#pragma once

// Memory figures from the kernel's /proc/meminfo and the process list from ps(1), read the way
// the interface's memory page expects them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

// Page counts in the virtual-memory statistics' terms.
struct MemoryPages {
  int64_t free = 0;         // MemFree
  int64_t active = 0;       // Active
  int64_t inactive = 0;     // Inactive
  int64_t speculative = 0;  // no Linux counterpart
  int64_t wired = 0;        // Unevictable + SUnreclaim + KernelStack + PageTables
  int64_t compressor = 0;   // Zswap, 0 without it
  int64_t external = 0;     // Active(file) + Inactive(file): file-backed pages
};

// The page counts of a /proc/meminfo text; nullopt when it lacks MemFree, Active or Inactive.
std::optional<MemoryPages> memoryPagesFromMeminfo(std::string_view meminfo, int64_t pageSize);
// MemTotal in bytes; nullopt when absent.
std::optional<int64_t> physicalMemoryFromMeminfo(std::string_view meminfo);

// The byte figures of "memoryInfo", all 0 but total when the statistics are unavailable.
struct MemoryFigures {
  int64_t total = 0;
  int64_t used = 0;  // never above total
  int64_t free = 0;
  int64_t cached = 0;
  int64_t wired = 0;
  int64_t compressed = 0;
  int64_t pressure = 0;  // used as a whole percentage of total, 0..100
};
MemoryFigures memoryFigures(int64_t total, const std::optional<MemoryPages>& pages,
                            int64_t pageSize);

// One line of the process list.
struct ProcessMemory {
  int64_t pid = 0;    // within the int32 range
  std::string name;   // the last component of the command's path
  int64_t bytes = 0;  // resident
};

// The process list's first 12 lines; lines that do not read as "PID KIB PATH" are skipped, not
// replaced by later ones.
std::vector<ProcessMemory> topProcesses(std::string_view psOutput);

}  // namespace nimbra
