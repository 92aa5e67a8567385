#pragma once

// A regular file opened to read its content for hashing and comparing.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "base/descriptor.h"
#include "base/sha256.h"

namespace nimbra {

// The size of the pieces read from a file and handed to SHA-256; bounds the memory used per
// file whatever its size.
inline constexpr int64_t kHashPieceBytes = 1 << 20;

// What identifies one version of one file: paths with equal versions are one physical file
// (hard links), and a file whose version changed was written to or replaced meanwhile.
struct FileVersion {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t changedSeconds = 0;
  long changedNanoseconds = 0;

  // ctime changes with every write and every metadata change; mtime can be set back.
  static FileVersion of(const struct stat& info) {
    return FileVersion{info.st_dev, info.st_ino, info.st_size, info.st_ctim.tv_sec,
                       info.st_ctim.tv_nsec};
  }
  auto key() const { return std::tie(device, inode, size, changedSeconds, changedNanoseconds); }
  friend bool operator<(const FileVersion& a, const FileVersion& b) { return a.key() < b.key(); }
  friend bool operator==(const FileVersion& a, const FileVersion& b) { return a.key() == b.key(); }
};

// Owns one descriptor. open() never follows a symbolic link and never blocks: a FIFO, device,
// socket or directory put in the file's place since the walk is opened non-blocking, seen
// through fstat and closed again. Move-only; closes on destruction. Blocking I/O otherwise.
// Reads go through pread into the caller's memory, never through a mapping, so a file that
// shrinks meanwhile reads short instead of faulting.
class ContentFile {
 public:
  // Nullopt when the path cannot be opened for reading or is not a regular file.
  static std::optional<ContentFile> open(const std::string& path);

  // fstat of the open file, taken when it was opened.
  const struct stat& info() const { return info_; }
  FileVersion version() const { return FileVersion::of(info_); }
  // The version as it is now; nullopt when fstat fails.
  std::optional<FileVersion> versionNow() const;

  // Feeds the content from `offset` on to `hasher`: `limit` bytes at most, or to the end of
  // the file when there is no limit. Short reads are not errors; reading goes on until the
  // end of the file or the limit. Answers the number of bytes fed, or nullopt when reading
  // failed part way (the hasher then holds a partial state and must be dropped).
  std::optional<int64_t> feed(Sha256& hasher, int64_t offset, std::optional<int64_t> limit);

  // Reads `length` bytes from `offset` into `buffer`; fewer only where the file ends. Nullopt
  // when reading failed.
  std::optional<int64_t> read(char* buffer, int64_t offset, int64_t length) const;

 private:
  ContentFile(Descriptor fd, const struct stat& info) : fd_(std::move(fd)), info_(info) {}

  Descriptor fd_;
  struct stat info_ {};
};

// The SHA-256 digest of the first `limit` bytes of the regular file at `path` (all of it when
// there is no limit); nullopt when it cannot be opened or read. Never follows a link.
std::optional<Sha256Digest> hashFile(const std::string& path,
                                     std::optional<int64_t> limit = std::nullopt);

}  // namespace nimbra
