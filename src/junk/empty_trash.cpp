// Emptying the Trash: everything in home + "/.Trash" goes for good, through item deletion.

#include "channel/nimbra_native.h"
#include "platform/folder_listing.h"
#include "platform/home.h"

namespace nimbra {

ValueMap NimbraNative::emptyTrash() {
  const std::string trash = homeDirectory() + "/.Trash";
  std::vector<std::string> paths;
  // A Trash that is a symbolic link is not listed: emptying it would remove what lies behind
  // the link. One that cannot be listed is empty.
  for (const auto& entry : listFolder(trash, LinkAtPath::refuse).value_or(std::vector<FolderEntry>{})) {
    paths.push_back(trash + "/" + entry.name);
  }
  // Permanent removal, and never a password prompt for what the user cannot remove.
  return deleteItems(paths, /*toTrash=*/false, /*allowAdmin=*/false);
}

}  // namespace nimbra
