#include "ops/finders/duplicate_stages.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

namespace nimbra {

std::vector<CandidateGroup> groupBySize(std::vector<Candidate> candidates) {
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.size > b.size; });
  std::vector<CandidateGroup> groups;
  for (auto first = candidates.begin(); first != candidates.end();) {
    auto last = std::find_if(first, candidates.end(),
                             [&](const Candidate& c) { return c.size != first->size; });
    if (last - first >= 2) {
      CandidateGroup& group = groups.emplace_back(CandidateGroup{first->size, {}, {}});
      for (auto c = first; c != last; ++c) group.files.push_back(std::move(c->path));
    }
    first = last;
  }
  return groups;
}

std::vector<CandidateGroup> splitByPrefixDigest(CandidateGroup group, FileDigests& digests) {
  std::unordered_map<Sha256Digest, size_t, Sha256DigestHash> index;
  std::vector<CandidateGroup> sets;
  for (std::string& path : group.files) {
    std::optional<Sha256Digest> digest = digests.prefixDigest(path, group.size);
    if (!digest) continue;
    auto [it, inserted] = index.try_emplace(*digest, sets.size());
    if (inserted) sets.push_back(CandidateGroup{group.size, *digest, {}});
    sets[it->second].files.push_back(std::move(path));  // a bucket can hold every file of a disk
  }
  std::erase_if(sets, [](const CandidateGroup& set) { return set.files.size() < 2; });
  return sets;
}

}  // namespace nimbra
