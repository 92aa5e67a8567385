#include "ops/finders/content_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <utility>

namespace nimbra {
namespace {

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

std::optional<FileVersion> ContentFile::versionNow() const {
  struct stat info {};
  if (::fstat(fd_.get(), &info) != 0) return std::nullopt;
  return FileVersion::of(info);
}

std::optional<int64_t> ContentFile::read(char* buffer, int64_t offset, int64_t length) const {
  int64_t got = 0;
  while (got < length) {
    auto ask = static_cast<size_t>(length - got);
    ssize_t piece = ::pread(fd_.get(), buffer + got, ask, offset + got);
    if (piece < 0 && errno == EINTR) continue;
    if (piece < 0) return std::nullopt;
    if (piece == 0) break;
    got += piece;
  }
  return got;
}

std::optional<int64_t> ContentFile::feed(Sha256& hasher, int64_t offset,
                                         std::optional<int64_t> limit) {
  int64_t wanted = limit.value_or(std::numeric_limits<int64_t>::max());
  char* buffer = pieceBuffer();
  int64_t fed = 0;
  while (fed < wanted) {
    int64_t ask = std::min(kHashPieceBytes, wanted - fed);
    std::optional<int64_t> got = read(buffer, offset + fed, ask);
    if (!got) return std::nullopt;
    if (*got == 0) break;
    hasher.update(buffer, static_cast<size_t>(*got));
    fed += *got;
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
