// "memoryInfo" and "optimizeMemory" through the channel, on a machine described by a fixed
// /proc/meminfo and a fixed process list.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/channel_harness.h"
#include "support/fake_system_sources.h"
#include "system/memory_stats.h"

namespace nimbra::test {
namespace {

constexpr int64_t kGiB = 1024 * 1024 * 1024;
constexpr int64_t kKiBPerGiB = 1024 * 1024;

// The process lister's answer, and how it was asked.
struct FakeProcessLister final : CommandRunner {
  std::string run(const std::string& program, const std::vector<std::string>& arguments) override {
    calls.push_back(program + "|" + ::testing::PrintToString(arguments));
    return output;
  }
  std::string output;
  std::vector<std::string> calls;
};

// A purge that answers as told.
struct FakePurge final : ScriptRunner {
  ScriptResult runScript(const std::string& script) override {
    scripts.push_back(script);
    return answer;
  }
  ScriptResult answer{true, "ignored output"};
  std::vector<std::string> scripts;
};

std::string meminfo(int64_t totalGiB, int64_t activeKiB) {
  return "MemTotal:       " + std::to_string(totalGiB * kKiBPerGiB) + " kB\n" +
         "MemFree:         1048576 kB\nMemAvailable:    9999999 kB\n" +
         "Active:          " + std::to_string(activeKiB) + " kB\nInactive:         524288 kB\n"
         "Active(file):     262144 kB\nInactive(file):   131072 kB\nUnevictable:          16 kB\n"
         "KernelStack:        128 kB\nPageTables:         256 kB\nSUnreclaim:         112 kB\n";
}

TEST(MemoryInfo, FiguresComeFromMeminfoAndTopProcessesFromTheFirstTwelveLines) {
  FakeSystemSources sources;
  // Active is 12 GiB less the wired 512 KiB, so used is 12 GiB exactly.
  sources.files["/proc/meminfo"] = meminfo(16, 12 * kKiBPerGiB - 512);
  FakeProcessLister ps;
  ps.output =
      "  123  4 /Applications/Some App.app/Contents/MacOS/Some App\n"
      "\n"
      "7 10  /usr/bin/two spaces\n"
      "8 20 nameonly\n"
      "x9 30 /bin/bad-pid\n"
      "10 40\n"
      "11 9007199254740992 /bin/bytes-overflow\n"
      "\t12 1 /usr/lib/trailing/ \t\n"
      "13 1 /bin/a\n14 1 /bin/b\n15 1 /bin/c\n16 1 /bin/d\n17 1 /bin/e\n"
      "99 1 /bin/thirteenth-line\n";
  ChannelHarness harness(NimbraNative::Seams{.commandRunner = &ps, .systemSources = &sources});

  ValueList processes;
  for (auto [pid, name, kib] : std::vector<std::tuple<int64_t, const char*, int64_t>>{
           {123, "Some App", 4}, {7, "two spaces", 10}, {8, "nameonly", 20}, {12, "trailing", 1},
           {13, "a", 1}, {14, "b", 1}, {15, "c", 1}, {16, "d", 1}, {17, "e", 1}}) {
    processes.push_back(ValueMap{{"pid", pid}, {"name", name}, {"mem", kib * 1024}});
  }
  const int64_t page = ::sysconf(_SC_PAGESIZE);
  auto bytes = [&](int64_t kib) { return kib * 1024 / page * page; };
  EXPECT_EQ(*harness.call("memoryInfo").answer, Value(ValueMap{{"total", 16 * kGiB}, {"used", 12 * kGiB}, {"free", bytes(1048576 + 524288)},
                                   {"cached", bytes(262144 + 131072)}, {"wired", bytes(512)},
                                   {"compressed", int64_t{0}}, {"pressure", int64_t{75}}, {"topProcesses", processes}}));
  EXPECT_EQ(ps.calls, std::vector<std::string>{R"(/bin/ps|{ "-axo", "pid=,rss=,comm=", "--sort=-rss" })"});
}

TEST(MemoryInfo, PressureIsTruncatedAndUsedHeldWithinTotal) {
  const int64_t page = ::sysconf(_SC_PAGESIZE);
  auto figures = [&](const std::string& text) {
    return memoryFigures(physicalMemoryFromMeminfo(text).value_or(0), memoryPagesFromMeminfo(text, page), page);
  };
  EXPECT_EQ(figures(meminfo(16, 13526632)).pressure, 80);  // 12.9 of 16 GiB: truncated, not rounded
  const MemoryFigures over = figures(meminfo(4, 6 * kKiBPerGiB));
  EXPECT_EQ(std::pair(over.used, over.pressure), std::pair(4 * kGiB, int64_t{100}));
  EXPECT_EQ(figures(meminfo(4, 0) + "Zswap:   1024 kB\n").used, 1536 * 1024);  // wired and compressed
  EXPECT_EQ(figures("MemTotal: 1024 kB\nMemFree: 1 kB\n").used, 0);          // no Active: no statistics
}

TEST(OptimizeMemory, MeasuresAroundThePurgeAndPausesAlsoWhenItFails) {
  FakeSystemSources sources;
  sources.files["/proc/meminfo"] = meminfo(16, 8 * kKiBPerGiB);
  FakePurge purge;
  // Each pause notes its length and how many purges ran before it; memory settles meanwhile.
  std::vector<std::pair<double, size_t>> pauses;
  int64_t settledActiveKiB = 5 * kKiBPerGiB;
  auto pause = [&](double seconds) {
    pauses.emplace_back(seconds, purge.scripts.size());
    sources.files["/proc/meminfo"] = meminfo(16, settledActiveKiB);
  };
  ChannelHarness harness(NimbraNative::Seams{
      .scriptRunner = &purge, .systemSources = &sources, .pause = pause});
  const int64_t wired = 512 * 1024;
  EXPECT_EQ(*harness.call("optimizeMemory").answer,
            Value(ValueMap{{"ok", true}, {"error", ""}, {"before", 8 * kGiB + wired}, {"after", 5 * kGiB + wired},
                           {"freed", 3 * kGiB}}));
  EXPECT_THAT(purge.scripts, ::testing::ElementsAre(
                                 "do shell script \"sync; echo 3 > /proc/sys/vm/drop_caches\" with "
                                 "administrator privileges"));

  // Refused, and memory grew meanwhile: the error text, both measurements, nothing freed.
  purge.answer = {false, "sh: 1: cannot create /proc/sys/vm/drop_caches: Read-only file system"};
  settledActiveKiB = 7 * kKiBPerGiB;
  EXPECT_EQ(*harness.call("optimizeMemory").answer,
            Value(ValueMap{{"ok", false}, {"error", *purge.answer.text}, {"before", 5 * kGiB + wired},
                           {"after", 7 * kGiB + wired}, {"freed", int64_t{0}}}));
  EXPECT_EQ(pauses, (std::vector<std::pair<double, size_t>>{{1.2, 1}, {1.2, 2}}));
}

}  // namespace
}  // namespace nimbra::test
