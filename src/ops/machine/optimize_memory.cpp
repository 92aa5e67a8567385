#include "ops/machine/optimize_memory.h"

#include <algorithm>

#include "ops/machine/memory_info.h"
#include "platform/process/script_grammar.h"

namespace nimbra {
namespace {

// Lets the kernel settle the freed pages before the second measurement.
constexpr double kPurgeSettleSeconds = 1.2;

int64_t usedOf(const ValueMap& memory) {
  auto it = memory.find("used");
  return it == memory.end() ? 0 : intValue(it->second).value_or(0);
}

}  // namespace

ValueMap optimizeMemory(OperationContext& context) {
  const int64_t before = usedOf(memoryInfo(context));
  const ScriptResult purge = context.scripts.runScript(kPurgeMemoryScript);
  context.pause(kPurgeSettleSeconds);
  const int64_t after = usedOf(memoryInfo(context));
  return ValueMap{{"ok", purge.ok},
                  {"error", purge.ok ? std::string() : purge.text.value_or("")},
                  {"before", before},
                  {"after", after},
                  {"freed", std::max<int64_t>(before - after, 0)}};
}

}  // namespace nimbra
