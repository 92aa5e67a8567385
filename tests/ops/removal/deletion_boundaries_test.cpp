// Deletion must never act on anything but the items its paths name: not through a NUL byte,
// not through a link given with a trailing slash, not on a path the service refuses, not
// across a mount point, and on no route (permanent, Trash, administrator). Every test here
// works inside its own temporary folder; as root, the mounts are made in a private namespace.

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <random>
#include <tuple>

#include "host/json/json_parse.h"
#include "ops/junk/empty_trash.h"
#include "ops/removal/delete_items.h"
#include "ops/removal/trash_items.h"
#include "platform/fs/file_removal.h"
#include "platform/process/script_grammar.h"
#include "support/channel_harness.h"
#include "support/deletion_fixtures.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;

std::string withNul(const std::string& before, const std::string& after = "") {
  std::string text = before;
  text += '\0';
  return text + after;
}

// Every entry below `root` (links not followed) with its type and size: what a deletion may
// change only at or below the item it was given.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st;
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    entries[it->path().string()] = std::to_string(st.st_mode) + ":" + std::to_string(st.st_size);
  }
  return entries;
}

bool atOrBelow(const std::string& path, const std::string& item) {
  return path == item || (path.starts_with(item) && path[item.size()] == '/');
}

TEST(DeletionBoundaries, APathHoldingANulByteNamesNoFileForAnyMethodOfTheChannel) {
  // Read by the kernel, "parent/a\0/..\0" is "parent/a", while every check of the whole text
  // saw a path ending in "..": deleting it emptied `parent`. Here the paths travel as a client
  // sends them, through the codec and each method's arguments; the random test below throws
  // such shapes at each route directly.
  TempTree tree;
  tree.touch("parent/a/g", 3);
  tree.touch("parent/keep", 4);
  const std::string parent = tree.path("parent");
  const std::vector<std::string> hostile = {
      withNul(parent + "/a", "/.." + withNul("")), withNul(parent)};
  RecordingScriptRunner admin;  // nothing may reach it; were it to, nothing would run
  ChannelHarness channel({.scriptRunner = &admin});
  const std::string nothingDone = json(deleteResult(0));
  const ValueList paths(hostile.begin(), hostile.end());
  EXPECT_EQ(json(channel.call("deleteItems", ValueMap{{"paths", paths}}).answer), nothingDone);
  EXPECT_EQ(json(channel.call("deleteItems", ValueMap{{"paths", paths}, {"toTrash", true}}).answer),
      nothingDone);
  EXPECT_EQ(json(channel.call("uninstallApp", ValueMap{{"paths", paths}}).answer), nothingDone);
  EXPECT_EQ(json(channel.call("sizeOf", ValueMap{{"path", hostile[1]}}).answer),
      R"({"size":0,"unreadable":0,"unreadableFolders":[]})");
  const std::optional<Value> scan =
      channel.call("scanLargeFiles", ValueMap{{"root", hostile[1]}, {"minSize", 1}}).answer;
  EXPECT_EQ(scan ? scan->getIf<ValueMap>()->at("items") : Value(), Value(ValueList{}));
  EXPECT_EQ(findByteSum(parent), 7);
  EXPECT_EQ(admin.scripts, std::vector<std::string>{});
}

