#include "platform/fs/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/descriptor.h"
#include "base/path_parts.h"

namespace nimbra {

namespace {

std::optional<std::string> readWhole(const Descriptor& fd, size_t maxBytes) {
  struct stat info {};
  if (!fd.ok() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) > maxBytes) {
    return std::nullopt;
  }
  // Read straight into the answer, one byte more than the file measures so that the end is
  // seen in the same call (an icns of 400 KiB read in 64 KiB pieces and appended cost more
  // than decoding its icon). The file may grow or shrink while it is read.
  std::string bytes(static_cast<size_t>(info.st_size) + 1, '\0');
  size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(std::min(bytes.size() * 2, maxBytes + 1));
    const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    filled += static_cast<size_t>(n);
    if (filled > maxBytes) return std::nullopt;
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace

std::optional<std::string> readSmallFile(const std::string& path, size_t maxBytes) {
  if (namesNoFile(path)) return std::nullopt;
  return readWhole(Descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)), maxBytes);
}

std::optional<std::string> readSmallFileAt(int folderFd, const std::string& name, size_t maxBytes) {
  if (namesNoFile(name)) return std::nullopt;
  return readWhole(
      Descriptor(::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW)),
      maxBytes);
}

}  // namespace nimbra
