#pragma once

// The digests of the first 64 KiB that the duplicate finder's middle stage compares, read from
// the files, and what the comparison of the rest needs from them.
//
// - Paths that lead to the same file (hard links) are read once and share its digest; they
//   still count as separate files in the comparison.
// - The SHA-256 state after the prefix is kept, so the whole-content digest goes on from it
//   and those bytes are not hashed a second time.
// - The version of the file that was read (device, inode, size, change time) is kept per
//   path: a file that changes later is left out by the stage that notices. A file the prefix
//   covers whole and that has one name keeps nothing: no later stage reads it.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/sha256.h"
#include "ops/finders/content_file.h"

namespace nimbra {

// The bytes at the start of a file that the middle stage compares.
inline constexpr int64_t kPrefixDigestBytes = 65536;

class FileDigests {
 public:
  // The digest of the first kPrefixDigestBytes bytes (all of them when the file is shorter)
  // of the regular file at `path`, which the walk saw `size` bytes long. Nullopt when it
  // cannot be read, is no longer `size` bytes long, or reads short.
  std::optional<Sha256Digest> prefixDigest(const std::string& path, int64_t size);

  // The version of the file whose prefix was read for `path`; nullptr when none was, and
  // possibly for a file the prefix covered whole (the comparison never asks about those).
  const FileVersion* versionOf(const std::string& path) const;
  // A copy of the SHA-256 state after the prefix of the file of that version, for a file
  // longer than the prefix; nullopt otherwise.
  std::optional<Sha256> stateAfterPrefix(const FileVersion& version) const;

  // The caller is done with every file asked about so far; what is kept for them goes.
  void forget();
  // The same for the files of one set, once it is grouped: a bucket of many small files need
  // not keep every version until its last set is done.
  void forget(const std::vector<std::string>& files);

  // Bytes read from files so far, for measurements.
  int64_t bytesRead() const { return bytesRead_; }

 private:
  struct Prefix {
    Sha256Digest digest;
    std::optional<Sha256> state;  // after the prefix; none when that was the whole file
  };

  std::unordered_map<std::string, FileVersion> versionOfPath_;
  std::map<FileVersion, Prefix> prefixes_;
  int64_t bytesRead_ = 0;
};

}  // namespace nimbra
