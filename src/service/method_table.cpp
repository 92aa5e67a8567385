#include "service/method_table.h"

#include <algorithm>

#include "ops/apps/app_leftovers.h"
#include "ops/apps/list_apps.h"
#include "ops/apps/uninstall_app.h"
#include "ops/desktop/desktop_abilities.h"
#include "ops/desktop/device_id.h"
#include "ops/desktop/device_name.h"
#include "ops/desktop/home_dir.h"
#include "ops/desktop/open_path.h"
#include "ops/desktop/pick_folder.h"
#include "ops/desktop/reveal_path.h"
#include "ops/finders/analyze_disk.h"
#include "ops/finders/file_stats.h"
#include "ops/finders/scan_duplicates.h"
#include "ops/finders/scan_large_files.h"
#include "ops/history/disk_changes.h"
#include "ops/history/disk_history.h"
#include "ops/history/forget_history.h"
#include "ops/junk/empty_trash.h"
#include "ops/junk/item_facts.h"
#include "ops/junk/list_trash.h"
#include "ops/junk/scan_junk.h"
#include "ops/machine/memory_info.h"
#include "ops/machine/optimize_memory.h"
#include "ops/machine/system_info.h"
#include "ops/removal/delete_items.h"
#include "ops/removal/restore_items.h"
#include "ops/removal/trash_items.h"
#include "ops/size/size_of.h"
#include "ops/startup/list_startup_items.h"
#include "ops/startup/remove_startup_item.h"
#include "ops/startup/set_startup_item.h"
#include "ops/unreadable_answer.h"
#include "service/method_args.h"
#include "service/nimbra_native.h"

