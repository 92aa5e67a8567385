#include "ops/junk/scan_junk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "base/file_times.h"
#include "base/path_parts.h"
#include "base/utf8.h"
#include "ops/junk/junk_catalogue.h"
#include "ops/size/size_of.h"
#include "ops/unreadable_answer.h"
#include "platform/fs/folder_listing.h"
#include "platform/fs/trash.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "junk";
constexpr const char* kLocalizationId = "localization";
constexpr const char* kTrashId = "trash";
constexpr std::string_view kBundleSuffix = ".app";
constexpr const char* kLocalizationNameSeparator = " \u00B7 ";  // "Safari.app · fr.lproj"

// Existence and the directory flag, following links as the listing of a root does.
std::optional<bool> existsAsDirectory(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return S_ISDIR(info.st_mode);
}

bool isReadable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

// An entry of a listed root that is, or holds, the root of any category (other than the
// root being listed) is counted where that root is scanned, never here.
bool holdsAnotherRoot(const std::string& child, const std::string& listedRoot,
                      const std::vector<std::string>& roots) {
  for (const std::string& root : roots) {
    if (root == listedRoot) continue;
    if (root == child ||
        (root.size() > child.size() && root.starts_with(child) && root[child.size()] == '/')) {
      return true;
    }
  }
  return false;
}

// The running state of one scan.
class JunkScan {
 public:
  explicit JunkScan(OperationContext& context)
      : context_(context),
        catalogue_(junkCatalogue(context.folders)),
        roots_(allRoots(catalogue_)) {}

  ValueMap run() {
    ValueList categories;
    for (const JunkCategory& category : catalogue_) {
      if (context_.isCancelled()) break;
      items_.clear();
      categoryCount_ = 0;
      categoryBytes_ = 0;
      categoryUnnamed_ = 0;
      if (category.id == kLocalizationId) {
        searchLocalizations();
      } else if (category.id == kTrashId) {
        listTrash();
      } else {
        walkRoots(category);
      }
      std::stable_sort(items_.begin(), items_.end(),
                       [](const Item& a, const Item& b) { return a.size > b.size; });
      ValueList items;
      items.reserve(items_.size());
      for (Item& item : items_) items.emplace_back(std::move(item.map));
      totalCount_ += categoryCount_;
      totalBytes_ += categoryBytes_;
      unnamed_ += categoryUnnamed_;
      categories.emplace_back(ValueMap{{"id", category.id},
                                       {"size", categoryBytes_},
                                       {"unnamed", categoryUnnamed_},
                                       {"items", std::move(items)}});
    }
    context_.progress.offer(kTask, "", totalCount_, totalBytes_, true);
    ValueMap answer{{"categories", std::move(categories)},
                    {"total", totalBytes_},
                    {"count", totalCount_},
                    {"unnamed", unnamed_},
                    {"cancelled", context_.isCancelled()}};
    addUnreadable(answer, unreadable_);
    return answer;
  }

 private:
  struct Item {
    int64_t size;
    ValueMap map;
  };

  void walkRoots(const JunkCategory& category) {
    for (const std::string& root : category.roots) {
      if (context_.isCancelled()) return;
      std::optional<bool> isDirectory = existsAsDirectory(root);
      if (!isDirectory) continue;
      if (!isReadable(root)) {
        noteUnreadable(root, *isDirectory);
        continue;
      }
      if (category.listChildren && *isDirectory) {
        listRoot(root);
        continue;
      }
      int64_t size = sizeOf(context_, root, &unreadable_);
      if (size <= 0) continue;
      add(root, withHomeAsTilde(root, context_.folders.home), size, *isDirectory, 0);
    }
  }