TEST(DeletionBoundaries, NoRouteActsPastALinkAMountOrARefusedPath) {
  // `in` is read-only, so the link in it cannot go by any route, and the administrator step
  // runs for real (as root). Given as "link/", rm used to follow the link and empty `outside`.
  // `a` is bind-mounted onto its own `sub` (same device: only the mount id tells), `c` onto
  // `b/m` and `d/m`: deleting a/sub used to delete a/f. Nothing that holds a mount goes to the
  // Trash or to the administrator step, and nothing from another mount is moved there. The
  // Trash emptied here is read-only too: what cannot leave it is reported, a name that is not
  // UTF-8 only in the error text and the count, and keeps its record.
  NIMBRA_SKIP_UNLESS_ROOT("private mounts and the real administrator route");
  TempTree tree;
  tree.touch("outside/canary", 6);
  tree.touch("in/sub/keep", 4);
  tree.touch("a/f", 5);
  tree.touch("b/own", 2);
  tree.touch("d/own", 3);
  tree.touch("c/canary", 6);
  for (const char* mountPoint : {"a/sub", "b/m", "d/m"}) tree.makeDir(mountPoint);
  const std::string link = tree.symlink(tree.path("outside"), "in/link"), in = tree.path("in"),
                    home = tree.makeDir("home");
  const std::string a = tree.path("a"), b = tree.path("b"), c = tree.path("c"), d = tree.path("d");
  const std::string trash = home + "/data/Trash";
  tree.touch("home/data/Trash/files/t\xfe/x", 2);
  tree.touch("home/data/Trash/files/ok", 3);
  tree.write("home/data/Trash/info/ok.trashinfo", "[Trash Info]\nPath=/ok\n");
  // "." and ".." are read from in/sub, the child's working folder.
  const std::vector<std::string> paths = {
      in + "/..", in + "/sub/.", in + "/sub/./", in + "/sub/../", ".", "..", link + "/"};
  const std::string reply = runInPrivateMountNamespace([&]() -> std::string {
    for (const auto& [from, onto, readOnly] :
        {std::tuple{in, in, true}, {trash + "/files", trash + "/files", true},
            {a, a + "/sub", false}, {c, b + "/m", false}, {c, d + "/m", false}}) {
      if (std::string failure = bindMount(from, onto, readOnly); !failure.empty()) return failure;
    }
    if (::chdir((in + "/sub").c_str()) != 0) return "cannot enter " + in + "/sub";
    RecordingScriptRunner admin;
    admin.onRun = [&] { admin.answer = ShellScriptRunner().runScript(admin.scripts.back()); };
    TestContext context({.home = home, .trash = trash}, {.scripts = &admin});
    const ValueMap emptied = emptyTrash(*context);
    const Event last = context.events.back();
    const ValueMap trashed = trashItems(*context, {in + "/sub/keep", d});
    return toJsonText(ValueList{emptied, ValueList{last.path, last.count, last.bytes},
        deleteItems(*context, paths, false, true), deleteItems(*context, {link + "/"}, true, true),
        deleteItems(*context, {a + "/sub", b}, false, true), deleteItems(*context, {d}, true, true),
        ValueList(admin.scripts.begin(), admin.scripts.end()), trashed});
  });
  const Decoded<Value> parsed = parseJsonValue(reply);
  ASSERT_TRUE(parsed && parsed.value->getIf<ValueList>()->size() == 8) << reply;
  const ValueList& answers = *parsed.value->getIf<ValueList>();
  // Only the UTF-8 name is listed; both are counted and in the error text, the other with U+FFFD.
  const ValueMap& emptied = *answers[0].getIf<ValueMap>();
  EXPECT_EQ(emptied.at("failed"), Value(ValueList{trash + "/files/ok"}));
  EXPECT_THAT(*emptied.at("error").getIf<std::string>(),
      ::testing::HasSubstr("/files/t\xEF\xBF\xBD/x: Read-only"));
  EXPECT_EQ(answers[1], Value(ValueList{"", int64_t{2}, int64_t{0}}));  // the last event
  const std::string invalid = ": Invalid argument\n", readOnly = "': Read-only file system";
  EXPECT_EQ(answers[2], deleteResult(0, paths,
                            in + "/.." + invalid + in + "/sub/." + invalid + in + "/sub/." +
                                ": Invalid argument\nrm: cannot remove '" + link + readOnly));
  EXPECT_EQ(
      answers[3], deleteResult(0, {link + "/"},
                      link + ": Invalid cross-device link\nrm: cannot remove '" + link + readOnly));
  const std::string mounted = ": another file system is mounted here";
  EXPECT_EQ(answers[4],
      deleteResult(2, {a + "/sub", b}, a + "/sub" + mounted + "\n" + b + "/m" + mounted));
  EXPECT_EQ(answers[5], deleteResult(3, {d}, d + "/m" + mounted));
  EXPECT_EQ(answers[6], Value(ValueList{adminRemovalScript({link}), adminRemovalScript({link})}));
  EXPECT_EQ(answers[7],
      Value(ValueMap{{"trashed", ValueList{}}, {"failed", ValueList{in + "/sub/keep", d}},
          {"error", in + "/sub/keep: Invalid cross-device link\n" + d + "/m" + mounted},
          {"cancelled", false}, {"moved", ValueList{}}}));
  EXPECT_EQ(entryCount(trash + "/info"), 1) << "a record was left for an item that did not move";
  EXPECT_TRUE(present(trash + "/info/ok.trashinfo"));
  EXPECT_EQ(findByteSum(tree.path("outside")), 6) << "the link's target lost its contents";
  EXPECT_TRUE(
      present(link) && present(tree.path("in/sub/keep")) && present(trash + "/files/t\xfe/x"));
  EXPECT_EQ(findByteSum(a), 5);
  EXPECT_EQ(findByteSum(c), 6);
  EXPECT_FALSE(present(b + "/own") || present(d + "/own"));
}

