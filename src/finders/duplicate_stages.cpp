#include "finders/duplicate_stages.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace nimbra {
namespace {

// Groups files by digest, keeping the sets in the order their first file came, and answers
// the sets of two or more.
class DigestSorter {
 public:
  void add(const Sha256Digest& digest, const Candidate* file) {
    auto [it, inserted] = index_.try_emplace(digest, sets_.size());
    if (inserted) sets_.push_back(DigestSet{digest, {}});
    sets_[it->second].files.push_back(file);
  }

  std::vector<DigestSet> setsOfTwoOrMore() && {
    std::erase_if(sets_, [](const DigestSet& set) { return set.files.size() < 2; });
    return std::move(sets_);
  }

 private:
  std::unordered_map<Sha256Digest, size_t, Sha256DigestHash> index_;
  std::vector<DigestSet> sets_;
};

}  // namespace

std::vector<SizeBucket> bucketsBySize(std::vector<Candidate> candidates) {
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.size > b.size; });
  std::vector<SizeBucket> buckets;
  for (auto first = candidates.begin(); first != candidates.end();) {
    auto last = std::find_if(first, candidates.end(),
                             [&](const Candidate& c) { return c.size != first->size; });
    if (last - first >= 2) {
      buckets.emplace_back(std::make_move_iterator(first), std::make_move_iterator(last));
    }
    first = last;
  }
  return buckets;
}

std::vector<CandidateSet> splitByPrefixDigest(const SizeBucket& bucket, DigestSource& digests) {
  DigestSorter sorter;
  for (const Candidate& file : bucket) {
    if (std::optional<Sha256Digest> digest = digests.prefixDigest(file)) sorter.add(*digest, &file);
  }
  std::vector<CandidateSet> sets;
  for (DigestSet& set : std::move(sorter).setsOfTwoOrMore()) sets.push_back(std::move(set.files));
  return sets;
}

std::vector<DigestSet> splitByFullDigest(const CandidateSet& set, DigestSource& digests,
                                         const std::function<bool()>& cancelled) {
  DigestSorter sorter;
  for (const Candidate* file : set) {
    if (cancelled()) break;
    if (std::optional<Sha256Digest> digest = digests.fullDigest(*file)) sorter.add(*digest, file);
  }
  return std::move(sorter).setsOfTwoOrMore();
}

}  // namespace nimbra
