#include "platform/fs/trash.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "base/descriptor.h"
#include "base/errno_text.h"
#include "base/fd_io.h"
#include "base/path_parts.h"
#include "base/url_path.h"
#include "platform/fs/file_removal.h"
#include "platform/fs/folder_listing.h"
#include "platform/machine/home.h"

namespace nimbra {
namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
// Room for ".NNNNN" and ".trashinfo" within the 255 bytes a file name may have.
constexpr size_t kMaxBaseName = 200;
constexpr int kMaxNameAttempts = 100000;

// The trash's own folders are never entered through a link.
constexpr int kTrashFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// files/ or info/ inside the open trash, made when missing.
Descriptor openTrashSubfolder(int trash, const char* name) {
  if (::mkdirat(trash, name, 0700) != 0 && errno != EEXIST) return Descriptor(-1);
  return Descriptor(::openat(trash, name, kTrashFolderFlags));
}

// Creates `path` and its missing parents, private to the user as the trash rules ask.
bool makeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return withoutTrailingSlashes(path);
  char* cwd = ::getcwd(nullptr, 0);
  std::string absolute = cwd ? std::string(cwd) + "/" + withoutTrailingSlashes(path) : path;
  std::free(cwd);
  return absolute;
}

std::string infoText(const std::string& originalPath) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  // The format stores the original location as a URL path.
  return "[Trash Info]\nPath=" + percentEncodedPath(originalPath) + "\nDeletionDate=" + date + "\n";
}

// A long name is cut (at a character boundary) so that the trash's own suffixes still fit.
std::string baseNameFor(const std::string& name) {
  if (name.size() <= kMaxBaseName) return name;
  size_t cut = kMaxBaseName;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

// Moves without ever replacing an existing entry. Answers 0, or the errno.
int moveWithoutReplacing(int fromDir, const char* fromName, int toDir, const char* toName) {
  if (::renameat2(fromDir, fromName, toDir, toName, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  // A file system without the flag: check first, accepting the small window.
  struct stat st;
  if (::fstatat(toDir, toName, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(fromDir, fromName, toDir, toName) == 0 ? 0 : errno;
}

}  // namespace

std::string homeTrashFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
    const std::string folder = withoutTrailingSlashes(data);
    return (folder == "/" ? "" : folder) + "/Trash";
  }
  return homeDirectory() + "/.local/share/Trash";
}

TrashMove moveToTrash(const std::string& path, const std::string& trashFolder) {
  if (std::optional<std::string> refusal = removalRefusal(path)) return {std::nullopt, *refusal};
  const PathParts parts = splitLastComponent(path);
  Descriptor from(::open(parts.parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat item;
  if (!from.ok() || ::fstatat(from.get(), parts.name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
    return {std::nullopt, pathErrorText(path, errno)};
  }
  // A mount inside a folder would travel with it into the trash.
  if (S_ISDIR(item.st_mode)) {
    if (std::optional<std::string> mount = mountPointWithin(path))
      return {std::nullopt, mountedHereText(*mount)};
  }

  const std::string filesFolder = trashFolder + "/files";
  const std::string infoFolder = trashFolder + "/info";
  if (!makeFolders(trashFolder)) return {std::nullopt, pathErrorText(trashFolder, errno)};
  Descriptor trash(::open(trashFolder.c_str(), kTrashFolderFlags));
  if (!trash.ok()) return {std::nullopt, pathErrorText(trashFolder, errno)};
  Descriptor files = openTrashSubfolder(trash.get(), "files");
  if (!files.ok()) return {std::nullopt, pathErrorText(filesFolder, errno)};
  Descriptor info = openTrashSubfolder(trash.get(), "info");
  if (!info.ok()) return {std::nullopt, pathErrorText(infoFolder, errno)};
  struct stat filesStat;
  if (::fstat(files.get(), &filesStat) != 0)
    return {std::nullopt, pathErrorText(filesFolder, errno)};
  // The home trash holds only items of its own file system; moving is a rename, never a copy.
  if (filesStat.st_dev != item.st_dev) return {std::nullopt, pathErrorText(path, EXDEV)};

  const std::string base = baseNameFor(parts.name);
  const std::string record = infoText(absolutePath(path));
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
    const std::string infoName = name + kInfoSuffix;
    // The record is written first and claims the name: O_EXCL makes the claim atomic.
    const int fd =
        ::openat(info.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {std::nullopt, pathErrorText(infoFolder + "/" + infoName, errno)};
    }
    const bool written = writeAll(fd, record);
    const int writeError = errno;
    ::close(fd);
    if (!written) {
      ::unlinkat(info.get(), infoName.c_str(), 0);
      return {std::nullopt, pathErrorText(infoFolder + "/" + infoName, writeError)};
    }
    const int moveError =
        moveWithoutReplacing(from.get(), parts.name.c_str(), files.get(), name.c_str());
    if (moveError == 0) {
      return {TrashedItem{filesFolder + "/" + name, infoFolder + "/" + infoName}, {}};
    }
    ::unlinkat(info.get(), infoName.c_str(), 0);
    if (moveError != EEXIST && moveError != ENOTEMPTY)
      return {std::nullopt, pathErrorText(path, moveError)};
  }
  return {std::nullopt, pathErrorText(path, EEXIST)};
}

TrashedItem trashedItemNamed(const std::string& trashFolder, const std::string& name) {
  return {trashFolder + "/files/" + name, trashFolder + "/info/" + name + kInfoSuffix};
}

std::vector<std::string> trashedNames(const std::string& trashFolder) {
  std::vector<std::string> names;
  Descriptor trash(::open(trashFolder.c_str(), kTrashFolderFlags));
  if (!trash.ok()) return names;
  Descriptor files(::openat(trash.get(), "files", kTrashFolderFlags));
  if (!files.ok()) return names;
  for (FolderEntry& entry : listFolder(files.get()).value_or(std::vector<FolderEntry>{})) {
    names.push_back(std::move(entry.name));
  }
  return names;
}

void forgetTrashedItem(const TrashedItem& item) { ::unlink(item.infoPath.c_str()); }

std::optional<TrashedItem> trashEntryAt(const std::string& path, const std::string& trashFolder) {
  const PathParts parts = splitLastComponent(path);
  if (parts.name.empty() || parts.parent != trashFolder + "/files") return std::nullopt;
  return trashedItemNamed(trashFolder, parts.name);
}

void forgetDirectorySizes(const std::string& trashFolder) {
  Descriptor trash(::open(trashFolder.c_str(), kTrashFolderFlags));
  if (trash.ok()) ::unlinkat(trash.get(), "directorysizes", 0);
}

}  // namespace nimbra
