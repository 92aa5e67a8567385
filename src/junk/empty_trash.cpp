// Emptying the Trash: everything in home + "/.Trash" goes for good, through item deletion.

#include <dirent.h>
#include <fcntl.h>

#include "channel/nimbra_native.h"
#include "platform/home.h"

namespace nimbra {
namespace {

// The entry names of `folder` in listing order, hidden ones included; none when it cannot be
// read. A Trash that is a symbolic link is not listed: emptying it would remove what lies
// behind the link.
std::vector<std::string> listTrash(const std::string& folder) {
  std::vector<std::string> names;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace

ValueMap NimbraNative::emptyTrash() {
  const std::string trash = homeDirectory() + "/.Trash";
  std::vector<std::string> paths;
  for (const auto& name : listTrash(trash)) paths.push_back(trash + "/" + name);
  // Permanent removal, and never a password prompt for what the user cannot remove.
  return deleteItems(paths, /*toTrash=*/false, /*allowAdmin=*/false);
}

}  // namespace nimbra
