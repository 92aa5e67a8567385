// "systemInfo", "memoryInfo" and "optimizeMemory" on a machine described by fixed texts: the
// mount table and what each mount point reports, the kernel release, the machine files,
// /proc/meminfo and the process list.

#include <gtest/gtest.h>
#include <unistd.h>

#include "ops/machine/memory_info.h"
#include "ops/machine/optimize_memory.h"
#include "ops/machine/system_info.h"
#include "platform/machine/memory_stats.h"
#include "support/answers.h"
#include "support/fake_machine_sources.h"
#include "support/test_context.h"
#include "support/test_seams.h"

namespace nimbra::test {
namespace {

constexpr int64_t kGB = 1000 * 1000 * 1000;

TEST(SystemInfo, FactsVersionAndVolumesComeFromTheMachineWithTheirFallbacks) {
  FakeMachineSources sources;
  sources.release = "6.1.0-18-amd64";
  sources.host = "box";
  sources.files["/etc/machine-info"] = "PRETTY_HOSTNAME=\"Ann's Box\"\n";
  sources.files["/proc/cpuinfo"] =
      "processor\t: 0\nmodel name\t: AMD Ryzen 7 7840U\n\nprocessor\t: 1\nmodel name\t: 2nd\n";
  sources.files["/proc/meminfo"] =
      "MemTotal: 1048576 kB\nMemFree: 0 kB\nActive: 262144 kB\nInactive: 0 kB\n";
  // Every mount point answers, so only the mount table's facts decide what is left out.
  sources.files["/proc/self/mountinfo"] =
      "20 1 8:1 / /mnt/caf\xe9 rw - ext4 /dev/sda1 rw\n"  // names no folder in UTF-8
      "21 1 8:17 / /data rw,relatime shared:1 - ext4 /dev/sdb1 rw\n"
      "22 1 8:33 / /mnt/second rw - ext4 /dev/sdc1 rw\n"
      "23 1 8:49 / /mnt/empty rw - ext4 /dev/sdd1 rw\n"
      "24 1 259:2 / / rw shared:2 master:1 - ext4 /dev/nvme0n1p2 rw\n"
      "25 24 259:2 /etc/hostname /etc/hostname rw - ext4 /dev/nvme0n1p2 rw\n"
      "26 24 259:2 /home/ann/src /srv/bound\\040copy rw - ext4 /dev/nvme0n1p2 rw\n"
      "27 24 0:50 / /tmp rw - tmpfs tmpfs rw\n"
      "29 24 8:65 / /run/media/ann/STICK rw - vfat /dev/sde1 rw\n"
      "30 24 8:81 / /run/user/1000/doc rw - ext4 /dev/sdf1 rw\n"
      "32 24 0:60 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
      "this line is not a mount\n";
  sources.otherVolumes = VolumeStat{true, 100 * kGB, 40 * kGB};
  sources.volumes["/mnt/empty"] = {true, 0, 0};
  sources.volumes["/etc/hostname"] = {false, 500 * kGB, 90 * kGB};
  sources.volumes["/"] = {true, 500 * kGB, 90 * kGB};
  sources.volumes["/data"] = {true, 2000 * kGB, 2000 * kGB};
  for (const char* device : {"/dev/sda1", "/dev/sdb1", "/dev/sdc1"})
    sources.labels[device] = "Backup";
  sources.labels["/dev/sde1"] = "My Stick";
  sources.removable = {"/dev/sde1"};

  TestContext context({}, {.machine = &sources});
  ValueMap info = systemInfo(*context);
  // The real machine's; their types are checked end to end.
  for (const char* key : {"user", "cores", "uptime", "home"}) EXPECT_EQ(info.erase(key), 1u) << key;
  const char* disks = R"([
    {"name": "/", "path": "/", "total": 500000000000, "free": 90000000000, "used": 410000000000,
     "isSystem": true, "isRemovable": false},
    {"name": "Backup", "path": "/data", "total": 2000000000000, "free": 2000000000000, "used": 0,
     "isSystem": false, "isRemovable": false},
    {"name": "bound copy", "path": "/srv/bound copy", "total": 100000000000, "free": 40000000000,
     "used": 60000000000, "isSystem": false, "isRemovable": false},
    {"name": "My Stick", "path": "/run/media/ann/STICK", "total": 100000000000,
     "free": 40000000000, "used": 60000000000, "isSystem": false, "isRemovable": true}])";
  EXPECT_EQ(Value(info), fromJson(R"({"os": "macOS", "osVersion": "6.1.0", "host": "Ann's Box",
      "cpu": "AMD Ryzen 7 7840U", "arch": "arm64", "memTotal": 1073741824, "memUsed": 268435456,
      "disks": )" + std::string(disks) +
                                  "}"));

  sources.files.clear();
  const ValueMap bare = systemInfo(*context);
  EXPECT_EQ(bare.at("cpu"), Value("Apple Silicon"));
  EXPECT_EQ(bare.at("host"), Value("box"));

  // Other releases: the leading numbers, three of them.
  const std::pair<const char*, const char*> cases[] = {{"5.15", "5.15.0"}, {"6.8.0+", "6.8.0"},
      {"5.15-rc1", "5.15.0"}, {"6.18.44.2-x", "6.18.44"}, {"14", "14.0.0"}, {"4.019.00", "4.19.0"},
      {"", "0.0.0"}, {"6..1", "6.0.0"}};
  for (const auto& [release, version] : cases)
    EXPECT_EQ(osVersionFromRelease(release), version) << release;
}

