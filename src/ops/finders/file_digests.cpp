#include "ops/finders/file_digests.h"

#include <algorithm>
#include <utility>

namespace nimbra {

std::optional<Sha256Digest> FileDigests::prefixDigest(const std::string& path, int64_t size) {
  std::optional<ContentFile> content = ContentFile::open(path);
  // A file whose length differs from the walk's was written since: it no longer belongs
  // with the files of that size.
  if (!content || content->info().st_size != size) return std::nullopt;
  FileVersion version = content->version();
  if (auto known = prefixes_.find(version); known != prefixes_.end()) {
    versionOfPath_.insert_or_assign(path, version);
    return known->second.digest;
  }

  Sha256 hasher;
  int64_t wanted = std::min(size, kPrefixDigestBytes);
  std::optional<int64_t> fed = content->feed(hasher, 0, wanted);
  if (fed) bytesRead_ += *fed;
  // Short: the file shrank while it was read.
  if (fed != wanted) return std::nullopt;
  // A file read whole, with no other name to share its digest with, leaves nothing to keep:
  // the comparison needs nothing more for it, and in a bucket of a hundred thousand small
  // files what was kept per file outweighed the answer.
  if (size == wanted && content->info().st_nlink == 1) return hasher.digest();
  Prefix prefix{hasher.digest(), std::nullopt};
  if (size > wanted) prefix.state = std::move(hasher);
  Sha256Digest digest = prefix.digest;
  prefixes_.emplace(version, std::move(prefix));
  versionOfPath_.insert_or_assign(path, version);
  return digest;
}

const FileVersion* FileDigests::versionOf(const std::string& path) const {
  auto found = versionOfPath_.find(path);
  return found == versionOfPath_.end() ? nullptr : &found->second;
}

std::optional<Sha256> FileDigests::stateAfterPrefix(const FileVersion& version) const {
  auto found = prefixes_.find(version);
  if (found == prefixes_.end() || !found->second.state) return std::nullopt;
  return found->second.state->clone();
}

void FileDigests::forget() {
  versionOfPath_.clear();
  prefixes_.clear();
}

void FileDigests::forget(const std::vector<std::string>& files) {
  // Hard links share a version; they have equal prefixes, so they are in the same set.
  for (const std::string& file : files) {
    auto path = versionOfPath_.find(file);
    if (path == versionOfPath_.end()) continue;
    prefixes_.erase(path->second);
    versionOfPath_.erase(path);
  }
}

}  // namespace nimbra
