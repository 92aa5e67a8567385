#include "host/views/path_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "base/errno_text.h"
#include "base/path_parts.h"
#include "host/terminal/terminal_text.h"

namespace nimbra {
namespace {

std::string complaint(const std::string& path, int code) {
  return pathErrorText(printable(path), code);
}

// Reading a folder's entries needs read permission, entering them search permission.
constexpr int kFolderAccess = R_OK | X_OK;

}  // namespace

CheckedRoot folderToWalk(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {path, complaint(path, errno)};
  if (!S_ISDIR(info.st_mode)) return {path, complaint(path, ENOTDIR)};
  if (::access(path.c_str(), kFolderAccess) != 0) return {path, complaint(path, errno)};
  struct stat self {};
  // "link/" names the link too: the walks would not follow it either.
  if (::lstat(withoutTrailingSlashes(path).c_str(), &self) != 0 || !S_ISLNK(self.st_mode))
    return {path, ""};
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) return {path, complaint(path, errno)};
  return {resolved.get(), ""};
}

std::string unmeasurable(const std::string& path) {
  struct stat info {};
  // A link is measured where it leads: one that leads nowhere has nothing to measure.
  if (::stat(path.c_str(), &info) != 0) return complaint(path, errno);
  if (S_ISDIR(info.st_mode) && ::access(path.c_str(), kFolderAccess) != 0)
    return complaint(path, errno);
  return "";
}

}  // namespace nimbra
