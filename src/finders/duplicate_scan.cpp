#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "channel/nimbra_native.h"
#include "finders/duplicate_compare.h"
#include "finders/duplicate_stages.h"
#include "finders/file_digests.h"
#include "finders/finder_walk.h"
#include "platform/file_times.h"
#include "platform/utf8.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "dupes";
// During the walk, progress is offered on every this-many regular files that are candidates.
constexpr int64_t kProgressEvery = 500;

// Whole seconds since 1970, truncated toward zero, read now; 0 when it cannot be read.
int64_t modifiedNow(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return wholeSeconds(info.st_mtim);
}

struct Group {
  int64_t wasted = 0;
  ValueMap map;
};

Group makeGroup(CandidateGroup same) {
  std::vector<std::string>& files = same.files;
  std::sort(files.begin(), files.end());
  ValueList fileMaps;
  for (const std::string& path : files) {
    // Paths that are not UTF-8 cannot travel to the interface; they still count as copies.
    if (!isValidUtf8(path)) continue;
    size_t slash = path.rfind('/');
    fileMaps.push_back(ValueMap{
        {"path", path},
        {"name", slash == std::string::npos ? path : path.substr(slash + 1)},
        {"size", same.size},
        {"modified", modifiedNow(path)}});
  }
  int64_t wasted = same.size * static_cast<int64_t>(files.size() - 1);
  Group group{wasted,
              ValueMap{{"size", same.size}, {"hash", same.digest.hex()}, {"wasted", wasted}}};
  group.map.emplace("files", std::move(fileMaps));
  return group;
}

}  // namespace

ValueMap NimbraNative::scanDuplicates(const std::string& root, int64_t minSize) {
  auto cancelled = [this] { return isCancelled(); };
  FinderWalk walk(root, LibraryPruning::everywhere, cancelled);
  if (!walk.ok()) return ValueMap{{"groups", ValueList{}}, {"scanned", int64_t{0}}};

  int64_t scanned = 0;
  std::vector<Candidate> candidates;
  while (const WalkEntry* file = walk.nextFile()) {
    ++scanned;
    int64_t size = file->stat()->st_size;
    if (size < minSize) continue;
    candidates.push_back(Candidate{file->path(), size});
    if (scanned % kProgressEvery == 0) progress(kTask, file->path(), scanned, 0, false);
  }

  FileDigests digests;
  ContentComparer comparer(digests);
  std::vector<Group> groups;
  int64_t totalWasted = 0;
  int64_t bucketsDone = 0;
  for (const CandidateGroup& bucket : groupBySize(std::move(candidates))) {
    if (isCancelled()) break;
    for (const CandidateGroup& alike : splitByPrefixDigest(bucket, digests)) {
      if (isCancelled()) break;
      for (CandidateGroup& same : comparer.split(alike, cancelled)) {
        groups.push_back(makeGroup(std::move(same)));
        totalWasted += groups.back().wasted;
      }
      // The set is grouped: its digests go now, while the answer grows, not with the bucket.
      digests.forget(alike.files);
    }
    digests.forget();
    ++bucketsDone;
    progress(kTask, bucket.files.front(), bucketsDone, totalWasted, false);
  }

  std::stable_sort(groups.begin(), groups.end(),
                   [](const Group& a, const Group& b) { return a.wasted > b.wasted; });
  ValueList groupMaps;
  groupMaps.reserve(groups.size());
  for (Group& group : groups) groupMaps.push_back(std::move(group.map));
  progress(kTask, "", scanned, totalWasted, true);
  ValueMap answer{{"scanned", scanned}, {"wasted", totalWasted}, {"cancelled", isCancelled()}};
  answer.emplace("groups", std::move(groupMaps));  // moved, not copied as a list literal would be
  return answer;
}

}  // namespace nimbra
