#include "finders/content_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <utility>

#include "finders/mapped_content.h"

namespace nimbra {
namespace {

// Ranges at least this long are hashed through a mapping (see mapped_content.h). Shorter ones
// (the 64 KiB prefixes, small files) are read: there the copy is a small part of the cost and
// the read needs no mapping set up and torn down.
constexpr int64_t kMapAtLeastBytes = 256 << 10;

// One read buffer per thread, reused for every file that thread hashes.
char* pieceBuffer() {
  thread_local std::unique_ptr<char[]> buffer(new char[kHashPieceBytes]);
  return buffer.get();
}

}  // namespace

std::optional<ContentFile> ContentFile::open(const std::string& path) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd.ok() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return ContentFile(std::move(fd), info);
}

std::optional<int64_t> ContentFile::feed(Sha256& hasher, int64_t offset,
                                         std::optional<int64_t> limit) {
  int64_t wanted = limit.value_or(std::numeric_limits<int64_t>::max());
  int64_t fed = 0;
  // The part that fstat says is there can be mapped; whatever lies beyond it (a file that
  // grew meanwhile) is read, so the end of the file is always found by a read.
  int64_t mappable = std::min(wanted, std::max<int64_t>(0, info_.st_size - offset));
  if (mappable >= kMapAtLeastBytes) {
    ::posix_fadvise(fd_.get(), offset, mappable, POSIX_FADV_SEQUENTIAL);
    switch (feedMappedRange(fd_.get(), offset, mappable, hasher)) {
      case MappedFeed::done:
        fed = mappable;
        break;
      case MappedFeed::unavailable:
        break;
      case MappedFeed::faulted:
        return std::nullopt;
    }
  }
  std::optional<int64_t> rest = readAndFeed(hasher, offset + fed, wanted - fed);
  if (!rest) return std::nullopt;
  return fed + *rest;
}

std::optional<int64_t> ContentFile::readAndFeed(Sha256& hasher, int64_t offset, int64_t limit) {
  char* buffer = pieceBuffer();
  int64_t fed = 0;
  while (fed < limit) {
    auto ask = static_cast<size_t>(std::min(kHashPieceBytes, limit - fed));
    ssize_t got = ::pread(fd_.get(), buffer, ask, offset + fed);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    hasher.update(buffer, static_cast<size_t>(got));
    fed += got;
  }
  return fed;
}

std::optional<Sha256Digest> hashFile(const std::string& path, std::optional<int64_t> limit) {
  std::optional<ContentFile> file = ContentFile::open(path);
  if (!file) return std::nullopt;
  Sha256 hasher;
  if (!file->feed(hasher, 0, limit)) return std::nullopt;
  return hasher.digest();
}

}  // namespace nimbra
