#include "ops/junk/empty_trash.h"

#include <algorithm>

#include "base/utf8.h"
#include "ops/removal/delete_items.h"
#include "ops/removal/error_lines.h"
#include "platform/fs/trash.h"

namespace nimbra {
namespace {

constexpr const char* kNotInTrash = "not in the Trash";

// Adds the paths refused before deletion to its answer: first in "failed", and first among
// the few failures "error" describes.
void addRefused(ValueMap& answer, const std::vector<std::string>& refused) {
  if (refused.empty()) return;
  ValueList failed;
  ErrorLines errors;
  for (const std::string& path : refused) {
    if (isValidUtf8(path)) failed.emplace_back(path);
    errors.noteItem(path + ": " + kNotInTrash);
  }
  if (const ValueList* later = answer["failed"].getIf<ValueList>())
    failed.insert(failed.end(), later->begin(), later->end());
  if (const std::string* later = answer["error"].getIf<std::string>()) {
    for (size_t start = 0; start < later->size();) {
      const size_t end = std::min(later->find('\n', start), later->size());
      errors.noteItem(later->substr(start, end - start));
      start = end + 1;
    }
  }
  answer["failed"] = std::move(failed);
  answer["error"] = errors.text();
}

}  // namespace

ValueMap emptyTrash(OperationContext& context,
                    const std::optional<std::vector<std::string>>& paths) {
  // The place of this platform that the Mac keeps in ~/.Trash.
  const std::string& trash = context.folders.trash;
  std::vector<std::string> going;
  std::vector<std::string> refused;
  if (!paths) {
    // A Trash, or its files/ folder, that is a symbolic link is not listed: emptying it would
    // remove what lies behind the link. One that cannot be listed is empty.
    for (const TrashEntry& entry : trashEntries(trash)) going.push_back(entry.item.location);
  } else {
    for (const std::string& path : *paths) {
      const std::optional<TrashedItem> entry = trashEntryAt(path, trash);
      if (entry && statTrashedItem(*entry)) {
        going.push_back(path);
      } else {
        refused.push_back(path);
      }
    }
  }
  // Permanent removal, and never a password prompt for what the user cannot remove. Each entry
  // that goes takes its .trashinfo record along.
  ValueMap result = deleteItems(context, going, /*toTrash=*/false, /*allowAdmin=*/false);
  addRefused(result, refused);
  forgetDirectorySizes(trash);
  return result;
}

}  // namespace nimbra
