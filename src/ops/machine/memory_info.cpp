// "memoryInfo" and "optimizeMemory".

#include <unistd.h>

#include "service/nimbra_native.h"
#include "platform/machine/memory_stats.h"

namespace nimbra {
namespace {

constexpr const char* kProcessLister = "/bin/ps";
// All processes; pid, resident KiB and command, no header; largest resident set first.
const std::vector<std::string> kProcessListArguments = {"-axo", "pid=,rss=,comm=", "--sort=-rss"};
// Writes dirty pages back first, so that dropping the caches frees them rather than failing.
constexpr const char* kPurgeScript =
    "do shell script \"sync; echo 3 > /proc/sys/vm/drop_caches\" with administrator privileges";
// Lets the kernel settle the freed pages before the second measurement.
constexpr double kPurgeSettleSeconds = 1.2;

ValueList processList(const std::vector<ProcessMemory>& processes) {
  ValueList list;
  for (const ProcessMemory& process : processes) {
    list.push_back(ValueMap{{"pid", process.pid}, {"name", process.name}, {"mem", process.bytes}});
  }
  return list;
}

int64_t usedOf(const ValueMap& memory) {
  auto it = memory.find("used");
  return it == memory.end() ? 0 : intValue(it->second).value_or(0);
}

}  // namespace

ValueMap NimbraNative::memoryInfo() {
  const int64_t pageSize = ::sysconf(_SC_PAGESIZE);
  const std::optional<std::string> meminfo = seams_.machineSources->readFile("/proc/meminfo");
  int64_t total = meminfo ? physicalMemoryFromMeminfo(*meminfo).value_or(0) : 0;
  if (total == 0) total = static_cast<int64_t>(::sysconf(_SC_PHYS_PAGES)) * pageSize;
  const MemoryFigures figures = memoryFigures(
      total, meminfo ? memoryPagesFromMeminfo(*meminfo, pageSize) : std::nullopt, pageSize);
  return ValueMap{{"total", figures.total},
                  {"used", figures.used},
                  {"free", figures.free},
                  {"cached", figures.cached},
                  {"wired", figures.wired},
                  {"compressed", figures.compressed},
                  {"pressure", figures.pressure},
                  {"topProcesses", processList(topProcesses(run(kProcessLister, kProcessListArguments)))}};
}

ValueMap NimbraNative::optimizeMemory() {
  const int64_t before = usedOf(memoryInfo());
  const ScriptResult purge = runAppleScriptResult(kPurgeScript);
  seams_.pause(kPurgeSettleSeconds);
  const int64_t after = usedOf(memoryInfo());
  return ValueMap{{"ok", purge.ok},
                  {"error", purge.ok ? std::string() : purge.text.value_or("")},
                  {"before", before},
                  {"after", after},
                  {"freed", std::max<int64_t>(before - after, 0)}};
}

}  // namespace nimbra