  void listRoot(const std::string& root) {
    std::optional<std::vector<FolderEntry>> entries = listFolder(root, LinkAtPath::follow);
    if (!entries) return;
    for (const FolderEntry& entry : *entries) {
      const std::string& name = entry.name;
      if (context_.isCancelled()) return;
      // Joined as plain strings: the temporary folder's trailing slash gives "T//name".
      std::string child = root + "/" + name;
      if (holdsAnotherRoot(child, root, roots_)) continue;
      bool isDirectory = existsAsDirectory(child).value_or(false);
      if (!isReadable(child)) {
        noteUnreadable(child, isDirectory);
        continue;
      }
      int64_t size = sizeOf(context_, child, &unreadable_);
      if (size <= 0) continue;
      add(child, name, size, isDirectory, modifiedSeconds(child, LinkAt::target));
    }
  }

  // Exactly what emptying the Trash removes: its entries as the Trash's own folders list them
  // (nothing behind a link at the Trash or its files/), an empty one or a link to nothing too.
  void listTrash() {
    for (const TrashEntry& entry : trashEntries(context_.folders.trash)) {
      if (context_.isCancelled()) return;
      const std::optional<struct stat> st = statTrashedItem(entry.item);
      add(entry.item.location, entry.item.name, sizeOf(context_, entry.item.location, &unreadable_),
          entry.isDirectory, st ? wholeSeconds(st->st_mtim) : 0);
    }
  }

  void searchLocalizations() {
    for (const std::string& folder : applicationFolders(context_.folders)) {
      std::optional<std::vector<FolderEntry>> bundles = listFolder(folder, LinkAtPath::follow);
      if (!bundles) continue;
      for (const FolderEntry& bundleEntry : *bundles) {
        const std::string& bundle = bundleEntry.name;
        if (!bundle.ends_with(kBundleSuffix)) continue;
        if (context_.isCancelled()) break;
        std::string resources = folder + "/" + bundle + "/Contents/Resources";
        std::optional<std::vector<FolderEntry>> entries = listFolder(resources, LinkAtPath::follow);
        if (!entries) continue;
        for (const FolderEntry& listed : *entries) {
          const std::string& entry = listed.name;
          if (!entry.ends_with(kLocalizationSuffix)) continue;
          if (keptLanguages().contains(languageOfLocalization(entry))) continue;
          std::string path = resources + "/" + entry;
          int64_t size = sizeOf(context_, path, &unreadable_);
          if (size <= 0) continue;
          add(path, bundle + kLocalizationNameSeparator + entry, size, true, 0);
        }
      }
    }
  }

  // Counts the item and offers progress. A path that is not valid UTF-8 cannot travel to the
  // interface: the item counts in every total but is left out of the list.
  void add(const std::string& path, const std::string& name, int64_t size, bool isDirectory,
           int64_t modified) {
    categoryBytes_ += size;
    ++categoryCount_;
    bool listable = isValidUtf8(path) && isValidUtf8(name);
    if (!listable) ++categoryUnnamed_;
    if (listable) {
      items_.push_back({size,
                        {{"path", path},
                         {"name", name},
                         {"size", size},
                         {"isDir", isDirectory},
                         {"modified", modified}}});
    }
    context_.progress.offer(kTask, listable ? path : std::string(), totalCount_ + categoryCount_,
                            totalBytes_ + categoryBytes_, false);
  }

  // A folder whose contents the scan could not look at: what it holds is in no figure. (A file
  // that cannot be read is no junk the user could remove, and is passed over.)
  void noteUnreadable(const std::string& path, bool isDirectory) {
    if (isDirectory) unreadable_.add({path, EACCES});
  }

  OperationContext& context_;
  std::vector<JunkCategory> catalogue_;
  std::vector<std::string> roots_;
  int64_t totalCount_ = 0;
  int64_t totalBytes_ = 0;
  std::vector<Item> items_;
  int64_t categoryCount_ = 0;
  int64_t categoryBytes_ = 0;
  int64_t categoryUnnamed_ = 0;
  int64_t unnamed_ = 0;
  UnreadableFolders unreadable_;
};

}  // namespace

ValueMap scanJunk(OperationContext& context) { return JunkScan(context).run(); }

}  // namespace nimbra
