#include "platform/fs/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/descriptor.h"
#include "base/path_parts.h"

namespace nimbra {
namespace {

// One getdents64 call fills this much; 32 KiB holds about a thousand short names.
constexpr size_t kListingBuffer = 32 * 1024;

}  // namespace

std::optional<std::vector<FolderEntry>> listFolder(int fd) {
  std::vector<FolderEntry> entries;
  alignas(8) char buffer[kListingBuffer];
  for (;;) {
    const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return entries;
    for (ssize_t offset = 0; offset < n;) {
      const DirentRecord record = readDirentRecord(buffer + offset);
      offset += record.length;
      if (!isDotName(record.name)) entries.push_back({std::string(record.name), record.type});
    }
  }
}

std::optional<std::vector<FolderEntry>> listFolder(const std::string& path, LinkAtPath link) {
  if (namesNoFile(path)) return std::nullopt;
  const int noFollow = link == LinkAtPath::refuse ? O_NOFOLLOW : 0;
  Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
  if (!folder.ok()) return std::nullopt;
  return listFolder(folder.get());
}

}  // namespace nimbra
