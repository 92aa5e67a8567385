#include "ops/finders/file_stats.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/file_times.h"
#include "ops/finders/disk_walk.h"
#include "ops/finders/file_kinds.h"
#include "ops/finders/largest_files.h"
#include "ops/unreadable_answer.h"
#include "platform/fs/package_names.h"

namespace nimbra {
namespace {

constexpr const char* kTask = "stats";
constexpr int64_t kProgressEvery = 2000;
constexpr size_t kExtensionsListed = 30;
constexpr int64_t kDaySeconds = 24 * 60 * 60;

// Ages by the days since the last change, youngest first, each below its limit.
struct AgeBand {
  std::string_view name;
  int64_t belowDays;
};
constexpr std::array<AgeBand, 5> kAges = {
    {{"month", 30}, {"halfYear", 182}, {"year", 365}, {"twoYears", 730}, {"older", INT64_MAX}}};

struct Tally {
  int64_t size = 0;
  int64_t files = 0;
  void add(int64_t bytes) {
    size += bytes;
    files += 1;
  }
};

// A list of named tallies as the answer has them, largest first.
template <class Named>
ValueList largestFirst(std::vector<Named> entries,
                       const std::function<ValueMap(const Named&)>& map) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Named& a, const Named& b) { return a.tally.size > b.tally.size; });
  ValueList list;
  for (const Named& entry : entries) list.emplace_back(map(entry));
  return list;
}

class StatsSink final : public DiskWalkSink {
 public:
  // With `kind`, that kind's largest files are kept too.
  StatsSink(OperationContext& context, int64_t now, const std::optional<std::string>& kind)
      : context_(context), now_(now), kind_(kind) {}

  bool take(const WalkEntry& entry) override {
    const int depth = entry.depth();
    if (prunedDepth_ && depth > *prunedDepth_) return false;
    prunedDepth_.reset();
    if (packageDepth_ && depth <= *packageDepth_) packageDepth_.reset();
    if (entry.isSymlink()) return false;
    if (isOtherVolumeOrDevices(entry)) {
      prunedDepth_ = depth;
      return false;
    }
    if (entry.isDirectory()) {
      // What lies in a package of a known kind is of that kind.
      if (!packageDepth_ && isPackageName(entry.name())) {
        const std::string_view kind = kindOfExtension(lowerCaseExtension(entry.name()));
        if (kind != kFileKinds.back()) {
          packageDepth_ = depth;
          packageKind_ = kind;
        }
      }
      return true;
    }
    if (!entry.isRegular()) return false;
    const struct stat* info = entry.stat();
    if (!info || !S_ISREG(info->st_mode)) return false;
    const int64_t size = info->st_size;
    total_.add(size);
    const std::string extension = lowerCaseExtension(entry.name());
    const std::string_view kind = packageDepth_ ? packageKind_ : kindOfExtension(extension);
    kinds_[kind].add(size);
    extensions_[extension].add(size);
    const int64_t modified = wholeSeconds(info->st_mtim);
    ages_[ageBand(modified)].add(size);
    if (kind_ && kind == *kind_ && largest_.wouldKeep(size))
      largest_.offer(LargeFile{entry.path(), std::string(entry.name()), size, modified});
    if (total_.files % kProgressEvery == 0)
      context_.progress.offer(kTask, entry.path(), total_.files, total_.size, false);
    return false;
  }

  ValueMap answer() const {
    struct NamedTally {
      std::string_view name;
      Tally tally;
    };
    std::vector<NamedTally> kinds;
    for (std::string_view kind : kFileKinds) {
      const auto found = kinds_.find(kind);
      kinds.push_back({kind, found == kinds_.end() ? Tally{} : found->second});
    }
    std::vector<NamedTally> ages;
    for (size_t i = 0; i < kAges.size(); ++i) ages.push_back({kAges[i].name, ages_[i]});
    struct Extension {
      std::string_view ext;
      Tally tally;
    };
    std::vector<Extension> extensions;
    for (const auto& [ext, tally] : extensions_) extensions.push_back({ext, tally});
    std::stable_sort(
        extensions.begin(), extensions.end(), [](const Extension& a, const Extension& b) {
          return a.tally.size != b.tally.size ? a.tally.size > b.tally.size : a.ext < b.ext;
        });
    if (extensions.size() > kExtensionsListed) extensions.resize(kExtensionsListed);
    ValueList extensionList;
    for (const Extension& entry : extensions) {
      extensionList.emplace_back(ValueMap{{"ext", std::string(entry.ext)},
                                          {"kind", std::string(kindOfExtension(entry.ext))},
                                          {"size", entry.tally.size},
                                          {"files", entry.tally.files}});
    }
    return {{"kinds", largestFirst<NamedTally>(kinds,
                                               [](const NamedTally& k) {
                                                 return ValueMap{{"kind", std::string(k.name)},
                                                                 {"size", k.tally.size},
                                                                 {"files", k.tally.files}};
                                               })},
            {"extensions", std::move(extensionList)},
            {"ages", largestFirst<NamedTally>(ages,
                                              [](const NamedTally& a) {
                                                return ValueMap{{"age", std::string(a.name)},
                                                                {"size", a.tally.size},
                                                                {"files", a.tally.files}};
                                              })},
            {"size", total_.size},
            {"files", total_.files}};
  }

  const Tally& total() const { return total_; }

  // The kind's largest files, for the answer's "largest" and "unnamed".
  void addLargest(ValueMap& answer) {
    if (!kind_) return;
    int64_t unnamed = 0;
    answer["largest"] = largeFileItems(largest_.take(), unnamed);
    answer["unnamed"] = unnamed;
  }

 private:
  size_t ageBand(int64_t modified) const {
    const int64_t days = std::max<int64_t>(now_ - modified, 0) / kDaySeconds;
    size_t band = 0;
    while (days >= kAges[band].belowDays) ++band;
    return band;
  }

  OperationContext& context_;
  const int64_t now_;
  Tally total_;
  std::unordered_map<std::string_view, Tally> kinds_;
  std::unordered_map<std::string, Tally> extensions_;
  std::array<Tally, kAges.size()> ages_{};
  std::optional<int> prunedDepth_;
  std::optional<int> packageDepth_;
  std::string_view packageKind_;
  const std::optional<std::string> kind_;
  LargestFiles largest_{kLargeFilesListed};
};

}  // namespace

ValueMap fileStats(OperationContext& context, const std::string& root,
                   const std::optional<std::string>& kind) {
  StatsSink sink(context, static_cast<int64_t>(std::time(nullptr)), kind);
  DiskWalkSink* sinks[] = {&sink};
  UnreadableFolders unreadable;
  walkDisk(
      root, sinks, [&context] { return context.isCancelled(); }, &unreadable);
  context.progress.offer(kTask, "", sink.total().files, sink.total().size, true);
  ValueMap answer = sink.answer();
  sink.addLargest(answer);
  addUnreadable(answer, unreadable);
  answer["cancelled"] = context.isCancelled();
  return answer;
}

}  // namespace nimbra
