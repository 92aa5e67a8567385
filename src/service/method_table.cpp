#include "service/method_table.h"

#include <algorithm>
#include <array>

#include "service/method_args.h"
#include "platform/machine/home.h"

namespace nimbra {
namespace {

// Each row's `perform`: decode the arguments into the operation's record, run the operation.
Value cancel(NimbraNative& service, const ValueMap&) {
  service.cancel();
  return true;
}
Value homeDir(NimbraNative&, const ValueMap&) { return homeDirectory(); }
Value deviceId(NimbraNative& service, const ValueMap&) { return service.deviceIdentifier(); }
Value deviceName(NimbraNative& service, const ValueMap&) { return service.deviceName(); }
Value revealPath(NimbraNative& service, const ValueMap& args) {
  if (std::optional<std::string> path = decodePathArgs(args).path) service.revealPath(*path);
  return true;
}
Value openPath(NimbraNative& service, const ValueMap& args) {
  if (std::optional<std::string> path = decodePathArgs(args).path) service.openPath(*path);
  return true;
}
void pickFolder(NimbraNative& service, const ValueMap&, Completion done) {
  service.pickFolder([done](std::optional<std::string> folder) { done(folder ? Value(*folder) : Value()); });
}
Value systemInfo(NimbraNative& service, const ValueMap&) { return service.systemInfo(); }
Value memoryInfo(NimbraNative& service, const ValueMap&) { return service.memoryInfo(); }
Value optimizeMemory(NimbraNative& service, const ValueMap&) { return service.optimizeMemory(); }
Value listStartupItems(NimbraNative& service, const ValueMap&) { return service.listStartupItems(); }
Value setStartupItem(NimbraNative& service, const ValueMap& args) {
  const StartupItemArgs item = decodeStartupItemArgs(args);
  return service.setStartupItem(item.id, item.kind, item.enabled);
}
Value removeStartupItem(NimbraNative& service, const ValueMap& args) {
  const StartupItemArgs item = decodeStartupItemArgs(args);
  return service.removeStartupItem(item.id, item.kind);
}
Value deleteItems(NimbraNative& service, const ValueMap& args) {
  const DeleteArgs deletion = decodeDeleteItemsArgs(args);
  return service.deleteItems(deletion.paths, deletion.toTrash, deletion.allowAdmin);
}
Value uninstallApp(NimbraNative& service, const ValueMap& args) {
  const DeleteArgs deletion = decodeUninstallAppArgs(args);
  return service.deleteItems(deletion.paths, deletion.toTrash, deletion.allowAdmin);
}
Value trashItems(NimbraNative& service, const ValueMap& args) {
  return service.trashItems(decodeTrashItemsArgs(args).paths);
}
Value emptyTrash(NimbraNative& service, const ValueMap&) { return service.emptyTrash(); }
Value sizeOf(NimbraNative& service, const ValueMap& args) {
  return ValueMap{{"size", service.sizeOf(decodePathArgs(args).path.value_or(""))}};
}
Value scanJunk(NimbraNative& service, const ValueMap&) { return service.scanJunk(); }
Value scanLargeFiles(NimbraNative& service, const ValueMap& args) {
  const RootMinSizeArgs scan = decodeScanLargeFilesArgs(args);
  return service.scanLargeFiles(scan.root, scan.minSize);
}
Value scanDuplicates(NimbraNative& service, const ValueMap& args) {
  const RootMinSizeArgs scan = decodeScanDuplicatesArgs(args);
  return service.scanDuplicates(scan.root, scan.minSize);
}
Value analyzeDisk(NimbraNative& service, const ValueMap& args) {
  const AnalyzeDiskArgs tree = decodeAnalyzeDiskArgs(args);
  return service.analyzeDisk(tree.root, tree.depth);
}

Value listApps(NimbraNative& service, const ValueMap&) { return service.listApps(); }
Value appLeftovers(NimbraNative& service, const ValueMap& args) {
  const AppLeftoversArgs app = decodeAppLeftoversArgs(args);
  return service.appLeftovers(app.bundleId, app.name);
}

// Every method of the interface; any other name falls through to "not implemented".
const MethodEntry kMethods[] = {
    {"cancel", Runs::main, cancel},
    {"homeDir", Runs::main, homeDir},
    {"deviceId", Runs::main, deviceId},
    {"deviceName", Runs::main, deviceName},
    {"revealPath", Runs::main, revealPath},
    {"openPath", Runs::main, openPath},
    {"pickFolder", Runs::mainLater, nullptr, pickFolder},
    {"systemInfo", Runs::info, systemInfo},
    {"memoryInfo", Runs::info, memoryInfo},
    {"optimizeMemory", Runs::info, optimizeMemory},
    {"listStartupItems", Runs::info, listStartupItems},
    {"setStartupItem", Runs::info, setStartupItem},
    {"removeStartupItem", Runs::info, removeStartupItem},
    {"deleteItems", Runs::work, deleteItems},
    {"uninstallApp", Runs::work, uninstallApp},
    {"trashItems", Runs::work, trashItems},
    {"emptyTrash", Runs::work, emptyTrash},
    {"sizeOf", Runs::work, sizeOf},
    {"scanJunk", Runs::work, scanJunk},
    {"scanLargeFiles", Runs::work, scanLargeFiles},
    {"scanDuplicates", Runs::work, scanDuplicates},
    {"analyzeDisk", Runs::work, analyzeDisk},
    {"listApps", Runs::work, listApps},
    {"appLeftovers", Runs::work, appLeftovers},
};

}  // namespace

std::span<const MethodEntry> methodTable() { return kMethods; }

const MethodEntry* findMethod(std::string_view name) {
  auto found = std::find_if(std::begin(kMethods), std::end(kMethods),
                            [&](const MethodEntry& e) { return e.name == name; });
  return found == std::end(kMethods) ? nullptr : &*found;
}

}  // namespace nimbra
