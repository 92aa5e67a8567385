#pragma once

// The duplicate finder as three narrowing stages: equal size, then equal digest of the first
// 64 KiB, then equal content. Each stage takes a candidate group and answers the groups that
// survive it; groups of fewer than two files never survive. The third stage is
// ContentComparer::split (duplicate_compare.h).

#include <cstdint>
#include <string>
#include <vector>

#include "base/sha256.h"
#include "ops/finders/file_digests.h"

namespace nimbra {

// A regular file the walk found, with the size it saw.
struct Candidate {
  std::string path;
  int64_t size = 0;
};

// Files found alike so far, with what they were found alike by: the common size, and from the
// second stage on the common digest (of the first 64 KiB, then of the whole content).
struct CandidateGroup {
  int64_t size = 0;
  Sha256Digest digest;
  std::vector<std::string> files;
};

// Stage 1: the candidates grouped by size, sizes shared by two or more files only, larger
// sizes first (so a cancelled scan has found the groups that waste the most); each group's
// files in walk order.
std::vector<CandidateGroup> groupBySize(std::vector<Candidate> candidates);

// Stage 2: one group split by the digest of the files' first kPrefixDigestBytes; groups in the
// order their first file came, files in the order they came. A file that cannot be read, or
// is no longer the group's size, drops out.
std::vector<CandidateGroup> splitByPrefixDigest(CandidateGroup group, FileDigests& digests);

}  // namespace nimbra
