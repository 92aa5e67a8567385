#include "ops/junk/scan_junk.h"

#include <unistd.h>

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/json/json_text.h"
#include "ops/junk/item_facts.h"
#include "platform/fs/dir_walker.h"
#include "support/temp_tree.h"
#include "support/test_context.h"
#include "support/unprivileged.h"

namespace nimbra {
namespace {

using Json = nlohmann::json;

// A scan's answer as JSON, which failures print readably; its categories also by id under
// "byId" and their ids in order under "ids".
Json scanned(Json json) {
  for (const Json& c : json.value("categories", Json::array())) {
    json["ids"].push_back(c.value("id", "?"));
    json["byId"][c.value("id", "?")] = c;
  }
  return json;
}

// A category's items in order as "name:size", "d" marking a folder, then "=" its size.
std::string summary(const Json& category) {
  std::string out;
  for (const Json& i : category.value("items", Json::array())) {
    out += i.value("name", "?") + ":" + std::to_string(i.value("size", -1)) +
           (i.value("isDir", false) ? "d " : " ");
  }
  return out + "=" + std::to_string(category.value("size", -1));
}

// Every test scans a home ("home") and temporary folder ("tmp/") inside its own tree; the user
// cache folder, the temporary folder's sibling "C", is the tree's "C", and the Trash lies beside
// the home, not in it.
class JunkScan : public ::testing::Test {
 protected:
  test::TempTree tree_;
  std::string home_ = tree_.makeDir("home");
  std::string tmp_ = tree_.makeDir("tmp");
  Folders folders_{home_, tmp_ + "/", tree_.path("home2/Trash"), tree_.path("Applications"),
      tree_.path("Library")};
};

TEST_F(JunkScan, EachItemIsFoundOnceUnderItsOwnRootAndSortedBySize) {
  const std::string caches = "home/Library/Caches/";
  const std::string bundle = "home/Applications/Safari.app/Contents/Resources/";
  for (const auto& [path, size] : std::vector<std::pair<std::string, int>>{
           {caches + "Google/Chrome/x", 100}, {caches + "Google/y", 5}, {caches + "Firefox/x", 200},
           {caches + "com.apple.Safari/x", 300}, {caches + "CocoaPods/x", 400},
           {caches + "Homebrew/x", 500}, {caches + "Home", 6},  // a prefix, not a folder above
           {caches + "proj/x", 70}, {caches + "proj/locked/y", 40}, {caches + "locked/x", 20},
           {caches + "empty", 0}, {caches + "bad\xff", 11},  // counted, but cannot be listed
           {caches + "eq1", 50}, {caches + "eq2", 50}, {caches + "eq3", 50}, {"tmp/t1", 5},
           {"home/Library/Logs/DiagnosticReports/crash.ips", 8}, {"home/Library/Logs/app.log", 9},
           {"C/c", 3}, {"home2/Trash/files", 25},  // a Trash whose files/ is a file holds nothing
           {bundle + "fr.lproj/Localizable.strings", 10}, {bundle + "zh-Hans.lproj", 7},
           {bundle + "EN.lproj/x", 1000}, {bundle + "Assets.car", 1000},
           {"home/Applications/Tool/Contents/Resources/it.lproj/x", 1000}}) {  // not a bundle
    tree_.touch(path, size);
  }
  tree_.symlink(tree_.path(caches + "proj"), "home/.cache");  // a root that is a link
  timespec stamp[2] = {{0, UTIME_OMIT}, {1600000000, 900000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree_.path("tmp/t1").c_str(), stamp, 0), 0);
  // Unreadable: an entry of a listed root, a subfolder met by the size walk, and a root that
  // can be entered but not listed (the crash reports inside it still count). Scanned as
  // nobody, because root reads everything.
  tree_.giveToNobody();
  for (const char* locked : {"locked", "proj/locked"}) {
    ASSERT_EQ(::chmod(tree_.path(caches + locked).c_str(), 0), 0);
  }
  ASSERT_EQ(::chmod(tree_.path("home/Library/Logs").c_str(), 0300), 0);
  Json scan = scanned(Json::parse(test::runUnprivileged([&] {
    test::TestContext context(folders_);
    return toJsonText(scanJunk(*context));
  })));
  Json& found = scan["byId"];
  std::string equal;  // equal sizes keep the listing order
  for (DirWalker listing(home_ + "/Library/Caches"); const WalkEntry* e = listing.next();) {
    if (e->name().starts_with("eq")) equal += std::string(e->name()) + ":50 ";
  }
  EXPECT_EQ(summary(found["userCache"]), "proj:70d " + equal + "Home:6 =237");
  EXPECT_EQ(summary(found["userLogs"]), "=0");
  EXPECT_EQ(summary(found["systemCache"]), "c:3 =3");
  // A listed entry's time in whole seconds; the temporary folder ends in "/", and paths are
  // joined as plain strings. A whole root has no time, and is named from "~" only below the home.
  EXPECT_EQ(found["temp"]["items"][0], (Json{{"path", tmp_ + "//t1"}, {"name", "t1"}, {"size", 5},
                                           {"isDir", false}, {"modified", 1600000000}}));
  EXPECT_EQ(summary(found["trash"]), "=0");
  EXPECT_EQ(summary(found["browsers"]),
      "~/Library/Caches/com.apple.Safari:300d ~/Library/Caches/"
      "Firefox:200d ~/Library/Caches/Google/Chrome:100d =600");
  EXPECT_EQ(summary(found["crashReports"]), "crash.ips:8 =8");
  EXPECT_EQ(summary(found["localization"]),
      "Safari.app \u00B7 fr.lproj:10d Safari.app \u00B7 zh-Hans.lproj:7d =17");
  EXPECT_EQ(found["localization"]["items"][0]["path"], tree_.path(bundle + "fr.lproj"));
  EXPECT_EQ(Json({scan["count"], scan["total"], scan["cancelled"]}), Json({16, 1770, false}));
}

TEST_F(JunkScan, CancelDuringTheFifthCategoryKeepsWhatWasFoundUpToThere) {
  // One item in each of the first four categories, two in the fifth ("trash"), one in the
  // sixth ("developer"); the cancel lands inside the offer of the first trash item.
  for (const char* path : {"home/Library/Caches/a", "home/Library/Logs/l", "C/s", "tmp/t",
           "home2/Trash/files/x", "home2/Trash/files/y", "home/.cache/z"}) {
    tree_.touch(path, 60);
  }
  test::TestContext context(folders_);
  context.cancelAtOffer = 5;
  Json scan = scanned(toJson(scanJunk(*context)));
  EXPECT_EQ(scan["ids"], Json({"userCache", "userLogs", "systemCache", "temp", "trash"}));
  EXPECT_THAT(summary(scan["byId"]["trash"]), ::testing::AnyOf("x:60 =60", "y:60 =60"));
  EXPECT_EQ(Json({scan["count"], scan["total"], scan["cancelled"]}), Json({5, 300, true}));
  EXPECT_EQ(context.events.back(), (test::Event{"junk", "", 5, 300}));
}

// What decides whether a temporary entry is offered: its owner and the newest change anywhere
// inside it, read from the entry itself, never from where a link (trailing slash or not) leads.
TEST_F(JunkScan, InspectionTellsOwnerAndNewestChangeOfTheEntryItselfNeverALinksTarget) {
  tree_.touch("tmp/old/deep/er/fresh", 1);
  tree_.touch("tmp/theirs", 1);
  tree_.symlink(tree_.path("tmp/old"), "tmp/link");
  for (const auto& [path, seconds] :
      std::vector<std::pair<std::string, time_t>>{{"tmp/old/deep/er/fresh", 1700000000},
          {"tmp/old/deep/er", 1600000000}, {"tmp/old/deep", 1600000000}, {"tmp/old", 1600000000},
          {"tmp/theirs", 1600000001}, {"tmp/link", 1600000002}}) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, tree_.path(path).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }
  ASSERT_EQ(::lchown(tree_.path("tmp/theirs").c_str(), test::nobodyUid(), test::nobodyGid()), 0);
  const std::string nul("/old\0/..", 8);
  const std::vector<std::string> paths = {
      tmp_ + "/old", tmp_ + "/theirs", tmp_ + "/link/", tmp_ + "/old", tmp_ + nul, tmp_ + "/gone"};
  test::TestContext context(folders_);
  const Json answer = toJson(inspectItems(*context, paths));
  std::string facts;
  for (const Json& item : answer["items"]) {
    facts += item["path"].get<std::string>().substr(tmp_.size()) + " " +
             (item["exists"] ? "" : "gone ") + (item["mine"] ? "mine " : "") +
             std::to_string(item["newest"].get<int64_t>()) + "; ";
  }
  EXPECT_EQ(facts, "/old mine 1700000000; /theirs 1600000001; /link/ mine 1600000002; " + nul +
                       " gone 0; /gone gone 0; ");
  EXPECT_FALSE(answer["cancelled"]);
  context.cancelled = true;
  EXPECT_EQ(
      toJson(inspectItems(*context, paths)), (Json{{"items", Json::array()}, {"cancelled", true}}));
}

// A program that holds `path` open, or works in it, until killed: a real other process.
pid_t holdInAnotherProcess(const std::string& path, bool asWorkingFolder) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool held = asWorkingFolder ? ::chdir(path.c_str()) == 0
                                      : ::open(path.c_str(), O_RDONLY) >= 0;  // kept across exec
    if (held) ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Entries that must never be offered, whatever their age and owner: what the system's own
// cleaning keeps, what a running program holds (open or as its working folder, anywhere
// inside), sockets, FIFOs and devices, and what holds a folder that could not be read (its
// newest change is unknown).
TEST_F(JunkScan, InspectionHoldsBackWhatIsInUseSpecialTheSystemsOwnOrUnreadable) {
  for (const char* path : {"tmp/plain/f", "tmp/systemd-private-0a1b-colord.service-Xy/tmp/f",
           "tmp/held/deep/file", "tmp/cwd/f", "tmp/sockets/dir/f", "tmp/unread/locked/f"}) {
    tree_.touch(path, 1);
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = tree_.path("tmp/sockets/dir/s");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(socket);
  ASSERT_EQ(::mkfifo(tree_.path("tmp/fifo").c_str(), 0600), 0);
  const pid_t holders[] = {holdInAnotherProcess(tree_.path("tmp/held/deep/file"), false),
      holdInAnotherProcess(tree_.path("tmp/cwd"), true)};
  // Each holder holds its file or folder once it runs sleep (it took hold before the exec).
  for (const pid_t holder : holders) {
    for (int i = 0; i < 500; ++i) {
      char program[256] = {};
      const std::string exe = "/proc/" + std::to_string(holder) + "/exe";
      if (::readlink(exe.c_str(), program, sizeof program - 1) > 0 &&
          std::string_view(program).ends_with("/sleep")) {
        break;
      }
      ::usleep(10000);
    }
  }
  const auto holdBacks = [&](const Json& answer) {
    std::string out;
    for (const Json& item : answer["items"]) {
      out += item["path"].get<std::string>().substr(tmp_.size() + 1) + ": " +
             item["holdBack"].get<std::string>() + " (" +
             std::to_string(item["unreadable"].get<int>()) + ")\n";
    }
    return out;
  };
  std::vector<std::string> paths;
  for (const char* name : {"plain", "systemd-private-0a1b-colord.service-Xy", "held", "cwd",
           "sockets", "fifo", "unread"}) {
    paths.push_back(tmp_ + "/" + name);
  }
  test::TestContext context(folders_);
  const std::string asRoot = holdBacks(toJson(inspectItems(*context, paths)));
  for (const pid_t holder : holders) {
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
  }
  EXPECT_EQ(asRoot,
      "plain:  (0)\n"
      "systemd-private-0a1b-colord.service-Xy: kept by the system's own cleaning of temporary "
      "files (0)\n"
      "held: in use by a running program (0)\n"
      "cwd: in use by a running program (0)\n"
      "sockets: is or holds a socket, FIFO or device (0)\n"
      "fifo: is or holds a socket, FIFO or device (0)\n"
      "unread:  (0)\n");
  tree_.giveToNobody();
  ASSERT_EQ(::chmod(tree_.path("tmp/unread/locked").c_str(), 0), 0);
  const std::string asNobody = test::runUnprivileged([&] {
    test::TestContext unprivileged(folders_);
    return holdBacks(toJson(inspectItems(*unprivileged, {tmp_ + "/unread", tmp_ + "/plain"})));
  });
  EXPECT_EQ(asNobody, "unread: holds folders that could not be read (1)\nplain:  (0)\n");
}

}  // namespace
}  // namespace nimbra
