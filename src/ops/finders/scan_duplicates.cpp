#include "ops/finders/scan_duplicates.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/file_times.h"
#include "base/utf8.h"
#include "channel/standard_codec.h"
#include "ops/finders/duplicate_compare.h"
#include "ops/finders/duplicate_stages.h"
#include "ops/finders/file_digests.h"
#include "ops/finders/finder_walk.h"
#include "ops/unreadable_answer.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "dupes";
// During the walk, progress is offered on every this-many regular files that are candidates.
constexpr int64_t kProgressEvery = 500;

struct Group {
  int64_t wasted = 0;
  int64_t unnamed = 0;
  Value answerPart;  // its map, kept encoded: the answer holds one per duplicate set
};

Group makeGroup(CandidateGroup same) {
  std::vector<std::string>& files = same.files;
  std::sort(files.begin(), files.end());
  ValueList fileMaps;
  int64_t unnamed = 0;
  for (const std::string& path : files) {
    // Paths that are not UTF-8 cannot travel to the interface; they still count as copies, and
    // the set says how many it cannot name.
    if (!isValidUtf8(path)) {
      ++unnamed;
      continue;
    }
    size_t slash = path.rfind('/');
    fileMaps.push_back(
        ValueMap{{"path", path},
                 {"name", slash == std::string::npos ? path : path.substr(slash + 1)},
                 {"size", same.size},
                 {"modified", modifiedSeconds(path, LinkAt::itself)}});
  }
  int64_t wasted = same.size * static_cast<int64_t>(files.size() - 1);
  ValueMap map{
      {"size", same.size}, {"hash", same.digest.hex()}, {"wasted", wasted}, {"unnamed", unnamed}};
  map.emplace("files", std::move(fileMaps));
  std::optional<EncodedValue> encoded = encodePiece(map);
  return Group{wasted, unnamed, encoded ? Value(std::move(*encoded)) : Value(std::move(map))};
}

}  // namespace

ValueMap scanDuplicates(OperationContext& context, const std::string& root, int64_t minSize) {
  auto cancelled = [&context] { return context.isCancelled(); };
  FinderWalk walk(root, {.library = LibraryPruning::everywhere, .home = context.folders.home},
                  cancelled);
  if (!walk.ok()) {
    ValueMap answer{{"groups", ValueList{}}, {"scanned", int64_t{0}}};
    addUnreadable(answer, walk.unreadable());
    return answer;
  }

  int64_t scanned = 0;
  std::vector<Candidate> candidates;
  // Hard links are names of one file, not copies: removing one frees nothing, and a program
  // may load the file by any of them. Only the first name the walk meets takes part; the
  // others still count as scanned. Only files with more than one name are remembered.
  std::set<std::pair<dev_t, ino_t>> linkedFilesMet;
  while (const WalkEntry* file = walk.nextFile()) {
    ++scanned;
    const struct stat& info = *file->stat();
    int64_t size = info.st_size;
    if (size < minSize) continue;
    if (info.st_nlink > 1 && !linkedFilesMet.emplace(info.st_dev, info.st_ino).second) continue;
    candidates.push_back(Candidate{file->path(), size});
    if (scanned % kProgressEvery == 0)
      context.progress.offer(kTask, file->path(), scanned, 0, false);
  }

  FileDigests digests;
  ContentComparer comparer(digests);
  std::vector<Group> groups;
  int64_t totalWasted = 0;
  int64_t unnamed = 0;
  int64_t bucketsDone = 0;
  for (CandidateGroup& bucket : groupBySize(std::move(candidates))) {
    if (context.isCancelled()) break;
    const std::string bucketPath = bucket.files.front();
    // Each stage takes the paths from the one before, and a finished set lets go of them, so
    // the answer grows while the scan's own lists shrink.
    for (CandidateGroup& alike : splitByPrefixDigest(std::move(bucket), digests)) {
      if (context.isCancelled()) break;
      for (CandidateGroup& same : comparer.split(alike, cancelled)) {
        groups.push_back(makeGroup(std::move(same)));
        totalWasted += groups.back().wasted;
        unnamed += groups.back().unnamed;
      }
      digests.forget(alike.files);
      alike = CandidateGroup{};
    }
    digests.forget();
    ++bucketsDone;
    context.progress.offer(kTask, bucketPath, bucketsDone, totalWasted, false);
  }

  std::stable_sort(groups.begin(), groups.end(),
                   [](const Group& a, const Group& b) { return a.wasted > b.wasted; });
  ValueList groupMaps;
  groupMaps.reserve(groups.size());
  for (Group& group : groups) groupMaps.push_back(std::move(group.answerPart));
  context.progress.offer(kTask, "", scanned, totalWasted, true);
  ValueMap answer{{"scanned", scanned},
                  {"wasted", totalWasted},
                  {"unnamed", unnamed},
                  {"cancelled", context.isCancelled()}};
  addUnreadable(answer, walk.unreadable());
  answer.emplace("groups", std::move(groupMaps));  // moved, not copied as a list literal would be
  return answer;
}

}  // namespace nimbra
