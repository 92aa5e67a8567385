#pragma once

// A regular file opened to read its content for hashing.

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/descriptor.h"
#include "platform/sha256.h"

namespace nimbra {

// The size of the pieces read from a file and handed to SHA-256; bounds the memory used per
// file whatever its size.
inline constexpr int64_t kHashPieceBytes = 1 << 20;

// Owns one descriptor. open() never follows a symbolic link and never blocks: a FIFO, device,
// socket or directory put in the file's place since the walk is opened non-blocking, seen
// through fstat and closed again. Move-only; closes on destruction. Blocking I/O otherwise.
class ContentFile {
 public:
  // Nullopt when the path cannot be opened for reading or is not a regular file.
  static std::optional<ContentFile> open(const std::string& path);

  // fstat of the open file, taken when it was opened.
  const struct stat& info() const { return info_; }

  // Feeds the content from `offset` on to `hasher`: `limit` bytes at most, or to the end of
  // the file when there is no limit. Short reads are not errors; reading goes on until the
  // end of the file or the limit. Answers the number of bytes fed, or nullopt when reading
  // failed part way (the hasher then holds a partial state and must be dropped).
  std::optional<int64_t> feed(Sha256& hasher, int64_t offset, std::optional<int64_t> limit);

 private:
  ContentFile(Descriptor fd, const struct stat& info) : fd_(std::move(fd)), info_(info) {}
  std::optional<int64_t> readAndFeed(Sha256& hasher, int64_t offset, int64_t limit);

  Descriptor fd_;
  struct stat info_ {};
};

// The SHA-256 digest of the first `limit` bytes of the regular file at `path` (all of it when
// there is no limit); nullopt when it cannot be opened or read. Never follows a link.
std::optional<Sha256Digest> hashFile(const std::string& path,
                                     std::optional<int64_t> limit = std::nullopt);

}  // namespace nimbra