// A sandbox whose names the random paths are made of: folders, a file, links to a folder
// inside and to a folder outside the item, and a read-only folder whose entries only the
// administrator step could remove.
void buildSandbox(const std::string& root) {
  // The read-only folder may have been moved anywhere below the root, the Trash included.
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(root, ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, ignored);
  }
  fs::remove_all(root, ignored);
  for (const char* folder : {"box/a/b", "box/c", "box/ro/sub", "outside"})
    fs::create_directories(root + "/" + folder);
  for (const char* file :
      {"box/a/b/f", "box/c/g", "box/e", "box/ro/f", "box/ro/sub/h", "outside/canary"}) {
    std::ofstream(root + "/" + file) << "data";
  }
  fs::create_directory_symlink(root + "/outside", root + "/box/a/l");
  fs::create_directory_symlink(root + "/box/c", root + "/box/ro/rl");
  fs::create_directory_symlink("../outside", root + "/box/rel");
  fs::permissions(root + "/box/ro", fs::perms::owner_read | fs::perms::owner_exec);
}

// The item a path names as the kernel resolves it (its parent followed, the item itself
// not), or "" when it names none that removal would act on.
std::string namedItem(const std::string& path) {
  if (path.find('\0') != std::string::npos || removalRefusal(path)) return "";
  std::string item = path;
  while (item.size() > 1 && item.back() == '/') item.pop_back();
  const size_t slash = item.rfind('/');
  char resolved[PATH_MAX];
  if (!::realpath(item.substr(0, slash).c_str(), resolved)) return "";
  return std::string(resolved) + item.substr(slash);
}

TEST(DeletionBoundaries, RandomPathTextsNeverReachPastTheItemTheyName) {
  // Seeded, so a failure repeats. Run as nobody in nobody's tree: even a fault could not reach
  // past it. Paths that resolve outside the test's folder are never handed to deletion.
  TempTree tree;
  tree.giveToNobody();
  const std::string root = tree.path("sandbox");
  const std::string pkexec = tree.write("pkexec", "#!/bin/sh\nexec \"$@\"\n");
  ::chmod(pkexec.c_str(), 0755);
  const std::string report = runUnprivileged([&]() -> std::string {
    ShellScriptRunner runner({.pkexec = pkexec});
    TestContext context(
        {.home = root + "/home", .trash = root + "/home/data/Trash"}, {.scripts = &runner});
    const std::vector<std::string> pieces = {
        "a", "b", "l", "ro", "rl", "rel", "e", ".", "..", "", "f"};
    std::mt19937 random(20261207);
    std::string report;
    // The known hostile shapes first, on every route; then random ones. Read by the
    // kernel, "a\0/..\0" is "a", while every check on the whole text sees a path
    // ending in "..": it used to empty the folder above.
    const std::vector<std::string> known = {"/ro/rl/", "/ro/rl", "/a/l/", "/a/l/.", "/rel//",
        "/a/l/../box", "/ro/rl/..", withNul("/a", "/.." + withNul("")), withNul("/c"),
        withNul("", "/c"), withNul("/")};
    for (int round = 0; round < 400 && report.empty(); ++round) {
      buildSandbox(root);
      std::string path = root + "/box";
      if (static_cast<size_t>(round) < 3 * known.size()) {
        path += known[static_cast<size_t>(round) / 3];
      } else {
        const size_t depth = 1 + random() % 4;
        for (size_t i = 0; i < depth; ++i) {
          path += "/" + pieces[random() % pieces.size()];
          if (random() % 9 == 0) path += '\0';
        }
        path.append(random() % 3, '/');
      }
      const std::string item = namedItem(path);
      if (!item.empty() && !atOrBelow(item, root)) continue;
      const auto before = snapshot(root);
      const int route = round % 3;
      deleteItems(*context, {path}, route == 1, route == 2);
      const auto after = snapshot(root);
      for (const auto& [entry, shape] : before) {
        const auto now = after.find(entry);
        if ((now == after.end() || now->second != shape) &&
            (item.empty() || !atOrBelow(entry, item))) {
          report +=
              "route " + std::to_string(route) + ", path \"" + path + "\": changed " + entry + "\n";
        }
      }
    }
    buildSandbox(root);
    return report;
  });
  EXPECT_EQ(report, "");
}

}  // namespace
}  // namespace nimbra::test
