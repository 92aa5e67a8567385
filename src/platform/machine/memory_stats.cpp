#include "platform/machine/memory_stats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <string>

#include "base/path_parts.h"

namespace nimbra {
namespace {

constexpr size_t kProcessLinesKept = 12;
constexpr int64_t kKibibyte = 1024;

// "Key:   123 kB" lines as key -> kibibytes.
std::map<std::string, int64_t, std::less<>> meminfoFields(std::string_view meminfo) {
  std::map<std::string, int64_t, std::less<>> fields;
  std::istringstream lines{std::string(meminfo)};
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream value(line.substr(colon + 1));
    int64_t kib = 0;
    if (value >> kib && kib >= 0) fields[line.substr(0, colon)] = kib;
  }
  return fields;
}

template <class T>
std::optional<T> wholeNumber(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The last component of `path` as a file path: "/a/b/" gives "b", "/" stays "/".
std::string lastPathComponent(const std::string& path) {
  const PathParts parts = splitLastComponent(path);
  return parts.name.empty() ? withoutTrailingSlashes(path) : parts.name;
}

std::optional<ProcessMemory> processEntry(std::string_view line) {
  const size_t first = line.find_first_not_of(" \t");
  const size_t last = line.find_last_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  line = line.substr(first, last - first + 1);
  // Two fields of non-space runs, then everything after the space that ends the second.
  const size_t pidEnd = line.find(' ');
  if (pidEnd == std::string_view::npos) return std::nullopt;
  const size_t sizeStart = line.find_first_not_of(' ', pidEnd);
  const size_t sizeEnd = line.find(' ', sizeStart);
  if (sizeEnd == std::string_view::npos) return std::nullopt;
  const auto pid = wholeNumber<int64_t>(line.substr(0, pidEnd));
  const auto kib = wholeNumber<int64_t>(line.substr(sizeStart, sizeEnd - sizeStart));
  if (!pid || !kib || *pid < std::numeric_limits<int32_t>::min() ||
      *pid > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  // A size whose bytes overflow is as unreadable as one that is no number at all.
  if (*kib > std::numeric_limits<int64_t>::max() / kKibibyte ||
      *kib < std::numeric_limits<int64_t>::min() / kKibibyte) {
    return std::nullopt;
  }
  return ProcessMemory{*pid, lastPathComponent(std::string(line.substr(sizeEnd + 1))),
                       *kib * kKibibyte};
}

}  // namespace

std::optional<MemoryPages> memoryPagesFromMeminfo(std::string_view meminfo, int64_t pageSize) {
  const auto fields = meminfoFields(meminfo);
  for (const char* needed : {"MemFree", "Active", "Inactive"}) {
    if (!fields.contains(needed)) return std::nullopt;
  }
  auto pages = [&](std::initializer_list<const char*> keys) {
    int64_t kib = 0;
    for (const char* key : keys) {
      if (auto it = fields.find(key); it != fields.end()) kib += it->second;
    }
    return pageSize > 0 ? kib * kKibibyte / pageSize : 0;
  };
  MemoryPages result;
  result.free = pages({"MemFree"});
  result.active = pages({"Active"});
  result.inactive = pages({"Inactive"});
  result.wired = pages({"Unevictable", "SUnreclaim", "KernelStack", "PageTables"});
  result.compressor = pages({"Zswap"});
  result.external = pages({"Active(file)", "Inactive(file)"});
  return result;
}

std::optional<int64_t> physicalMemoryFromMeminfo(std::string_view meminfo) {
  const auto fields = meminfoFields(meminfo);
  if (auto it = fields.find("MemTotal"); it != fields.end()) return it->second * kKibibyte;
  return std::nullopt;
}

MemoryFigures memoryFigures(int64_t total, const std::optional<MemoryPages>& pages,
                            int64_t pageSize) {
  MemoryFigures figures;
  figures.total = total;
  if (pages) {
    figures.wired = pages->wired * pageSize;
    figures.compressed = pages->compressor * pageSize;
    figures.cached = pages->external * pageSize;
    figures.free = (pages->free + pages->inactive + pages->speculative) * pageSize;
    figures.used = std::min(pages->active * pageSize + figures.wired + figures.compressed, total);
  }
  if (total > 0) {
    const double percent =
        std::trunc(static_cast<double>(figures.used) / static_cast<double>(total) * 100);
    figures.pressure = static_cast<int64_t>(std::clamp(percent, 0.0, 100.0));
  }
  return figures;
}

std::vector<ProcessMemory> topProcesses(std::string_view psOutput) {
  std::vector<ProcessMemory> processes;
  size_t kept = 0;
  for (size_t start = 0; start < psOutput.size() && kept < kProcessLinesKept;) {
    size_t end = psOutput.find('\n', start);
    if (end == std::string_view::npos) end = psOutput.size();
    const std::string_view line = psOutput.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    ++kept;
    if (auto entry = processEntry(line)) processes.push_back(std::move(*entry));
  }
  return processes;
}

}  // namespace nimbra
