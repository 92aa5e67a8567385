#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "channel/nimbra_native.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra {
namespace {

using test::ChannelHarness;
using test::TempTree;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Item {
  std::string path;
  std::string name;
  int64_t size = -1;
  bool isDir = false;
  int64_t modified = -1;
  friend bool operator==(const Item&, const Item&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Item& i) {
    return os << "{" << i.path << ", " << i.name << ", " << i.size << ", " << i.isDir << ", "
              << i.modified << "}";
  }
};

struct Category {
  std::string id;
  int64_t size = -1;
  std::vector<Item> items;
};

// The answer of "scanJunk" read back into plain structs; every key it must have is checked.
struct ScanResult {
  std::vector<ValueMap> events;
  std::vector<Category> categories;
  int64_t total = -1;
  int64_t count = -1;
  bool cancelled = false;

  const Category& category(const std::string& id) const {
    for (const Category& c : categories) {
      if (c.id == id) return c;
    }
    static const Category kMissing;
    ADD_FAILURE() << "no category " << id;
    return kMissing;
  }
};

template <class T>
T field(const ValueMap& map, const std::string& key) {
  auto found = map.find(key);
  const T* value = found == map.end() ? nullptr : found->second.getIf<T>();
  EXPECT_NE(value, nullptr) << key;
  return value ? *value : T{};
}

ScanResult readResult(const test::CallOutcome& outcome) {
  ScanResult result;
  result.events = outcome.events;
  const ValueMap* answer = outcome.answer ? outcome.answer->getIf<ValueMap>() : nullptr;
  EXPECT_NE(answer, nullptr);
  if (!answer) return result;
  EXPECT_EQ(answer->size(), 4u);
  result.total = field<int64_t>(*answer, "total");
  result.count = field<int64_t>(*answer, "count");
  result.cancelled = field<bool>(*answer, "cancelled");
  for (const Value& c : field<ValueList>(*answer, "categories")) {
    const ValueMap map = c.getIf<ValueMap>() ? *c.getIf<ValueMap>() : ValueMap{};
    EXPECT_EQ(map.size(), 3u);
    Category& category = result.categories.emplace_back(
        Category{field<std::string>(map, "id"), field<int64_t>(map, "size"), {}});
    for (const Value& i : field<ValueList>(map, "items")) {
      const ValueMap item = i.getIf<ValueMap>() ? *i.getIf<ValueMap>() : ValueMap{};
      EXPECT_EQ(item.size(), 5u);
      category.items.push_back({field<std::string>(item, "path"), field<std::string>(item, "name"),
                                field<int64_t>(item, "size"), field<bool>(item, "isDir"),
                                field<int64_t>(item, "modified")});
    }
  }
  return result;
}

std::vector<std::string> ids(const ScanResult& result) {
  std::vector<std::string> out;
  for (const Category& c : result.categories) out.push_back(c.id);
  return out;
}

std::vector<std::string> names(const Category& category) {
  std::vector<std::string> out;
  for (const Item& i : category.items) out.push_back(i.name);
  return out;
}

// Names of a folder's entries in the order the file system lists them.
std::vector<std::string> listingOrder(const std::string& folder) {
  std::vector<std::string> out;
  DIR* dir = ::opendir(folder.c_str());
  while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") out.push_back(name);
  }
  if (dir) ::closedir(dir);
  return out;
}

