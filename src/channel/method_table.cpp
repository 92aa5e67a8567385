#include "channel/method_table.h"

#include <algorithm>
#include <array>

#include "channel/method_args.h"
#include "platform/home.h"

namespace nimbra {
namespace {

using S = NimbraNative;
using A = ValueMap;

// Methods of the interface not answered yet (they fall through to "not implemented"):
// "listApps", "appLeftovers".
const MethodEntry kMethods[] = {
    {"cancel", Runs::main, [](S& s, const A&) -> Value { s.cancel(); return true; }},
    {"homeDir", Runs::main, [](S&, const A&) -> Value { return homeDirectory(); }},
    {"deviceId", Runs::main, [](S& s, const A&) -> Value { return s.deviceIdentifier(); }},
    {"deviceName", Runs::main, [](S& s, const A&) -> Value { return s.deviceName(); }},
    {"revealPath", Runs::main, [](S& s, const A& a) -> Value { if (auto p = decodePathArgs(a).path) s.revealPath(*p); return true; }},
    {"openPath", Runs::main, [](S& s, const A& a) -> Value { if (auto p = decodePathArgs(a).path) s.openPath(*p); return true; }},
    {"pickFolder", Runs::mainLater, nullptr, [](S& s, const A&, Completion done) {
       s.pickFolder([done](std::optional<std::string> folder) { done(folder ? Value(*folder) : Value()); });
     }},
    {"systemInfo", Runs::info, [](S& s, const A&) -> Value { return s.systemInfo(); }},
    {"memoryInfo", Runs::info, [](S& s, const A&) -> Value { return s.memoryInfo(); }},
    {"optimizeMemory", Runs::info, [](S& s, const A&) -> Value { return s.optimizeMemory(); }},
    {"deleteItems", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeDeleteItemsArgs(a); return s.deleteItems(d.paths, d.toTrash, d.allowAdmin); }},
    {"uninstallApp", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeUninstallAppArgs(a); return s.deleteItems(d.paths, d.toTrash, d.allowAdmin); }},
    {"emptyTrash", Runs::work, [](S& s, const A&) -> Value { return s.emptyTrash(); }},
    {"sizeOf", Runs::work, [](S& s, const A& a) -> Value { return ValueMap{{"size", s.sizeOf(decodePathArgs(a).path.value_or(""))}}; }},
    {"scanJunk", Runs::work, [](S& s, const A&) -> Value { return s.scanJunk(); }},
    {"scanLargeFiles", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeScanLargeFilesArgs(a); return s.scanLargeFiles(d.root, d.minSize); }},
    {"scanDuplicates", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeScanDuplicatesArgs(a); return s.scanDuplicates(d.root, d.minSize); }},
    {"analyzeDisk", Runs::work, [](S& s, const A& a) -> Value { auto d = decodeAnalyzeDiskArgs(a); return s.analyzeDisk(d.root, d.depth); }},
    {"listStartupItems", Runs::info, [](S& s, const A&) -> Value { return s.listStartupItems(); }},
    {"setStartupItem", Runs::info, [](S& s, const A& a) -> Value { auto d = decodeStartupItemArgs(a); return s.setStartupItem(d.id, d.kind, d.enabled); }},
    {"removeStartupItem", Runs::info, [](S& s, const A& a) -> Value { auto d = decodeStartupItemArgs(a); return s.removeStartupItem(d.id, d.kind); }},
};

}  // namespace

std::span<const MethodEntry> methodTable() { return kMethods; }

const MethodEntry* findMethod(std::string_view name) {
  auto found = std::find_if(std::begin(kMethods), std::end(kMethods),
                            [&](const MethodEntry& e) { return e.name == name; });
  return found == std::end(kMethods) ? nullptr : &*found;
}

}  // namespace nimbra
