#include "platform/fs/trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include "base/descriptor.h"
#include "base/errno_text.h"
#include "base/fd_io.h"
#include "base/path_parts.h"
#include "base/url_path.h"
#include "platform/fs/file_removal.h"
#include "platform/fs/folder_listing.h"
#include "platform/fs/mount_table.h"
#include "platform/fs/small_file.h"
#include "platform/machine/home.h"

namespace nimbra {
namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
// Room for ".NNNNN" and ".trashinfo" within the 255 bytes a file name may have.
constexpr size_t kMaxBaseName = 200;
constexpr int kMaxNameAttempts = 100000;

// The trash's own folders are never entered through a link.
constexpr int kTrashFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A record is a few lines; anything much larger is no record of ours.
constexpr size_t kMaxRecordBytes = 64 * 1024;
// Folders above a folder that are looked at when telling whether it lies in the trash; deeper
// than any path the kernel would take.
constexpr int kMaxAncestors = 4096;

constexpr const char* kAlreadyInTrash = "already in the Trash";
constexpr const char* kIsTheTrash = "is the Trash";
constexpr const char* kHoldsTheTrash = "holds the Trash";
constexpr const char* kNoRecord = "no record of where it came from";
constexpr const char* kAlreadyExists = " already exists";
constexpr const char* kLinkOnTheWay = "is a symbolic link, and nothing is put back through one";
constexpr const char* kPointsIntoTheTrash = "lies in the Trash";
// The folders on the way back to an original place: opened for the *at calls alone, so a folder
// the user may pass through but not list still leads on; never through a link.
constexpr int kWayFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// The mode of a folder made on the way back, before the umask, as the desktop's Trash makes it.
constexpr mode_t kRemadeFolderMode = 0777;

// files/ or info/ inside the open trash, made when missing.
Descriptor openTrashSubfolder(int trash, const char* name) {
  if (::mkdirat(trash, name, 0700) != 0 && errno != EEXIST) return Descriptor(-1);
  return Descriptor(::openat(trash, name, kTrashFolderFlags));
}

// files/ or info/ of the trash at `trashFolder` as they are: never made, never through a link
// at the trash or at the subfolder.
Descriptor openExistingSubfolder(const std::string& trashFolder, const char* name) {
  if (namesNoFile(trashFolder)) return Descriptor(-1);
  Descriptor trash(::open(trashFolder.c_str(), kTrashFolderFlags));
  if (!trash.ok()) return trash;
  return Descriptor(::openat(trash.get(), name, kTrashFolderFlags));
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the folder open as `folderFd` is `target` or lies anywhere below it. Its ancestors are
// found through "..", up to the root, so no spelling of a path (a link, "..", a doubled slash)
// hides the relation.
bool isAtOrBelow(int folderFd, const struct stat& target) {
  Descriptor current(::openat(folderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat here {};
  if (!current.ok() || ::fstat(current.get(), &here) != 0) return false;
  for (int up = 0; up < kMaxAncestors; ++up) {
    if (sameFile(here, target)) return true;
    Descriptor parent(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat above {};
    if (!parent.ok() || ::fstat(parent.get(), &above) != 0 || sameFile(above, here)) return false;
    current = std::move(parent);
    here = above;
  }
  return false;
}

// "YYYY-MM-DDThh:mm:ss" in local time, as records store it; 0 when it is no such date.
int64_t recordDate(std::string_view text) {
  std::tm local{};
  char rest = 0;
  const std::string date(text);
  if (std::sscanf(date.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &local.tm_year, &local.tm_mon,
                  &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec, &rest) != 6) {
    return 0;
  }
  if (local.tm_mon < 1 || local.tm_mon > 12 || local.tm_mday < 1 || local.tm_mday > 31 ||
      local.tm_hour > 23 || local.tm_min > 59 || local.tm_sec > 60) {
    return 0;
  }
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&local);
  return seconds == static_cast<std::time_t>(-1) ? 0 : static_cast<int64_t>(seconds);
}

// The keys of the "[Trash Info]" group of a record.
TrashRecord parseRecord(std::string_view text) {
  TrashRecord record;
  bool inGroup = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with('[')) {
      inGroup = line == "[Trash Info]";
    } else if (inGroup && line.starts_with("Path=")) {
      std::optional<std::string> path = percentDecodedPath(line.substr(5));
      record.originalPath = path && path->starts_with('/') ? std::move(*path) : std::string();
    } else if (inGroup && line.starts_with("DeletionDate=")) {
      record.deletedAt = recordDate(line.substr(13));
    }
  }
  return record;
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

// Where the item is, for its record: its folder as the kernel names it (absolute, with no "." or
// "..", no doubled slash) and its name. A record that kept "x/../y" would be one a restore must
// refuse.
std::string originalPathOf(int parentFd, const std::string& path, const std::string& name) {
  const std::string folder = canonicalPathOf(parentFd);
  if (folder.empty()) {
    if (!path.empty() && path[0] == '/') return withoutTrailingSlashes(path);
    char* cwd = ::getcwd(nullptr, 0);
    std::string absolute = cwd ? std::string(cwd) + "/" + withoutTrailingSlashes(path) : path;
    std::free(cwd);
    return absolute;
  }
  return (folder == "/" ? "" : folder) + "/" + name;
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

// The mount an entry belongs to. A rename never leaves one (a bind mount of the same device
// included), so a place on another is never made ready for an entry that cannot get there.
struct MountOf {
  dev_t device = 0;
  uint64_t mountId = 0;
  bool mountIdKnown = false;

  bool operator==(const MountOf& other) const {
    return device == other.device &&
           (!mountIdKnown || !other.mountIdKnown || mountId == other.mountId);
  }
};

// Of the entry `name` of the folder open as `folderFd`, or of that folder itself for "".
std::optional<MountOf> mountOf(int folderFd, const char* name) {
  struct statx info {};
  const int flags = AT_SYMLINK_NOFOLLOW | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
  if (::statx(folderFd, name, flags, STATX_MNT_ID, &info) != 0) return std::nullopt;
  return MountOf{makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_mnt_id,
                 (info.stx_mask & STATX_MNT_ID) != 0};
}

// The components of an absolute path, empty ones (from "//") dropped; nullopt when one is "."
// or "..", which the record of a trashed item never needs and which would make the path say
// something else than its folders.
std::optional<std::vector<std::string>> plainComponents(std::string_view path) {
  std::vector<std::string> components;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (component.empty()) continue;
    if (component == "." || component == "..") return std::nullopt;
    components.emplace_back(component);
  }
  return components;
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
  // The trash cannot go into itself, and what is in it already has no second place there: an
  // entry moved onto itself would leave its record pointing into the trash, and info/ moved into
  // files/ would take every record along.
  struct stat trashStat {};
  if (::fstat(trash.get(), &trashStat) != 0)
    return {std::nullopt, pathErrorText(trashFolder, errno)};
  if (S_ISDIR(item.st_mode) && isAtOrBelow(trash.get(), item)) {
    return {std::nullopt, path + ": " + (sameFile(item, trashStat) ? kIsTheTrash : kHoldsTheTrash)};
  }
  if (isAtOrBelow(from.get(), trashStat))
    return {std::nullopt, path + ": " + kAlreadyInTrash, true};

  const std::string base = baseNameFor(parts.name);
  const std::string record = infoText(originalPathOf(from.get(), path, parts.name));
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
    if (moveError == 0) return {trashedItemNamed(trashFolder, name), {}};
    ::unlinkat(info.get(), infoName.c_str(), 0);
    if (moveError != EEXIST && moveError != ENOTEMPTY)
      return {std::nullopt, pathErrorText(path, moveError)};
  }
  return {std::nullopt, pathErrorText(path, EEXIST)};
}

TrashedItem trashedItemNamed(const std::string& trashFolder, const std::string& name) {
  return {trashFolder, name, trashFolder + "/files/" + name,
          trashFolder + "/info/" + name + kInfoSuffix};
}

std::vector<TrashEntry> trashEntries(const std::string& trashFolder) {
  std::vector<TrashEntry> entries;
  Descriptor files = openExistingSubfolder(trashFolder, "files");
  if (!files.ok()) return entries;
  // Without info/ (or with a link there) the entries are still the trash's, with no record.
  Descriptor info = openExistingSubfolder(trashFolder, "info");
  for (FolderEntry& listed : listFolder(files.get()).value_or(std::vector<FolderEntry>{})) {
    TrashEntry entry;
    struct stat st {};
    entry.isDirectory = ::fstatat(files.get(), listed.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                            ? S_ISDIR(st.st_mode)
                            : listed.type == DT_DIR;
    if (info.ok()) {
      if (std::optional<std::string> text =
              readSmallFileAt(info.get(), listed.name + kInfoSuffix, kMaxRecordBytes)) {
        entry.record = parseRecord(*text);
      }
    }
    entry.item = trashedItemNamed(trashFolder, listed.name);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::optional<TrashedItem> trashEntryAt(const std::string& path, const std::string& trashFolder) {
  if (namesNoFile(path)) return std::nullopt;
  const PathParts parts = splitLastComponent(path);
  if (parts.name.empty() || parts.name == "." || parts.name == ".." ||
      parts.parent != trashFolder + "/files") {
    return std::nullopt;
  }
  return trashedItemNamed(trashFolder, parts.name);
}

std::optional<struct stat> statTrashedItem(const TrashedItem& item) {
  Descriptor files = openExistingSubfolder(item.folder, "files");
  struct stat st {};
  if (!files.ok() || ::fstatat(files.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return std::nullopt;
  return st;
}

Removal removeTrashedItem(const TrashedItem& item) {
  Descriptor files = openExistingSubfolder(item.folder, "files");
  if (!files.ok()) return {pathErrorText(item.folder + "/files", errno)};
  return removeEntry(files.get(), item.name, item.location);
}

void emptyTrashedFolder(const TrashedItem& item, const std::function<bool()>& cancelled) {
  Descriptor files = openExistingSubfolder(item.folder, "files");
  if (files.ok()) emptyEntry(files.get(), item.name, item.location, cancelled);
}

TrashRestore restoreFromTrash(const TrashedItem& item) {
  const auto failed = [](std::string text) { return TrashRestore{{}, std::move(text)}; };
  if (item.name.empty() || item.name == "." || item.name == ".." ||
      item.name.find('/') != std::string::npos || namesNoFile(item.name)) {
    return failed(pathErrorText(item.location, EINVAL));
  }
  Descriptor trash(namesNoFile(item.folder) ? -1 : ::open(item.folder.c_str(), kTrashFolderFlags));
  if (!trash.ok()) return failed(pathErrorText(item.folder, errno));
  Descriptor files(::openat(trash.get(), "files", kTrashFolderFlags));
  if (!files.ok()) return failed(pathErrorText(item.folder + "/files", errno));
  struct stat entry {};
  const std::optional<MountOf> entryMount = mountOf(files.get(), item.name.c_str());
  if (!entryMount || ::fstatat(files.get(), item.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
    return failed(pathErrorText(item.location, errno));

  Descriptor info(::openat(trash.get(), "info", kTrashFolderFlags));
  TrashRecord record;
  if (info.ok()) {
    if (std::optional<std::string> text =
            readSmallFileAt(info.get(), item.name + kInfoSuffix, kMaxRecordBytes)) {
      record = parseRecord(*text);
    }
  }
  const std::string& original = record.originalPath;
  if (original.empty()) return failed(item.location + ": " + kNoRecord);
  const std::optional<std::vector<std::string>> components = plainComponents(original);
  if (!components || namesNoFile(original)) return failed(pathErrorText(original, EINVAL));
  if (components->empty()) return failed(original + kAlreadyExists);

  // Down the original path's folders, each opened below the last without following a link.
  // What is missing is made only once the entry is known to belong to this file system: a
  // rename can then take it there, and nothing is ever copied.
  Descriptor folder(::open("/", kWayFlags));
  if (!folder.ok()) return failed(pathErrorText("/", errno));
  std::string reached;
  const auto onAnotherFileSystem = [&] { return mountOf(folder.get(), "") != entryMount; };
  for (size_t i = 0; i + 1 < components->size(); ++i) {
    const std::string& name = (*components)[i];
    reached += "/" + name;
    Descriptor next(::openat(folder.get(), name.c_str(), kWayFlags));
    if (!next.ok() && errno == ENOENT) {
      if (onAnotherFileSystem()) return failed(pathErrorText(original, EXDEV));
      if (::mkdirat(folder.get(), name.c_str(), kRemadeFolderMode) != 0 && errno != EEXIST)
        return failed(pathErrorText(reached, errno));
      next = Descriptor(::openat(folder.get(), name.c_str(), kWayFlags));
    }
    if (!next.ok()) {
      const int code = errno;
      struct stat link {};
      if (::fstatat(folder.get(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(link.st_mode)) {
        return failed(reached + ": " + kLinkOnTheWay);
      }
      return failed(pathErrorText(reached, code));
    }
    folder = std::move(next);
  }

  // Never into the trash: the entry would stay in it without its record, or land among the
  // records.
  struct stat trashStat {};
  if (::fstat(trash.get(), &trashStat) != 0) return failed(pathErrorText(item.folder, errno));
  if (isAtOrBelow(folder.get(), trashStat)) return failed(original + ": " + kPointsIntoTheTrash);
  if (onAnotherFileSystem()) return failed(pathErrorText(original, EXDEV));

  const int moveError = moveWithoutReplacing(files.get(), item.name.c_str(), folder.get(),
                                             components->back().c_str());
  if (moveError == EEXIST || moveError == ENOTEMPTY) return failed(original + kAlreadyExists);
  if (moveError != 0) return failed(pathErrorText(original, moveError));
  if (info.ok()) ::unlinkat(info.get(), (item.name + kInfoSuffix).c_str(), 0);
  // The cache of folder sizes names the folder that left.
  if (S_ISDIR(entry.st_mode)) ::unlinkat(trash.get(), "directorysizes", 0);
  return {original, {}};
}

void forgetTrashedItem(const TrashedItem& item) {
  Descriptor info = openExistingSubfolder(item.folder, "info");
  if (info.ok()) ::unlinkat(info.get(), (item.name + kInfoSuffix).c_str(), 0);
}

void forgetDirectorySizes(const std::string& trashFolder) {
  Descriptor trash(::open(trashFolder.c_str(), kTrashFolderFlags));
  if (trash.ok()) ::unlinkat(trash.get(), "directorysizes", 0);
}

}  // namespace nimbra