// Every test scans a fake home and temporary folder inside its own tree: HOME and TMPDIR point
// there for the test's duration. The user cache folder, the temporary folder's sibling "C",
// is the tree's "C".
class JunkScan : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = tree_.makeDir("home");
    tmp_ = tree_.makeDir("tmp") + "/";
    for (const char* name : {"HOME", "TMPDIR"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("TMPDIR", tmp_.c_str(), 1);
  }

  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

  std::string inHome(const std::string& relative, int64_t size) {
    return tree_.touch("home/" + relative, size);
  }

  TempTree tree_;
  std::string home_;
  std::string tmp_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(JunkScan, NothingToFindGivesTwelveEmptyCategoriesAndOneFinalEvent) {
  ChannelHarness harness;
  ScanResult result = readResult(harness.call("scanJunk"));
  EXPECT_THAT(ids(result), ElementsAre("userCache", "userLogs", "systemCache", "temp", "trash",
                                       "developer", "browsers", "crashReports", "savedState",
                                       "mail", "iosBackups", "localization"));
  for (const Category& c : result.categories) {
    EXPECT_EQ(c.size, 0) << c.id;
    EXPECT_THAT(c.items, IsEmpty()) << c.id;
  }
  EXPECT_EQ(result.total, 0);
  EXPECT_EQ(result.count, 0);
  EXPECT_FALSE(result.cancelled);
  EXPECT_THAT(result.events, ElementsAre(ValueMap{{"task", "junk"}, {"path", ""},
                                                  {"count", int64_t{0}}, {"bytes", int64_t{0}}}));
}

TEST_F(JunkScan, NestedRootsAreItemsOfTheirOwnCategoryOnly) {
  inHome("Library/Caches/Google/Chrome/data", 100);
  inHome("Library/Caches/Google/Other/data", 5);  // inside the folder that holds a root
  inHome("Library/Caches/Firefox/x", 200);
  inHome("Library/Caches/com.apple.Safari/x", 300);
  inHome("Library/Caches/CocoaPods/x", 400);
  inHome("Library/Caches/Homebrew/x", 500);
  inHome("Library/Caches/Home", 6);  // a prefix of "Homebrew", not a folder above it
  inHome("Library/Caches/app.cache/x", 7);
  inHome("Library/Logs/DiagnosticReports/crash.ips", 8);
  inHome("Library/Logs/app.log", 9);

  ChannelHarness harness;
  ScanResult result = readResult(harness.call("scanJunk"));
  EXPECT_THAT(names(result.category("userCache")), ElementsAre("app.cache", "Home"));
  EXPECT_EQ(result.category("userCache").size, 13);
  const std::string caches = home_ + "/Library/Caches";
  EXPECT_THAT(result.category("browsers").items,
              ElementsAre(Item{caches + "/com.apple.Safari", "~/Library/Caches/com.apple.Safari", 300, true, 0},
                          Item{caches + "/Firefox", "~/Library/Caches/Firefox", 200, true, 0},
                          Item{caches + "/Google/Chrome", "~/Library/Caches/Google/Chrome", 100, true, 0}));
  EXPECT_THAT(names(result.category("developer")),
              ElementsAre("~/Library/Caches/Homebrew", "~/Library/Caches/CocoaPods"));
  EXPECT_THAT(names(result.category("userLogs")), ElementsAre("app.log"));
  EXPECT_THAT(names(result.category("crashReports")), ElementsAre("crash.ips"));
  EXPECT_EQ(result.total, 13 + 600 + 900 + 9 + 8);
  EXPECT_EQ(result.count, 9);
}

TEST_F(JunkScan, ListedRootsGiveOneItemPerEntryThatHoldsData) {
  inHome("Library/Caches/empty.bin", 0);
  tree_.makeDir("home/Library/Caches/emptydir/inner");
  tree_.sparseFile("outside/big", 1 << 20);
  tree_.symlink(tree_.path("outside/big"), "home/Library/Caches/link");
  tree_.symlink(tree_.path("outside"), "home/Library/Caches/dirlink");
  inHome("Library/Caches/proj/.git/objects/o", 300);
  inHome("Library/Caches/proj/node_modules/m", 200);
  inHome("Library/Caches/proj/src", 100);
  for (const char* name : {"eq1", "eq2", "eq3", "eq4"}) inHome(std::string("Library/Caches/") + name, 50);
  const std::string dated = inHome("Library/Caches/dated", 70);
  timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 900000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dated.c_str(), times, 0), 0);
  tree_.touch("tmp/t1", 5);
  tree_.touch("C/c", 3);
  inHome(".Trash", 25);  // a root that is a regular file
  tree_.touch("elsewhere/.cache/data", 1000);
  tree_.symlink(tree_.path("elsewhere/.cache"), "home/.cache");  // whole root that is a link

  ChannelHarness harness;
  ScanResult result = readResult(harness.call("scanJunk"));
  const Category& cache = result.category("userCache");
  ASSERT_EQ(cache.items.size(), 6u);
  EXPECT_EQ(cache.items[0], (Item{home_ + "/Library/Caches/proj", "proj", 600, true,
                                  cache.items[0].modified}));
  EXPECT_EQ(cache.items[1], (Item{dated, "dated", 70, false, 1600000000}));
  std::vector<std::string> equalOrder;
  for (const std::string& name : listingOrder(home_ + "/Library/Caches")) {
    if (name.starts_with("eq")) equalOrder.push_back(name);
  }
  const std::vector<std::string> listed = names(cache);
  EXPECT_EQ(std::vector<std::string>(listed.begin() + 2, listed.end()), equalOrder);
  EXPECT_EQ(cache.size, 600 + 70 + 200);

  EXPECT_THAT(result.category("temp").items,
              ElementsAre(Item{tmp_ + "/t1", "t1", 5, false, result.category("temp").items[0].modified}));
  EXPECT_EQ(result.category("temp").items[0].path, tree_.path("tmp//t1"));
  EXPECT_THAT(names(result.category("systemCache")), ElementsAre("c"));
  EXPECT_THAT(result.category("trash").items,
              ElementsAre(Item{home_ + "/.Trash", "~/.Trash", 25, false, 0}));
  EXPECT_THAT(result.category("developer").items, IsEmpty());
  EXPECT_EQ(result.count, 6 + 1 + 1 + 1);
  EXPECT_EQ(result.total, 870 + 5 + 3 + 25);
}

