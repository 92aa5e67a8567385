#pragma once

// The digests of the duplicate stages, read from the files, each byte read at most once.
//
// - The whole-content digest goes on from the SHA-256 state left after the first 64 KiB, so
//   those bytes are not read a second time; a file no longer than that is not read again.
// - Paths that lead to the same file (hard links) are read once and share its digests; they
//   still count as separate files in the comparison.
// - A file that changed between the two stages (another file, size or time) is read again
//   from its start.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>

#include "finders/duplicate_stages.h"
#include "platform/sha256.h"

namespace nimbra {

class FileDigests final : public DigestSource {
 public:
  std::optional<Sha256Digest> prefixDigest(const Candidate& file) override;
  std::optional<Sha256Digest> fullDigest(const Candidate& file) override;
  void forget() override;
  void forget(const CandidateSet& files) override;

  // Bytes read from files so far, for measurements.
  int64_t bytesRead() const { return bytesRead_; }

 private:
  // What identifies one version of one file.
  struct Version {
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t changedSeconds;
    long changedNanoseconds;
    auto key() const { return std::tie(device, inode, size, changedSeconds, changedNanoseconds); }
    friend bool operator<(const Version& a, const Version& b) { return a.key() < b.key(); }
    friend bool operator==(const Version& a, const Version& b) { return a.key() == b.key(); }
    // ctime changes with every write and every metadata change; mtime can be set back.
    static Version of(const struct stat& info) {
      return Version{info.st_dev, info.st_ino, info.st_size, info.st_ctim.tv_sec,
                     info.st_ctim.tv_nsec};
    }
  };
  struct Prefix {
    Sha256Digest digest;
    int64_t bytes = 0;
    bool wholeFile = false;
    std::optional<Sha256> state;  // after `bytes`; taken by the whole-content digest
  };

  std::optional<Sha256Digest> readFullDigest(const std::string& path, const Version* known);

  std::unordered_map<std::string, Version> versionOfPath_;
  std::map<Version, Prefix> prefixes_;
  std::map<Version, Sha256Digest> fullDigests_;
  int64_t bytesRead_ = 0;
};

}  // namespace nimbra
