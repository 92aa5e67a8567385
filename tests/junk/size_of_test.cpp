#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "channel/nimbra_native.h"
#include "support/channel_harness.h"
#include "support/temp_tree.h"
#include "support/unprivileged.h"

namespace nimbra {
namespace {

using test::ChannelHarness;
using test::TempTree;

constexpr int64_t kGiB = int64_t{1} << 30;

void makeSocket(const std::string& path) {
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(sock);
}

TEST(SizeOf, CountsLogicalBytesOfEveryRegularFileBelowAFolder) {
  TempTree tree;
  tree.touch("m/plain.bin", 1000);
  tree.touch("m/.hidden", 30);
  tree.touch("m/repo/.git/objects/pack", 400);
  tree.touch("m/web/node_modules/lib/index.js", 50);
  tree.touch("m/Tool.app/Contents/MacOS/tool", 7);
  tree.sparseFile("m/disk.img", 3 * kGiB);
  tree.touch("m/shared", 11);
  tree.hardlink("m/shared", "m/again/shared");  // once per path: counted twice
  tree.makeDir("m/empty/deeper");
  tree.touch("m/empty/deeper/zero", 0);
  // Links inside the folder count nothing and are never followed.
  tree.sparseFile("outside/huge", 50 * kGiB);
  tree.symlink(tree.path("outside/huge"), "m/link-to-file");
  tree.symlink(tree.path("outside"), "m/link-to-folder");
  ASSERT_EQ(::mkfifo(tree.path("m/fifo").c_str(), 0644), 0);
  makeSocket(tree.path("m/sock"));

  NimbraNative service;
  EXPECT_EQ(service.sizeOf(tree.path("m")), 1000 + 30 + 400 + 50 + 7 + 3 * kGiB + 11 + 11);
  EXPECT_EQ(service.sizeOf(tree.path("m/empty")), 0);
  EXPECT_EQ(service.sizeOf(tree.path("m/disk.img")), 3 * kGiB);
}

TEST(SizeOf, LocationsThatAreNotFilesOrFoldersMeasureZero) {
  TempTree tree;
  tree.sparseFile("big", 10 * kGiB);
  tree.touch("folder/inside", 100);
  tree.symlink(tree.path("big"), "link-to-file");
  tree.symlink(tree.path("folder"), "link-to-folder");
  makeSocket(tree.path("sock"));

  NimbraNative service;
  EXPECT_EQ(service.sizeOf(tree.path("link-to-file")), 0);
  EXPECT_EQ(service.sizeOf(tree.path("link-to-folder")), 0);
  EXPECT_EQ(service.sizeOf(tree.path("link-to-folder/")), 0);
  EXPECT_EQ(service.sizeOf(tree.path("missing")), 0);
  EXPECT_EQ(service.sizeOf(tree.path("sock")), 0);
  EXPECT_EQ(service.sizeOf("/dev/null"), 0);
  EXPECT_EQ(service.sizeOf(""), 0);
  // Kernel file systems hold no data: /proc/kcore alone would claim terabytes.
  EXPECT_EQ(service.sizeOf("/proc"), 0);
  EXPECT_EQ(service.sizeOf("/proc/kcore"), 0);
}

TEST(SizeOf, UnreadableSubfolderIsLeftOutAndTheRestCounted) {
  TempTree tree;
  tree.touch("m/a", 100);
  tree.touch("m/locked/secret", 5000);
  tree.touch("m/z/b", 20);
  tree.giveToNobody();
  ASSERT_EQ(::chmod(tree.path("m/locked").c_str(), 0), 0);
  const std::string folder = tree.path("m");
  NimbraNative service;
  EXPECT_EQ(test::runUnprivileged([&]() -> std::string {
              int64_t size = service.sizeOf(folder);
              return size == 120 ? "" : "measured " + std::to_string(size);
            }),
            "");
}

TEST(SizeOf, CancellationStopsAFolderWalkButNotASingleFile) {
  TempTree tree;
  tree.touch("m/a", 100);
  tree.touch("m/b", 200);
  NimbraNative service;
  service.cancel();
  EXPECT_EQ(service.sizeOf(tree.path("m")), 0);
  EXPECT_EQ(service.sizeOf(tree.path("m/b")), 200);
}

TEST(SizeOf, SkippedDirectoryNamesAreTheThirteenExactNames) {
  const auto& names = NimbraNative::skippedDirNames();
  EXPECT_THAT(names, ::testing::UnorderedElementsAre(
                         ".git", "node_modules", ".Trash", "Library", ".cache", ".npm", ".gradle",
                         ".pub-cache", ".cocoapods", ".cargo", ".rustup", ".vscode", ".android"));
  EXPECT_FALSE(names.contains("library"));
  // Built once: every caller, on any thread, sees the same set.
  const std::set<std::string>* seen = nullptr;
  std::thread other([&] { seen = &NimbraNative::skippedDirNames(); });
  other.join();
  EXPECT_EQ(seen, &names);
}

TEST(SizeOfMethod, AnswersTheSizeInAOneKeyMap) {
  TempTree tree;
  tree.touch("m/a", 123);
  tree.touch("m/sub/b", 877);
  ChannelHarness harness;
  EXPECT_EQ(harness.call("sizeOf", ValueMap{{"path", tree.path("m")}}).answer,
            Value(ValueMap{{"size", int64_t{1000}}}));
  // A missing or mistyped path measures "" and answers 0 rather than failing.
  EXPECT_EQ(harness.call("sizeOf").answer, Value(ValueMap{{"size", int64_t{0}}}));
  EXPECT_EQ(harness.call("sizeOf", ValueMap{{"path", int64_t{7}}}).answer,
            Value(ValueMap{{"size", int64_t{0}}}));
}

TEST(SizeOfMethod, CancelDuringARealWalkAnswersThePartialTotal) {
  // /usr is the largest tree every machine has: its walk lasts long enough (well over 100 ms)
  // for a "cancel" sent 30 ms after the call to land in the middle of it.
  ChannelHarness harness;
  const int64_t full = harness.service().sizeOf("/usr");
  const int ticket = harness.send("sizeOf", ValueMap{{"path", "/usr"}});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(harness.call("cancel").answer, Value(true));
  auto outcome = harness.wait(ticket);
  ASSERT_TRUE(outcome.answer);
  const auto* answer = outcome.answer->getIf<ValueMap>();
  ASSERT_NE(answer, nullptr);
  const int64_t partial = intValue(answer->at("size")).value_or(-1);
  EXPECT_GE(partial, 0);
  EXPECT_LT(partial, full);
  // The next work task clears the flag and measures in full.
  TempTree tree;
  tree.touch("m/a", 10);
  tree.touch("m/b/c", 20);
  EXPECT_EQ(harness.call("sizeOf", ValueMap{{"path", tree.path("m")}}).answer,
            Value(ValueMap{{"size", int64_t{30}}}));
}

}  // namespace
}  // namespace nimbra
