#include "ops/machine/system_info.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "base/white_space.h"
#include "ops/machine/memory_info.h"
#include "ops/machine/volumes.h"
#include "platform/machine/home.h"
#include "platform/machine/machine_identity.h"

namespace nimbra {
namespace {

constexpr size_t kVersionParts = 3;

int64_t secondsSinceBoot() {
  timespec now{};
  if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return 0;
  return now.tv_sec;
}

int64_t entryOr0(const ValueMap& map, const char* key) {
  auto it = map.find(key);
  return it == map.end() ? 0 : intValue(it->second).value_or(0);
}

}  // namespace

std::string osVersionFromRelease(std::string_view release) {
  std::vector<std::string_view> numbers;
  for (size_t pos = 0; numbers.size() < kVersionParts;) {
    size_t end = pos;
    while (end < release.size() && std::isdigit(static_cast<unsigned char>(release[end]))) ++end;
    if (end == pos) break;
    numbers.push_back(release.substr(pos, end - pos));
    if (end == release.size() || release[end] != '.') break;
    pos = end + 1;
  }
  std::string version;
  for (size_t part = 0; part < kVersionParts; ++part) {
    std::string_view number = part < numbers.size() ? numbers[part] : "0";
    // Leading zeros say nothing: "6.01" is version 6.1.
    number.remove_prefix(std::min(number.find_first_not_of('0'), number.size() - 1));
    version += std::string(part > 0 ? "." : "") + std::string(number);
  }
  return version;
}

std::string cpuBrandFromCpuinfo(std::string_view cpuinfo) {
  std::istringstream lines{std::string(cpuinfo)};
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && trimWhiteSpace(line.substr(0, colon)) == "model name") {
      return trimWhiteSpace(line.substr(colon + 1));
    }
  }
  return {};
}

ValueMap systemInfo(OperationContext& context) {
  MachineSources& sources = context.machine;
  const std::string osVersion = osVersionFromRelease(sources.kernelRelease());
  std::string cpu = cpuBrandFromCpuinfo(sources.readFile("/proc/cpuinfo").value_or(""));
  if (cpu.empty()) cpu = "Apple Silicon";
  ValueList disks = mountedVolumes(sources);
  const ValueMap memory = memoryInfo(context);
  return ValueMap{{"os", "macOS"},
                  {"osVersion", osVersion},
                  {"host", computerName(sources)},
                  {"user", fullUserName()},
                  {"cpu", cpu},
                  {"arch", "arm64"},
                  {"cores", static_cast<int64_t>(::sysconf(_SC_NPROCESSORS_CONF))},
                  {"memTotal", entryOr0(memory, "total")},
                  {"memUsed", entryOr0(memory, "used")},
                  {"uptime", secondsSinceBoot()},
                  {"disks", std::move(disks)},
                  {"home", context.folders.home}};
}

}  // namespace nimbra