constexpr int64_t kGiB = 1024 * 1024 * 1024;
constexpr int64_t kKiBPerGiB = 1024 * 1024;

std::string meminfo(int64_t totalGiB, int64_t activeKiB) {
  return "MemTotal:       " + std::to_string(totalGiB * kKiBPerGiB) + " kB\n" +
         "MemFree:         1048576 kB\nMemAvailable:    9999999 kB\n" +
         "Active:          " + std::to_string(activeKiB) +
         " kB\nInactive:         524288 kB\n"
         "Active(file):     262144 kB\nInactive(file):   131072 kB\nUnevictable:          16 kB\n"
         "KernelStack:        128 kB\nPageTables:         256 kB\nSUnreclaim:         112 kB\n";
}

TEST(MemoryInfo, FiguresFromMeminfoTopProcessesFromTheFirstTwelveLinesAndThePurgeMeasuredAroundIt) {
  FakeMachineSources sources;
  // Active is 12 GiB less the wired 512 KiB, so used is 12 GiB exactly.
  sources.files["/proc/meminfo"] = meminfo(16, 12 * kKiBPerGiB - 512);
  FixedCommandRunner ps;  // the process lister
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
  RecordingScriptRunner purge;
  purge.answer = {true, "ignored output"};
  // Each pause notes how many purges ran before it; memory settles meanwhile.
  std::vector<size_t> purgesBeforePause;
  int64_t settledActiveKiB = 5 * kKiBPerGiB;
  TestContext context({}, {.commands = &ps, .scripts = &purge, .machine = &sources});
  context.onPause = [&](double) {
    purgesBeforePause.push_back(purge.scripts.size());
    sources.files["/proc/meminfo"] = meminfo(16, settledActiveKiB);
  };

  const Value processes = fromJson(R"([{"pid": 123, "name": "Some App", "mem": 4096},
      {"pid": 7, "name": "two spaces", "mem": 10240}, {"pid": 8, "name": "nameonly", "mem": 20480},
      {"pid": 12, "name": "trailing", "mem": 1024}, {"pid": 13, "name": "a", "mem": 1024},
      {"pid": 14, "name": "b", "mem": 1024}, {"pid": 15, "name": "c", "mem": 1024},
      {"pid": 16, "name": "d", "mem": 1024}, {"pid": 17, "name": "e", "mem": 1024}])");
  const int64_t page = ::sysconf(_SC_PAGESIZE);
  auto bytes = [&](int64_t kib) { return kib * 1024 / page * page; };
  EXPECT_EQ(memoryInfo(*context),
      (ValueMap{{"total", 16 * kGiB}, {"used", 12 * kGiB}, {"free", bytes(1048576 + 524288)},
          {"cached", bytes(262144 + 131072)}, {"wired", bytes(512)}, {"compressed", int64_t{0}},
          {"pressure", int64_t{75}}, {"topProcesses", processes}}));

  // Pressure is truncated and used held within total.
  auto figures = [&](const std::string& text) {
    return memoryFigures(
        physicalMemoryFromMeminfo(text).value_or(0), memoryPagesFromMeminfo(text, page), page);
  };
  EXPECT_EQ(figures(meminfo(16, 13526632)).pressure, 80);  // 12.9 of 16 GiB: truncated, not rounded
  const MemoryFigures over = figures(meminfo(4, 6 * kKiBPerGiB));
  EXPECT_EQ(std::pair(over.used, over.pressure), std::pair(4 * kGiB, int64_t{100}));
  EXPECT_EQ(figures(meminfo(4, 0) + "Zswap:   1024 kB\n").used,
      1536 * 1024);                                                  // wired and compressed
  EXPECT_EQ(figures("MemTotal: 1024 kB\nMemFree: 1 kB\n").used, 0);  // no Active: no statistics

  const int64_t wired = 512 * 1024;
  EXPECT_EQ(
      optimizeMemory(*context), (ValueMap{{"ok", true}, {"error", ""}, {"before", 12 * kGiB},
                                    {"after", 5 * kGiB + wired}, {"freed", 7 * kGiB - wired}}));

  // Refused, and memory grew meanwhile: the error text, both measurements, nothing freed.
  purge.answer = {false, "sh: 1: cannot create /proc/sys/vm/drop_caches: Read-only file system"};
  settledActiveKiB = 7 * kKiBPerGiB;
  EXPECT_EQ(optimizeMemory(*context),
      (ValueMap{{"ok", false}, {"error", *purge.answer.text}, {"before", 5 * kGiB + wired},
          {"after", 7 * kGiB + wired}, {"freed", int64_t{0}}}));
  EXPECT_EQ(purgesBeforePause, (std::vector<size_t>{1, 2}));
}

}  // namespace
}  // namespace nimbra::test
