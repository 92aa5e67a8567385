#include "channel/method_table.h"

#include <algorithm>
#include <array>

#include "channel/method_args.h"

namespace nimbra {
namespace {

using S = NimbraNative;
using A = ValueMap;

// Methods of the interface not answered yet (they fall through to "not implemented"):
// "homeDir", "deviceId", "deviceName", "revealPath", "openPath", "pickFolder",
// "systemInfo", "memoryInfo", "optimizeMemory", "listStartupItems", "setStartupItem",
// "removeStartupItem", "listApps", "appLeftovers".
const MethodEntry kMethods[] = {
    {"cancel", Runs::main, [](S& s, const A&) -> Value { s.cancel(); return true; }},
};

}  // namespace

std::span<const MethodEntry> methodTable() { return kMethods; }

const MethodEntry* findMethod(std::string_view name) {
  auto found = std::find_if(std::begin(kMethods), std::end(kMethods),
                            [&](const MethodEntry& e) { return e.name == name; });
  return found == std::end(kMethods) ? nullptr : &*found;
}

}  // namespace nimbra