TEST_F(JunkScan, LocalizationFoldersOfApplicationsAreListedExceptKeptLanguages) {
  const std::string resources = "Applications/Safari.app/Contents/Resources/";
  inHome(resources + "fr.lproj/Localizable.strings", 10);
  inHome(resources + "en_GB.lproj/Localizable.strings", 5);
  inHome(resources + "zh-Hans.lproj", 7);  // a file: still an item, with isDir true
  tree_.makeDir("home/" + resources + "de.lproj");  // empty: not an item
  for (const char* kept : {"Base", "English", "EN", "fa", "en-US"}) {
    inHome(resources + kept + ".lproj/x", 1000);
  }
  inHome(resources + "Assets.car", 9999);
  inHome("Applications/Tool/Contents/Resources/it.lproj/x", 4);  // not a bundle
  tree_.makeDir("home/Applications/Broken.app");                  // no resources folder

  ChannelHarness harness;
  ScanResult result = readResult(harness.call("scanJunk"));
  const std::string folder = home_ + "/" + resources;
  EXPECT_THAT(result.category("localization").items,
              ElementsAre(Item{folder + "fr.lproj", "Safari.app \u00B7 fr.lproj", 10, true, 0},
                          Item{folder + "zh-Hans.lproj", "Safari.app \u00B7 zh-Hans.lproj", 7, true, 0},
                          Item{folder + "en_GB.lproj", "Safari.app \u00B7 en_GB.lproj", 5, true, 0}));
  EXPECT_EQ(result.category("localization").size, 22);
}

TEST_F(JunkScan, PathThatIsNotUtf8CountsInTotalsButIsNotListed) {
  inHome("Library/Caches/ok", 10);
  inHome("Library/Caches/bad\xff", 11);
  ChannelHarness harness;
  ScanResult result = readResult(harness.call("scanJunk"));
  EXPECT_THAT(names(result.category("userCache")), ElementsAre("ok"));
  EXPECT_EQ(result.category("userCache").size, 21);
  EXPECT_EQ(result.total, 21);
  EXPECT_EQ(result.count, 2);
}

TEST_F(JunkScan, UnreadableRootsAndEntriesAreLeftOut) {
  inHome("Library/Caches/open/x", 10);
  inHome("Library/Caches/locked/x", 20);
  inHome("Library/Logs/app.log", 30);
  tree_.giveToNobody();
  ASSERT_EQ(::chmod(tree_.path("home/Library/Caches/locked").c_str(), 0), 0);
  ASSERT_EQ(::chmod(tree_.path("home/Library/Logs").c_str(), 0300), 0);  // enterable only
  NimbraNative service;
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              ValueMap answer = service.scanJunk();
              const ValueList& categories = *answer["categories"].getIf<ValueList>();
              auto items = [&](size_t index) {
                return *categories[index].getIf<ValueMap>()->at("items").getIf<ValueList>();
              };
              if (items(0).size() != 1 || items(0)[0].getIf<ValueMap>()->at("name") != Value("open")) {
                return "userCache should hold only the readable folder";
              }
              if (!items(1).empty()) return "an unreadable Logs folder was listed";
              return answer["total"] == Value(int64_t{10}) ? "" : "total is not 10";
            }),
            "");
}

