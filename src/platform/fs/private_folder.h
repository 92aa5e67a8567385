#pragma once

// A folder of the service's own state (the disk usage history) and the files in it, kept from
// other users and from links: the folder is made 0700 with its missing parents, and neither it
// nor a file in it is ever used through a symbolic link at its own name or when another user
// owns it. Files are regular files of mode 0600, whatever the umask.

#include <string>

#include "base/descriptor.h"

namespace nimbra {

struct PrivateFolder {
  Descriptor fd;           // open on the folder; not ok() when it cannot be used
  std::string realPath;    // its path with no link in it, for libraries that open by path
  std::string error = {};  // why it cannot be used; "" when it is simply not there (not made)
};

// The folder at `path` (absolute). Made when missing and `create` is true; one of our own with
// a wider mode is narrowed to 0700.
PrivateFolder openPrivateFolder(const std::string& path, bool create);

enum class PrivateFileState { ready, missing, refused };
struct PrivateFile {
  PrivateFileState state = PrivateFileState::missing;
  std::string error = {};  // when refused: "PATH: why"
};

// Makes sure the entry `name` of the open folder is a regular file of ours, mode 0600: made
// empty when missing and `create` is true. A link, a FIFO, a device or another user's file
// there is refused and left exactly as it is.
PrivateFile preparePrivateFile(const PrivateFolder& folder, const std::string& name, bool create);

}  // namespace nimbra
