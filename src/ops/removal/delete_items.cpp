#include "ops/removal/delete_items.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "base/path_parts.h"
#include "base/utf8.h"
#include "ops/removal/error_lines.h"
#include "platform/fs/file_removal.h"
#include "platform/fs/size_measure.h"
#include "platform/fs/trash.h"
#include "platform/process/script_grammar.h"

namespace nimbra {
namespace {

inline constexpr const char* kDeleteTask = "delete";

bool anythingAt(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The existence test of deletion looks through a link to its target: a link whose target is
// gone counts as nothing there. A link that leads back to itself (directly or round a chain)
// reaches no target either, yet it is no vanished item: it stands, and is removed as the link
// it is or reported, never answered as gone while it stays.
bool existsAt(const std::string& path, bool* isDirectory = nullptr) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ELOOP || !anythingAt(path)) return false;
    st.st_mode = S_IFLNK;
  }
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

// Where deletion acts on one item. An entry of the Trash (TRASH/files/NAME) is reached through
// the Trash's own folders, never through a link at the Trash, files/ or info/, and it is there
// as itself: a link in the Trash whose target is gone is an entry like any other, and goes. Any
// other item is reached through the caller's path.
class ItemPlace {
 public:
  ItemPlace(std::string item, const std::string& trash)
      : item_(std::move(item)), entry_(trashEntryAt(item_, trash)) {}

  bool exists(bool* isDirectory = nullptr) const {
    if (!entry_) return existsAt(item_, isDirectory);
    const std::optional<struct stat> st = statTrashedItem(*entry_);
    if (st && isDirectory) *isDirectory = S_ISDIR(st->st_mode);
    return st.has_value();
  }
  Removal remove() const { return entry_ ? removeTrashedItem(*entry_) : removeItem(item_); }
  // Only a real folder is emptied, never a link's target.
  void emptyContents(const std::function<bool()>& cancelled) const {
    if (entry_) {
      emptyTrashedFolder(*entry_, cancelled);
    } else {
      emptyDirectory(item_, cancelled);
    }
  }
  // An entry of the Trash that went for good takes its record along, whoever asked for it.
  void forgetRecord() const {
    if (entry_) forgetTrashedItem(*entry_);
  }

 private:
  std::string item_;
  std::optional<TrashedItem> entry_;
};

// An item left for the administrator step: the caller's path (what the answer names) and the
// item as every route acts on it.
struct QueuedItem {
  std::string path;
  std::string item;
  int64_t remaining = 0;  // bytes still there
};

}  // namespace

struct ItemDeletion::Tally {
  int64_t freed = 0;
  ValueList failed;
  ValueList inTrash;
  int64_t inTrashBytes = 0;
  ErrorLines errors;  // from single items; each administrator step, and what was left, add one
  std::vector<QueuedItem> adminQueue;

  // A path that is not valid UTF-8 cannot travel to the interface, and one with its bad bytes
  // replaced would name another file: it is left out of the list, its bytes still count.
  void listFailed(const std::string& path) {
    if (isValidUtf8(path)) failed.emplace_back(path);
  }

  ValueMap result() const {
    return {{"freed", freed},
            {"failed", failed},
            {"inTrash", inTrash},
            {"inTrashBytes", inTrashBytes},
            {"error", errors.text()}};
  }
};

ItemDeletion::ItemDeletion(OperationContext& context, bool toTrash, bool allowAdmin)
    : context_(context),
      toTrash_(toTrash),
      allowAdmin_(allowAdmin),
      tally_(std::make_unique<Tally>()) {}

ItemDeletion::~ItemDeletion() = default;