namespace nimbra {
namespace {

// Each row's `perform`: decode the arguments into the operation's record, run the operation.
// An operation that takes nothing but its context has nothing to decode.
template <auto operation>
Value contextOnly(NimbraNative&, OperationContext& context, const ValueMap&) {
  return operation(context);
}
Value cancel(NimbraNative& service, OperationContext&, const ValueMap&) {
  service.cancel();
  return true;
}
Value revealPath(NimbraNative&, OperationContext& context, const ValueMap& args) {
  if (std::optional<std::string> path = decodePathArgs(args).path) revealPath(context, *path);
  return true;
}
Value openPath(NimbraNative&, OperationContext& context, const ValueMap& args) {
  if (std::optional<std::string> path = decodePathArgs(args).path) openPath(context, *path);
  return true;
}
void pickFolder(OperationContext& context, const ValueMap&, Completion done) {
  pickFolder(context, [done](std::optional<std::string> folder) {
    done(folder ? Value(*folder) : Value());
  });
}
Value setStartupItem(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const StartupItemArgs item = decodeStartupItemArgs(args);
  return setStartupItem(context, item.id, item.kind, item.enabled);
}
Value removeStartupItem(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const StartupItemArgs item = decodeStartupItemArgs(args);
  return removeStartupItem(context, item.id, item.kind);
}
Value deleteItems(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const DeleteArgs deletion = decodeDeleteItemsArgs(args);
  return deleteItems(context, deletion.paths, deletion.toTrash, deletion.allowAdmin);
}
Value uninstallApp(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const DeleteArgs deletion = decodeUninstallAppArgs(args);
  return uninstallApp(context, deletion.paths, deletion.toTrash);
}
Value trashItems(NimbraNative&, OperationContext& context, const ValueMap& args) {
  return trashItems(context, decodeTrashItemsArgs(args).paths);
}
Value restoreItems(NimbraNative&, OperationContext& context, const ValueMap& args) {
  return restoreItems(context, decodeRestoreItemsArgs(args).paths);
}
Value emptyTrash(NimbraNative&, OperationContext& context, const ValueMap& args) {
  return emptyTrash(context, decodeEmptyTrashArgs(args).paths);
}
Value inspectItems(NimbraNative&, OperationContext& context, const ValueMap& args) {
  return inspectItems(context, decodeInspectItemsArgs(args).paths);
}
Value sizeOf(NimbraNative&, OperationContext& context, const ValueMap& args) {
  UnreadableFolders unreadable;
  ValueMap answer{{"size", sizeOf(context, decodePathArgs(args).path.value_or(""), &unreadable)}};
  addUnreadable(answer, unreadable);
  return answer;
}
Value scanLargeFiles(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const RootMinSizeArgs scan = decodeScanLargeFilesArgs(args, context.folders.home);
  return scanLargeFiles(context, scan.root, scan.minSize);
}
Value scanDuplicates(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const RootMinSizeArgs scan = decodeScanDuplicatesArgs(args, context.folders.home);
  return scanDuplicates(context, scan.root, scan.minSize);
}
Value analyzeDisk(NimbraNative& service, OperationContext& context, const ValueMap& args) {
  const AnalyzeDiskArgs tree = decodeAnalyzeDiskArgs(args, context.folders.home);
  return analyzeDisk(context, tree.root, tree.depth, tree.record, service.diskWalkSinks());
}
Value diskHistory(NimbraNative&, OperationContext& context, const ValueMap& args) {
  return diskHistory(context, decodeHistoryArgs(args).path);
}
Value diskChanges(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const DiskChangesArgs changes = decodeDiskChangesArgs(args, context.folders.home);
  return diskChanges(context, changes.path, changes.from, changes.to);
}
Value forgetHistory(NimbraNative&, OperationContext& context, const ValueMap& args) {
  return forgetHistory(context, decodeHistoryArgs(args).path);
}
Value fileStats(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const FileStatsArgs stats = decodeFileStatsArgs(args, context.folders.home);
  return fileStats(context, stats.root, stats.kind);
}
Value appLeftovers(NimbraNative&, OperationContext& context, const ValueMap& args) {
  const AppLeftoversArgs app = decodeAppLeftoversArgs(args);
  return appLeftovers(context, app.bundleId, app.name);
}

// Every method of the interface; any other name falls through to "not implemented".
const MethodEntry kMethods[] = {
    {"cancel", Runs::main, cancel},
    {"homeDir", Runs::main, contextOnly<homeDir>},
    {"deviceId", Runs::main, contextOnly<deviceIdentifier>},
    {"deviceName", Runs::main, contextOnly<deviceName>},
    {"revealPath", Runs::main, revealPath},
    {"openPath", Runs::main, openPath},
    {"pickFolder", Runs::mainLater, nullptr, pickFolder},
    {"desktopAbilities", Runs::main, contextOnly<desktopAbilities>},
    {"systemInfo", Runs::info, contextOnly<systemInfo>},
    {"memoryInfo", Runs::info, contextOnly<memoryInfo>},
    {"optimizeMemory", Runs::info, contextOnly<optimizeMemory>},
    {"listStartupItems", Runs::info, contextOnly<listStartupItems>},
    {"setStartupItem", Runs::info, setStartupItem},
    {"removeStartupItem", Runs::info, removeStartupItem},
    {"deleteItems", Runs::work, deleteItems},
    {"uninstallApp", Runs::work, uninstallApp},
    {"trashItems", Runs::work, trashItems},
    {"emptyTrash", Runs::work, emptyTrash},
    {"restoreItems", Runs::work, restoreItems},
    {"listTrash", Runs::work, contextOnly<listTrash>},
    {"sizeOf", Runs::work, sizeOf},
    {"scanJunk", Runs::work, contextOnly<scanJunk>},
    {"inspectItems", Runs::work, inspectItems},
    {"scanLargeFiles", Runs::work, scanLargeFiles},
    {"scanDuplicates", Runs::work, scanDuplicates},
    {"analyzeDisk", Runs::work, analyzeDisk},
    {"fileStats", Runs::work, fileStats},
    {"diskHistory", Runs::work, diskHistory},
    {"diskChanges", Runs::work, diskChanges},
    {"forgetHistory", Runs::work, forgetHistory},
    {"listApps", Runs::work, contextOnly<listApps>},
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
