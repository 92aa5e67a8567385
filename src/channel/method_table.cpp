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
// "removeStartupItem".
const MethodEntry kMethods[] = {
    {"cancel", Runs::main, [](S& s, const A&) -> Value { s.cancel(); return true; }},
    {"deleteItems", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeDeleteItemsArgs(a); return s.deleteItems(d.paths, d.toTrash, d.allowAdmin); }},
    {"uninstallApp", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeUninstallAppArgs(a); return s.deleteItems(d.paths, d.toTrash, d.allowAdmin); }},
    {"emptyTrash", Runs::work, [](S& s, const A&) -> Value { return s.emptyTrash(); }},
    {"sizeOf", Runs::work, [](S& s, const A& a) -> Value { return ValueMap{{"size", s.sizeOf(decodePathArgs(a).path.value_or(""))}}; }},
    {"scanJunk", Runs::work, [](S& s, const A&) -> Value { return s.scanJunk(); }},
    {"scanLargeFiles", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeScanLargeFilesArgs(a); return s.scanLargeFiles(d.root, d.minSize); }},
    {"scanDuplicates", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeScanDuplicatesArgs(a); return s.scanDuplicates(d.root, d.minSize); }},
    {"listApps", Runs::work, [](S& s, const A&) -> Value { return s.listApps(); }},
    {"appLeftovers", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeAppLeftoversArgs(a); return s.appLeftovers(d.bundleId, d.name); }},
    {"analyzeDisk", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeAnalyzeDiskArgs(a); return s.analyzeDisk(d.root, d.depth); }},
};

}  // namespace

std::span<const MethodEntry> methodTable() { return kMethods; }

const MethodEntry* findMethod(std::string_view name) {
  auto found = std::find_if(std::begin(kMethods), std::end(kMethods),
                            [&](const MethodEntry& e) { return e.name == name; });
  return found == std::end(kMethods) ? nullptr : &*found;
}

}  // namespace nimbra
