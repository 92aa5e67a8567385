#include "ops/junk/item_facts.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "base/path_parts.h"
#include "platform/fs/dir_walker.h"
#include "platform/process/open_files.h"

namespace nimbra {
namespace {

// What systemd-tmpfiles leaves out of its cleaning of /tmp: the private temporary folders of
// running services ("x" lines), and the X11 socket folders and lock files it only ever touches
// at boot ("D!" and "r!" lines). A cleaner is no wiser than the system about them.
constexpr const char* kSystemKeptNames[] = {"systemd-private-*", ".X11-unix",  ".ICE-unix",
                                            ".XIM-unix",         ".font-unix", ".X[0-9]*-lock"};

constexpr const char* kKeptBySystem = "kept by the system's own cleaning of temporary files";
constexpr const char* kInUse = "in use by a running program";
constexpr const char* kSpecial = "is or holds a socket, FIFO or device";
constexpr const char* kUnreadable = "holds folders that could not be read";

bool keptBySystem(const std::string& location) {
  const std::string name = splitLastComponent(location).name;
  return std::any_of(std::begin(kSystemKeptNames), std::end(kSystemKeptNames),
                     [&](const char* pattern) { return ::fnmatch(pattern, name.c_str(), 0) == 0; });
}

bool isSpecial(mode_t mode) {
  return S_ISSOCK(mode) || S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode);
}

// What a walk of one entry found.
struct Findings {
  int64_t newest = 0;
  int64_t unreadable = 0;
  bool special = false;
  bool inUse = false;
};

class Inspection {
 public:
  explicit Inspection(OperationContext& context) : context_(context) {}

  // The entry at `location` and everything below it; nullopt when cancelled mid-walk.
  std::optional<Findings> look(const std::string& location, const struct stat& info) {
    Findings found;
    found.newest = info.st_mtim.tv_sec;
    found.special = isSpecial(info.st_mode);
    found.inUse = isInUse(info);
    if (!S_ISDIR(info.st_mode)) return found;
    DirWalker walker(location);
    while (const WalkEntry* entry = walker.next()) {
      if (context_.isCancelled()) return std::nullopt;
      // Sockets, FIFOs and devices are what the listing calls "other": no look needed.
      found.special = found.special || entry->type() == EntryType::other;
      if (const struct stat* st = entry->stat()) {
        found.newest = std::max(found.newest, entry->modified());
        found.inUse = found.inUse || isInUse(*st);
      }
    }
    found.unreadable = walker.unreadable().count;
    return found;
  }

 private:
  bool isInUse(const struct stat& st) {
    // The processes are looked at once, and only when there is something to inspect.
    if (!inUse_) inUse_ = filesInUse();
    return inUse_->contains({st.st_dev, st.st_ino});
  }

  OperationContext& context_;
  std::optional<FileIdentities> inUse_;
};

const char* holdBackReason(const std::string& location, const Findings& found) {
  if (keptBySystem(location)) return kKeptBySystem;
  if (found.inUse) return kInUse;
  if (found.special) return kSpecial;
  if (found.unreadable > 0) return kUnreadable;
  return "";
}

}  // namespace

ValueMap inspectItems(OperationContext& context, const std::vector<std::string>& paths) {
  ValueList items;
  std::unordered_set<std::string> answered;
  Inspection inspection(context);
  bool cancelled = false;
  for (const std::string& path : paths) {
    if (context.isCancelled()) {
      cancelled = true;
      break;
    }
    if (!answered.insert(path).second) continue;
    // "link/" would name the link's target; the entry itself is what will be removed.
    const std::string location = withoutTrailingSlashes(path);
    struct stat info {};
    if (namesNoFile(path) || ::lstat(location.c_str(), &info) != 0) {
      items.emplace_back(ValueMap{{"path", path},
                                  {"exists", false},
                                  {"mine", false},
                                  {"newest", int64_t{0}},
                                  {"unreadable", int64_t{0}},
                                  {"holdBack", ""}});
      continue;
    }
    const std::optional<Findings> found = inspection.look(location, info);
    if (!found) {
      cancelled = true;
      break;
    }
    items.emplace_back(ValueMap{{"path", path},
                                {"exists", true},
                                {"mine", info.st_uid == ::geteuid()},
                                {"newest", found->newest},
                                {"unreadable", found->unreadable},
                                {"holdBack", holdBackReason(location, *found)}});
  }
  return {{"items", std::move(items)}, {"cancelled", cancelled}};
}

}  // namespace nimbra
