// Item deletion: the single path by which the service removes anything.

#include <sys/stat.h>

#include <algorithm>

#include "channel/nimbra_native.h"
#include "platform/file_removal.h"
#include "platform/trash.h"
#include "removal/admin_removal.h"
#include "removal/removal_measure.h"

namespace nimbra {
namespace {

inline constexpr const char* kDeleteTask = "delete";
// Error lines from single items; the administrator step may add one more.
inline constexpr size_t kMaxItemErrorLines = 3;

// The existence test of deletion looks through a link to its target: a link whose target is
// gone counts as nothing there.
bool existsAt(const std::string& path, bool* isDirectory = nullptr) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

bool anythingAt(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

struct Tally {
  int64_t freed = 0;
  ValueList failed;
  ValueList inTrash;
  int64_t inTrashBytes = 0;
  std::vector<std::string> errorLines;
  std::vector<std::pair<std::string, int64_t>> adminQueue;  // path, bytes still there

  void noteError(const std::string& line) {
    if (errorLines.size() < kMaxItemErrorLines) errorLines.push_back(line);
  }

  ValueMap result() const {
    std::string error;
    for (size_t i = 0; i < errorLines.size(); ++i) {
      if (i > 0) error += '\n';
      error += errorLines[i];
    }
    return {{"freed", freed},
            {"failed", failed},
            {"inTrash", inTrash},
            {"inTrashBytes", inTrashBytes},
            {"error", error}};
  }
};

}  // namespace

ValueMap NimbraNative::deleteItems(const std::vector<std::string>& paths, bool toTrash,
                                   bool allowAdmin) {
  // A measurement that a cancellation cut short is taken again in full: freed bytes are the
  // difference of two measurements and must be the bytes that really went.
  auto measure = [this](const std::string& path) {
    const int64_t size = sizeOf(path);
    return isCancelled() ? uncancelledSizeOf(path) : size;
  };

  Tally tally;
  int64_t position = 0;
  for (const std::string& path : paths) {
    ++position;
    const int64_t sizeBefore = measure(path);
    bool wasDirectory = false;
    if (!existsAt(path, &wasDirectory)) continue;

    int64_t trashedBytes = 0;
    std::optional<std::string> failure;
    if (!toTrash) {
      failure = removeItem(path);
    } else {
      // The Trash is a way station: what reaches it is removed from it at once, and only what
      // cannot leave it is reported, as still in the Trash.
      TrashMove move = moveToTrash(path, homeTrashFolder());
      if (!move.trashed) {
        failure = move.error;
      } else {
        const TrashedItem& item = *move.trashed;
        if (removeItem(item.location) && wasDirectory) {
          deleteContents(item.location);
          removeItem(item.location);
        }
        if (existsAt(item.location)) {
          trashedBytes = measure(item.location);
          tally.inTrash.emplace_back(path);
          tally.inTrashBytes += trashedBytes;
        } else if (!anythingAt(item.location)) {
          forgetTrashedItem(item);
        }
      }
    }
    // A folder that would not go (or not move to the Trash) is emptied piece by piece and
    // tried again. deleteContents empties only a real folder: for a link to one (which the
    // existence test reported as a folder) it does nothing, so a link's target is never emptied.
    if (failure && wasDirectory && existsAt(path)) {
      deleteContents(path);
      removeItem(path);
    }

    const bool stands = existsAt(path);
    if (failure && stands) tally.noteError(*failure);
    const int64_t remaining = stands ? measure(path) : 0;
    tally.freed += std::max<int64_t>(sizeBefore - remaining - trashedBytes, 0);
    if (stands) {
      if (allowAdmin) {
        tally.adminQueue.emplace_back(path, remaining);
      } else {
        tally.failed.emplace_back(path);
      }
    }
    progress(kDeleteTask, path, position, tally.freed, false);
  }

  if (!tally.adminQueue.empty()) {
    std::vector<std::string> queued;
    for (const auto& entry : tally.adminQueue) queued.push_back(entry.first);
    const ScriptResult outcome = runAppleScriptResult(adminRemovalScript(queued));
    if (!outcome.ok && outcome.text && !outcome.text->empty()) tally.errorLines.push_back(*outcome.text);
    for (const auto& [path, remaining] : tally.adminQueue) {
      if (existsAt(path)) {
        tally.failed.emplace_back(path);
      } else {
        tally.freed += remaining;
      }
    }
  }

  progress(kDeleteTask, "", static_cast<int64_t>(paths.size()), tally.freed, true);
  return tally.result();
}

void NimbraNative::deleteContents(const std::string& path) {
  emptyDirectory(path, [this] { return isCancelled(); });
}

}  // namespace nimbra
