#pragma once

// The duplicate finder as three narrowing stages: equal size, then equal digest of the first
// 64 KiB, then equal digest of the whole content. Each stage takes candidate sets and
// answers the sets that survive it; sets of fewer than two files never survive.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/sha256.h"

namespace nimbra {

// The bytes at the start of a file that the middle stage compares.
inline constexpr int64_t kPrefixDigestBytes = 65536;

struct Candidate {
  std::string path;
  int64_t size = 0;
};

// Files of one size, in walk order.
using SizeBucket = std::vector<Candidate>;
// Candidates of one bucket that are still alike; they point into the bucket.
using CandidateSet = std::vector<const Candidate*>;

// Where the digests come from: the files themselves, or a fake in tests. A file that cannot
// be read answers nullopt and drops out of its set.
class DigestSource {
 public:
  virtual ~DigestSource() = default;
  // The digest of the file's first kPrefixDigestBytes bytes (all of it when shorter).
  virtual std::optional<Sha256Digest> prefixDigest(const Candidate& file) = 0;
  // The digest of the whole content. Asked only for files whose prefix digest was asked for.
  virtual std::optional<Sha256Digest> fullDigest(const Candidate& file) = 0;
  // The caller is done with every file asked about so far; state kept for them may go.
  virtual void forget() {}
  // The same for these files only: a bucket of many small files need not keep every digest
  // until its last set is grouped.
  virtual void forget(const CandidateSet&) {}
};

// Stage 1: the candidates grouped by size, sizes shared by two or more files only, larger
// sizes first (so a cancelled scan has found the groups that waste the most); each bucket in
// walk order.
std::vector<SizeBucket> bucketsBySize(std::vector<Candidate> candidates);

// Stage 2: one bucket split by prefix digest; sets in the order their first file came.
std::vector<CandidateSet> splitByPrefixDigest(const SizeBucket& bucket, DigestSource& digests);

// Stage 3: one set split by full digest. `cancelled` is asked before each file; once it says
// so, the files hashed until then are split and the rest is left out.
struct DigestSet {
  Sha256Digest digest;
  CandidateSet files;
};
std::vector<DigestSet> splitByFullDigest(const CandidateSet& set, DigestSource& digests,
                                         const std::function<bool()>& cancelled);

}  // namespace nimbra
