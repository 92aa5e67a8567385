#include "ops/junk/empty_trash.h"

#include <sys/stat.h>

#include "base/utf8.h"
#include "ops/removal/delete_items.h"
#include "platform/fs/file_removal.h"
#include "platform/fs/trash.h"

namespace nimbra {
namespace {

bool isLinkToNothing(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0;
}

}  // namespace

ValueMap emptyTrash(OperationContext& context) {
  // A Trash, or its files/ folder, that is a symbolic link is not listed: emptying it would
  // remove what lies behind the link. One that cannot be listed is empty.
  // The place of this platform that the Mac keeps in ~/.Trash.
  const std::string& trash = context.folders.trash;
  std::vector<std::string> paths;
  for (const std::string& name : trashedNames(trash))
    paths.push_back(trashedItemNamed(trash, name).location);
  // Permanent removal, and never a password prompt for what the user cannot remove. Each entry
  // that goes takes its .trashinfo record along.
  ValueMap result = deleteItems(context, paths, /*toTrash=*/false, /*allowAdmin=*/false);

  // Deletion passes over a link whose target is gone, as over nothing; in the Trash such a link
  // (a relative one moved there, say) is an entry like any other, and an emptied Trash keeps none.
  for (const std::string& path : paths) {
    if (!isLinkToNothing(path)) continue;
    if (removeItem(path).failed()) {
      if (ValueList* failed = result["failed"].getIf<ValueList>(); failed && isValidUtf8(path)) {
        failed->emplace_back(path);
      }
    } else if (std::optional<TrashedItem> entry = trashEntryAt(path, trash)) {
      forgetTrashedItem(*entry);
    }
  }
  forgetDirectorySizes(trash);
  return result;
}

}  // namespace nimbra
