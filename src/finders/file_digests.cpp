#include "finders/file_digests.h"

#include <utility>

#include "finders/content_file.h"

namespace nimbra {

std::optional<Sha256Digest> FileDigests::prefixDigest(const Candidate& file) {
  std::optional<ContentFile> content = ContentFile::open(file.path);
  if (!content) return std::nullopt;
  Version version = Version::of(content->info());
  versionOfPath_.insert_or_assign(file.path, version);
  if (auto known = prefixes_.find(version); known != prefixes_.end()) return known->second.digest;

  Sha256 hasher;
  std::optional<int64_t> fed = content->feed(hasher, 0, kPrefixDigestBytes);
  if (!fed) {
    versionOfPath_.erase(file.path);
    return std::nullopt;
  }
  bytesRead_ += *fed;
  Prefix prefix;
  prefix.digest = hasher.digest();
  prefix.bytes = *fed;
  prefix.wholeFile = *fed < kPrefixDigestBytes || *fed >= content->info().st_size;
  if (!prefix.wholeFile) prefix.state = std::move(hasher);
  Sha256Digest digest = prefix.digest;
  prefixes_.emplace(version, std::move(prefix));
  return digest;
}

std::optional<Sha256Digest> FileDigests::fullDigest(const Candidate& file) {
  auto path = versionOfPath_.find(file.path);
  const Version* known = path == versionOfPath_.end() ? nullptr : &path->second;
  if (known) {
    if (auto done = fullDigests_.find(*known); done != fullDigests_.end()) return done->second;
    auto prefix = prefixes_.find(*known);
    if (prefix != prefixes_.end() && prefix->second.wholeFile) {
      fullDigests_.emplace(*known, prefix->second.digest);
      return prefix->second.digest;
    }
  }
  return readFullDigest(file.path, known);
}

std::optional<Sha256Digest> FileDigests::readFullDigest(const std::string& path,
                                                        const Version* known) {
  std::optional<ContentFile> content = ContentFile::open(path);
  if (!content) return std::nullopt;
  Version version = Version::of(content->info());

  // Go on from the prefix when the file is still the one whose prefix was read.
  Sha256 hasher;
  int64_t offset = 0;
  if (known && *known == version) {
    auto prefix = prefixes_.find(version);
    if (prefix != prefixes_.end() && prefix->second.state) {
      hasher = std::move(*prefix->second.state);
      prefix->second.state.reset();
      offset = prefix->second.bytes;
    }
  }
  std::optional<int64_t> fed = content->feed(hasher, offset, std::nullopt);
  if (!fed) return std::nullopt;
  bytesRead_ += *fed;
  Sha256Digest digest = hasher.digest();
  fullDigests_.insert_or_assign(version, digest);
  return digest;
}

void FileDigests::forget() {
  versionOfPath_.clear();
  prefixes_.clear();
  fullDigests_.clear();
}

void FileDigests::forget(const CandidateSet& files) {
  // Hard links share a version; they have equal prefixes, so they are in the same set.
  for (const Candidate* file : files) {
    auto path = versionOfPath_.find(file->path);
    if (path == versionOfPath_.end()) continue;
    prefixes_.erase(path->second);
    fullDigests_.erase(path->second);
    versionOfPath_.erase(path);
  }
}

}  // namespace nimbra