bool ItemDeletion::remove(const std::vector<std::string>& paths) {
  OperationContext& context = context_;
  const bool toTrash = toTrash_, allowAdmin = allowAdmin_;
  // Freed bytes are the difference of two measurements, so these are never cut short by a
  // cancellation: a partial measurement of what remains would count bytes still on disk.
  const auto measure = [](const std::string& path) {
    return measureSize(path, [] { return false; });
  };
  // A folder that would not go is emptied as far as it can be; never through a link.
  const std::function<bool()> cancelled = [&context] { return context.isCancelled(); };
  const std::string& trash = context.folders.trash;

  Tally& tally = *tally_;
  int64_t& position = position_;
  bool allGone = true;
  for (const std::string& path : paths) {
    ++position;
    // One spelling of the item for every route, permanent, Trash and administrator alike:
    // with a trailing slash, "link/" would name the link's target for the kernel and for rm.
    // A path holding a NUL byte names no file: nothing is there.
    if (namesNoFile(path)) continue;
    const std::string item = withoutTrailingSlashes(path);
    const ItemPlace place(item, trash);
    bool wasDirectory = false;
    if (!place.exists(&wasDirectory)) continue;
    // "/", "X/.." and their kin are never acted on, by no route: reported, never scripted.
    if (std::optional<std::string> refusal = removalRefusal(item)) {
      tally.errors.noteItem(*refusal);
      tally.listFailed(path);
      allGone = false;
      context.progress.offer(kDeleteTask, path, position, tally.freed, false);
      continue;
    }
    const int64_t sizeBefore = measure(item);

    int64_t trashedBytes = 0;
    std::optional<std::string> failure;
    if (!toTrash) {
      failure = place.remove().failure;
    } else {
      // The Trash is a way station: what reaches it is removed from it at once, and only what
      // cannot leave it is reported, as still in the Trash. What is in it already goes from
      // where it is.
      TrashMove move = moveToTrash(item, trash);
      if (move.alreadyInTrash) {
        failure = place.remove().failure;
      } else if (!move.trashed) {
        failure = move.error;
      } else {
        const ItemPlace trashed(move.trashed->location, trash);
        if (trashed.remove().failed() && wasDirectory) {
          trashed.emptyContents(cancelled);
          trashed.remove();
        }
        if (trashed.exists()) {
          trashedBytes = measure(move.trashed->location);
          if (isValidUtf8(path)) tally.inTrash.emplace_back(path);
          tally.inTrashBytes += trashedBytes;
        } else {
          trashed.forgetRecord();
        }
      }
    }
    // A folder that would not go (or not move to the Trash) is emptied piece by piece and
    // tried again. Only a real folder is emptied: for a link to one (which the existence test
    // reported as a folder) nothing happens, so a link's target is never emptied.
    if (failure && wasDirectory && place.exists()) {
      place.emptyContents(cancelled);
      place.remove();
    }

    const bool stands = place.exists();
    if (failure && stands) tally.errors.noteItem(*failure);
    const int64_t remaining = stands ? measure(item) : 0;
    tally.freed += std::max<int64_t>(sizeBefore - remaining - trashedBytes, 0);
    if (!stands) place.forgetRecord();
    if (stands) {
      // rm would not stop at a mount point inside the item: what holds one never reaches it.
      const std::optional<std::string> mount = allowAdmin ? mountPointWithin(item) : std::nullopt;
      if (allowAdmin && !mount) {
        tally.adminQueue.push_back({path, item, remaining});
      } else {
        if (mount && (!failure || *failure != mountedHereText(*mount)))
          tally.errors.noteItem(mountedHereText(*mount));
        tally.listFailed(path);
        allGone = false;
      }
    }
    context.progress.offer(kDeleteTask, path, position, tally.freed, false);
  }

  if (!tally.adminQueue.empty()) {
    std::vector<std::string> queued;
    for (const QueuedItem& entry : tally.adminQueue) queued.push_back(entry.item);
    const ScriptResult outcome = context.scripts.runScript(adminRemovalScript(queued));
    if (!outcome.ok && outcome.text && !outcome.text->empty()) tally.errors.noteStep(*outcome.text);
    for (const QueuedItem& entry : tally.adminQueue) {
      const ItemPlace place(entry.item, context.folders.trash);
      if (place.exists()) {
        tally.listFailed(entry.path);
        allGone = false;
      } else {
        tally.freed += entry.remaining;
        place.forgetRecord();
      }
    }
    tally.adminQueue.clear();
  }
  return allGone;
}

void ItemDeletion::leave(const std::vector<std::string>& paths, const std::string& why) {
  for (const std::string& path : paths) {
    ++position_;
    tally_->listFailed(path);
  }
  if (!paths.empty()) tally_->errors.noteStep(why);
}

ValueMap ItemDeletion::finish() {
  context_.progress.offer(kDeleteTask, "", position_, tally_->freed, true);
  return tally_->result();
}

ValueMap deleteItems(OperationContext& context, const std::vector<std::string>& paths, bool toTrash,
                     bool allowAdmin) {
  ItemDeletion deletion(context, toTrash, allowAdmin);
  deletion.remove(paths);
  return deletion.finish();
}

}  // namespace nimbra
