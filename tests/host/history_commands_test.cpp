// The disk usage history as people use it at the terminal, through the real program with a
// history of the test's own: `tree --record`, `changes` with its + and - tree, `history` and
// `history forget`; a broken file and a link where the history's folder should be; and two
// programs recording the same folder at once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "host_process.h"
#include "support/answers.h"
#include "support/temp_tree.h"

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

TEST(HistoryCommands, TreeRecordsChangesDrawsWhatChangedAndHistoryListsAndForgets) {
  TempTree tree, state;
  const std::string root = tree.root();
  const std::vector<std::string> env = {"XDG_STATE_HOME=" + state.root(), "LC_ALL=C"};
  tree.touch("a/b/file", 100);
  tree.touch("c/old", 200);
  auto [status, out, err] = runHost({"changes", root}, "", env);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "nimbra: no snapshot of " + root + " yet\n");
  std::tie(status, out, err) = runHost({"tree", root, "--record"}, "", env);
  EXPECT_EQ(status, 0) << err;
  EXPECT_THAT(err, HasSubstr("recorded as snapshot 1 of " + root));
  tree.touch("a/b/file", 2100);
  fs::remove_all(tree.path("c"));
  tree.touch("d/e/new", 50);
  std::tie(status, out, err) = runHost({"tree", root + "/", "--record", "--depth", "0"}, "", env);
  EXPECT_THAT(err, HasSubstr("recorded as snapshot 2 of " + root));

  std::tie(status, out, err) = runHost({"changes", root}, "", env);
  EXPECT_EQ(status, 0) << err;
  const std::string date = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}";
  EXPECT_THAT(out, MatchesRegex(root +
                                "  300 B -> 2.1 KB  \\+1.9 KB\n"
                                "since snapshot 1 of " +
                                date + ", to snapshot 2 of " + date +
                                "\n"
                                "   \\+2.0 KB  \\|- a/b/  100 B -> 2.1 KB\n"
                                "    -200 B  \\|- c/    gone, held 200 B\n"
                                "     \\+50 B  `- d/    new\n"));
  EXPECT_EQ(std::get<1>(runHost({"changes", root, "--since", "1"}, "", env)), out);
  EXPECT_EQ(std::get<1>(runHost({"changes", root, "--since", "2000-01-01"}, "", env)), out);
  std::tie(status, out, err) = runHost({"changes", root, "--since", "last week"}, "", env);
  EXPECT_EQ(status, 2);
  EXPECT_THAT(err, HasSubstr("neither a snapshot id nor a date"));

  std::tie(status, out, err) = runHost({"history"}, "", env);
  EXPECT_THAT(out, MatchesRegex(root +
                                "\nID  TAKEN   *SIZE  FILES  SINCE THE ONE BEFORE\n"
                                " 2  " +
                                date +
                                "  2.1 KB      2  \\+1.9 KB\n"
                                " 1  " +
                                date + "   300 B      2\n"));
  EXPECT_EQ(std::get<1>(runHost({"history", root, "--json"}, "", env)),
      std::get<1>(runHost({"call", "diskHistory", R"({"path":")" + root + R"("})"}, "", env)));
  std::tie(status, out, err) = runHost({"history", "forget", root}, "", env);
  EXPECT_EQ(out, "forgot 2 snapshots of " + root + "\n");
  EXPECT_EQ(std::get<1>(runHost({"history"}, "", env)),
      "no snapshots yet: `nimbra tree PATH --record` records one\n");

  // A file that is no database is moved aside, once; a link where the folder was is refused.
  const std::string file = state.path("nimbra/history.sqlite3");
  state.write("nimbra/history.sqlite3", std::string(4096, '?'));
  std::tie(status, out, err) = runHost({"history"}, "", env);
  EXPECT_EQ(status, 0);
  EXPECT_THAT(err, MatchesRegex("nimbra: the disk usage history could not be used \\(file is not "
                                "a database\\); it was moved aside to " +
                                file +
                                "\\.broken-.* and a "
                                "new one started\n"));
  EXPECT_EQ(std::get<2>(runHost({"history"}, "", env)), "");
  fs::remove_all(state.path("nimbra"));
  state.symlink(tree.root(), "nimbra");
  std::tie(status, out, err) = runHost({"tree", root, "--record"}, "", env);
  EXPECT_EQ(status, 1);
  EXPECT_THAT(err, HasSubstr("nimbra: not recorded: " + state.path("nimbra") + ": is a link"));
  EXPECT_FALSE(fs::exists(tree.path("history.sqlite3")));
}

// Each program records twenty snapshots of one folder while the other does the same: every
// snapshot a program was answered is there (the thirty newest, as many as a folder keeps).
TEST(HistoryCommands, TwoProgramsRecordingTheSameFolderAtOnceLoseNoSnapshot) {
  TempTree tree, state;
  for (int i = 0; i < 300; ++i)
    tree.touch("f" + std::to_string(i % 30) + "/" + std::to_string(i), i);
  const std::vector<std::string> env = {"XDG_STATE_HOME=" + state.root()};
  std::string calls;
  for (int id = 1; id <= 20; ++id) {
    calls += R"({"id":)" + std::to_string(id) + R"(,"method":"analyzeDisk","args":{"path":")" +
             tree.root() + R"(","record":true}})" + "\n";
  }
  HostProcess first({"serve", "--json"}, env), second({"serve", "--json"}, env);
  first.send(calls);
  second.send(calls);
  first.closeInput();
  second.closeInput();
  std::set<int64_t> recorded;
  for (HostProcess* host : {&first, &second}) {
    for (int answered = 0; answered < 20;) {
      const std::optional<std::string> line = host->readLine();
      ASSERT_TRUE(line) << host->stderrText();
      const ValueMap message = asMap(fromJson(*line));
      if (!message.count("result")) continue;
      const ValueMap result = get<ValueMap>(message, "result");
      EXPECT_EQ(get<std::string>(result, "recordError"), "");
      recorded.insert(get<int64_t>(result, "snapshot"));
      ++answered;
    }
  }
  EXPECT_EQ(recorded.size(), 40u);
  const ValueMap history = asMap(fromJson(std::get<1>(
      runHost({"call", "diskHistory", R"({"path":")" + tree.root() + R"("})"}, "", env))));
  std::set<int64_t> kept;
  for (const Value& snapshot : get<ValueList>(history, "snapshots"))
    kept.insert(get<int64_t>(asMap(snapshot), "id"));
  EXPECT_EQ(kept, std::set<int64_t>(std::next(recorded.begin(), 10), recorded.end()));
}

}  // namespace
}  // namespace nimbra::test
