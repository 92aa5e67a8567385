#include "platform/fs/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "base/errno_text.h"
#include "base/path_parts.h"

namespace nimbra {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Makes each missing folder on the way to `path`, private as the folder itself will be.
void makeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    (void)::mkdir(path.substr(0, slash).c_str(), kFolderMode);
  }
}

constexpr const char* kOthers = ": belongs to another user";

}  // namespace

PrivateFolder openPrivateFolder(const std::string& path, bool create) {
  PrivateFolder folder;
  const std::string at = withoutTrailingSlashes(path);
  if (at.empty() || at[0] != '/') {
    folder.error = at + ": not an absolute path";
    return folder;
  }
  if (create) {
    makeParents(at);
    (void)::mkdir(at.c_str(), kFolderMode);
  }
  Descriptor fd(::open(at.c_str(), kFolderFlags));
  if (!fd.ok()) {
    if (errno != ENOENT || create)
      folder.error = errno == ELOOP || errno == ENOTDIR
                         ? at + ": is a link or no folder; the history is never kept through one"
                         : pathErrorText(at, errno);
    return folder;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    folder.error = pathErrorText(at, errno);
    return folder;
  }
  if (info.st_uid != ::geteuid()) {
    folder.error = at + kOthers;
    return folder;
  }
  // Others must not be able to put a link or a file of theirs in it.
  if ((info.st_mode & 07777) != kFolderMode) (void)::fchmod(fd.get(), kFolderMode);
  // The folders above may be links (a home on another disk): the library is given the path
  // they lead to, checked to be this very folder.
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(at.c_str(), nullptr),
                                                         &std::free);
  struct stat again {};
  if (!real || ::stat(real.get(), &again) != 0 || again.st_dev != info.st_dev ||
      again.st_ino != info.st_ino) {
    folder.error = at + ": changed while it was opened";
    return folder;
  }
  folder.realPath = real.get();
  folder.fd = std::move(fd);
  return folder;
}

PrivateFile preparePrivateFile(const PrivateFolder& folder, const std::string& name, bool create) {
  const std::string path = folder.realPath + "/" + name;
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  Descriptor fd(::openat(folder.fd.get(), name.c_str(), flags));
  if (!fd.ok() && errno == ENOENT) {
    if (!create) return {PrivateFileState::missing};
    fd.reset(::openat(folder.fd.get(), name.c_str(), flags | O_CREAT | O_EXCL, kFileMode));
    // Another process made it first: use theirs.
    if (!fd.ok() && errno == EEXIST) fd.reset(::openat(folder.fd.get(), name.c_str(), flags));
  }
  if (!fd.ok()) {
    return {PrivateFileState::refused,
            errno == ELOOP ? path + ": is a link; the history is never kept through one"
                           : pathErrorText(path, errno)};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return {PrivateFileState::refused, pathErrorText(path, errno)};
  if (!S_ISREG(info.st_mode)) return {PrivateFileState::refused, path + ": not a regular file"};
  if (info.st_uid != ::geteuid()) return {PrivateFileState::refused, path + kOthers};
  if ((info.st_mode & 07777) != kFileMode) (void)::fchmod(fd.get(), kFileMode);
  return {PrivateFileState::ready};
}

}  // namespace nimbra
