#include "platform/process/open_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/descriptor.h"
#include "platform/fs/folder_listing.h"
#include "platform/fs/small_file.h"

namespace nimbra {
namespace {

// A process's maps rarely reach a megabyte; one that does is read no further.
constexpr size_t kMaxMapsBytes = 8 * 1024 * 1024;

bool isProcessId(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// What the entry `name` of the folder open as `folderFd` leads to (the kernel's links in /proc
// lead to the file itself, deleted ones too).
void addTarget(int folderFd, const char* name, FileIdentities& into) {
  struct stat st {};
  if (::fstatat(folderFd, name, &st, 0) == 0) into.insert({st.st_dev, st.st_ino});
}

}  // namespace

void addMappedFiles(std::string_view maps, FileIdentities& into) {
  // "start-end perms offset major:minor inode   path", device numbers in hex.
  while (!maps.empty()) {
    const size_t end = maps.find('\n');
    const std::string line(maps.substr(0, end));
    maps.remove_prefix(end == std::string_view::npos ? maps.size() : end + 1);
    char perms[8];
    unsigned long long offset = 0, inode = 0;
    unsigned major = 0, minor = 0;
    if (std::sscanf(line.c_str(), "%*x-%*x %7s %llx %x:%x %llu", perms, &offset, &major, &minor,
                    &inode) == 5 &&
        inode != 0) {
      into.insert({makedev(major, minor), static_cast<ino_t>(inode)});
    }
  }
}

FileIdentities filesInUse() {
  FileIdentities files;
  Descriptor proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!proc.ok()) return files;
  const std::string self = std::to_string(::getpid());
  for (const FolderEntry& process : listFolder(proc.get()).value_or(std::vector<FolderEntry>{})) {
    if (!isProcessId(process.name) || process.name == self) continue;
    Descriptor folder(
        ::openat(proc.get(), process.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.ok()) continue;  // it ended meanwhile
    addTarget(folder.get(), "cwd", files);
    addTarget(folder.get(), "exe", files);
    Descriptor descriptors(::openat(folder.get(), "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptors.ok()) {
      for (const FolderEntry& fd :
           listFolder(descriptors.get()).value_or(std::vector<FolderEntry>{})) {
        addTarget(descriptors.get(), fd.name.c_str(), files);
      }
    }
    if (std::optional<std::string> maps = readSmallFileAt(folder.get(), "maps", kMaxMapsBytes))
      addMappedFiles(*maps, files);
  }
  return files;
}

}  // namespace nimbra