// A clock for the progress throttle that holds the scan inside its N-th progress offer until
// the test lets it go, so a "cancel" can be sent at an exact point of a running scan. Its
// readings are a second apart, so the throttle never drops an event. Holding wakes the
// harness's main loop, which only looks at its wait condition when a task arrives.
class GateClock {
 public:
  explicit GateClock(int holdAtCall) : holdAt_(holdAtCall) {}
  void wakeOnHold(MainLoop* loop) { loop_ = loop; }
  double read() {
    std::unique_lock lock(mutex_);
    ++calls_;
    if (calls_ == holdAt_) {
      held_ = true;
      if (loop_) loop_->post([] {});
      changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
    }
    return 1000.0 + calls_;
  }
  bool held() {
    std::lock_guard lock(mutex_);
    return held_;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int holdAt_;
  MainLoop* loop_ = nullptr;
  int calls_ = 0;
  bool held_ = false;
  bool released_ = false;
};

class JunkScanCancel : public JunkScan {
 protected:
  // One item in each of the first four categories, two in the fifth ("trash"), one in the
  // sixth ("developer"): seven progress offers, then the final one.
  void SetUp() override {
    JunkScan::SetUp();
    inHome("Library/Caches/a", 10);
    inHome("Library/Logs/l", 20);
    tree_.touch("C/s", 30);
    tree_.touch("tmp/t", 40);
    inHome(".Trash/x", 50);
    inHome(".Trash/y", 60);
    inHome(".cache/z", 70);
  }

  ScanResult scanCancellingAtProgressOffer(int offer) {
    auto gate = std::make_shared<GateClock>(offer);
    NimbraNative::Seams seams;
    seams.clock = [gate] { return gate->read(); };
    ChannelHarness harness(seams);
    gate->wakeOnHold(&harness.mainLoop());
    const int ticket = harness.send("scanJunk");
    EXPECT_TRUE(harness.pumpUntil([&] { return gate->held(); }));
    EXPECT_EQ(harness.call("cancel").answer, Value(true));
    gate->release();
    return readResult(harness.wait(ticket));
  }
};

TEST_F(JunkScanCancel, CancelDuringTheFifthCategoryKeepsWhatItFound) {
  // Held in the offer after the first trash item; the cancel lands before the second.
  ScanResult result = scanCancellingAtProgressOffer(5);
  EXPECT_TRUE(result.cancelled);
  EXPECT_THAT(ids(result), ElementsAre("userCache", "userLogs", "systemCache", "temp", "trash"));
  ASSERT_EQ(result.category("trash").items.size(), 1u);
  const int64_t trashBytes = result.category("trash").size;
  EXPECT_TRUE(trashBytes == 50 || trashBytes == 60) << trashBytes;
  EXPECT_EQ(result.count, 5);
  EXPECT_EQ(result.total, 100 + trashBytes);
  ASSERT_FALSE(result.events.empty());
  EXPECT_EQ(result.events.back(), (ValueMap{{"task", "junk"}, {"path", ""}, {"count", int64_t{5}},
                                            {"bytes", 100 + trashBytes}}));
}

TEST_F(JunkScanCancel, CancelAfterTheLastCategoryStillReadsAsCancelled) {
  // The eighth offer is the forced final event, after every category has finished.
  ScanResult result = scanCancellingAtProgressOffer(8);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.categories.size(), 12u);
  EXPECT_EQ(result.count, 7);
  EXPECT_EQ(result.total, 280);
  ASSERT_FALSE(result.events.empty());
  EXPECT_EQ(result.events.back().at("path"), Value(""));
}

TEST_F(JunkScanCancel, HostProgramShowsTwelveCategoriesAndOneFinalEvent) {
  const std::string errors = tree_.path("events.txt");
  const std::string command =
      std::string("'") + NIMBRA_HOST_PATH + "' call scanJunk --events 2>'" + errors + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ASSERT_EQ(::pclose(pipe), 0);

  auto answer = nlohmann::json::parse(output);
  ASSERT_EQ(answer["categories"].size(), 12u);
  EXPECT_EQ(answer["count"], 7);
  EXPECT_EQ(answer["total"], 280);
  EXPECT_EQ(answer["categories"][4]["items"][0]["name"].get<std::string>().size(), 1u);
  int finals = 0;
  std::ifstream events(errors);
  for (std::string line; std::getline(events, line);) {
    auto event = nlohmann::json::parse(line);
    EXPECT_EQ(event["task"], "junk");
    finals += event["path"] == "";
  }
  EXPECT_EQ(finals, 1);
}

}  // namespace
}  // namespace nimbra
