#include "ops/machine/memory_info.h"

#include <unistd.h>

#include "platform/machine/memory_stats.h"

namespace nimbra {
namespace {

constexpr const char* kProcessLister = "/bin/ps";
// All processes; pid, resident KiB and command, no header; largest resident set first.
const std::vector<std::string> kProcessListArguments = {"-axo", "pid=,rss=,comm=", "--sort=-rss"};

ValueList processList(const std::vector<ProcessMemory>& processes) {
  ValueList list;
  for (const ProcessMemory& process : processes) {
    list.push_back(ValueMap{{"pid", process.pid}, {"name", process.name}, {"mem", process.bytes}});
  }
  return list;
}

}  // namespace

ValueMap memoryInfo(OperationContext& context) {
  const int64_t pageSize = ::sysconf(_SC_PAGESIZE);
  const std::optional<std::string> meminfo = context.machine.readFile("/proc/meminfo");
  int64_t total = meminfo ? physicalMemoryFromMeminfo(*meminfo).value_or(0) : 0;
  if (total == 0) total = static_cast<int64_t>(::sysconf(_SC_PHYS_PAGES)) * pageSize;
  const MemoryFigures figures = memoryFigures(
      total, meminfo ? memoryPagesFromMeminfo(*meminfo, pageSize) : std::nullopt, pageSize);
  return ValueMap{
      {"total", figures.total},
      {"used", figures.used},
      {"free", figures.free},
      {"cached", figures.cached},
      {"wired", figures.wired},
      {"compressed", figures.compressed},
      {"pressure", figures.pressure},
      {"topProcesses",
       processList(topProcesses(context.commands.run(kProcessLister, kProcessListArguments)))}};
}

}  // namespace nimbra
