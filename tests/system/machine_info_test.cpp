// "systemInfo" on a machine described by fixed texts: the mount table and what each mount
// point reports, the kernel release, the machine files.

#include <gtest/gtest.h>

#include "support/channel_harness.h"
#include "support/fake_system_sources.h"
#include "system/system_info.h"

namespace nimbra::test {
namespace {

constexpr int64_t kGB = 1000 * 1000 * 1000;

ValueMap disk(const char* name, const char* path, int64_t total, int64_t free, bool removable = false) {
  return {{"name", name},   {"path", path},  {"total", total},
          {"free", free},   {"used", total - free}, {"isSystem", std::string(path) == "/"},
          {"isRemovable", removable}};
}

TEST(SystemInfo, FactsAndVolumesComeFromTheMachineWithTheirFallbacks) {
  FakeSystemSources sources;
  sources.release = "6.1.0-18-amd64";
  sources.host = "box";
  sources.files["/etc/machine-info"] = "PRETTY_HOSTNAME=\"Ann's Box\"\n";
  sources.files["/proc/cpuinfo"] = "processor\t: 0\nmodel name\t: AMD Ryzen 7 7840U\n\nprocessor\t: 1\nmodel name\t: 2nd\n";
  sources.files["/proc/meminfo"] = "MemTotal: 1048576 kB\nMemFree: 0 kB\nActive: 262144 kB\nInactive: 0 kB\n";
  // Every mount point answers, so only the mount table's facts decide what is left out.
  sources.files["/proc/self/mountinfo"] =
      "21 1 8:17 / /data rw,relatime shared:1 - ext4 /dev/sdb1 rw\n"
      "22 1 8:33 / /mnt/second rw - ext4 /dev/sdc1 rw\n"
      "23 1 8:49 / /mnt/empty rw - ext4 /dev/sdd1 rw\n"
      "24 1 259:2 / / rw shared:2 master:1 - ext4 /dev/nvme0n1p2 rw\n"
      "25 24 259:2 /etc/hostname /etc/hostname rw - ext4 /dev/nvme0n1p2 rw\n"
      "26 24 259:2 /home/ann/src /srv/bound\\040copy rw - ext4 /dev/nvme0n1p2 rw\n"
      "27 24 0:50 / /tmp rw - tmpfs tmpfs rw\n"
      "28 24 0:22 / /sys rw - sysfs sysfs rw\n"
      "29 24 8:65 / /run/media/ann/STICK rw - vfat /dev/sde1 rw\n"
      "30 24 8:81 / /run/user/1000/doc rw - ext4 /dev/sdf1 rw\n"
      "31 24 7:0 / /snap/core/1 ro - ext4 /dev/loop0 ro\n"
      "32 24 0:60 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
      "33 24 0:61 / /mnt/image ro - squashfs /dev/loop1 ro\n"
      "34 24 0:62 / /home/ann/remote rw - fuse.sshfs ann@server: rw\n"
      "this line is not a mount\n";
  sources.otherVolumes = VolumeStat{true, 100 * kGB, 40 * kGB};
  sources.volumes["/mnt/empty"] = {true, 0, 0};
  sources.volumes["/etc/hostname"] = {false, 500 * kGB, 90 * kGB};
  sources.volumes["/"] = {true, 500 * kGB, 90 * kGB};
  sources.volumes["/data"] = {true, 2000 * kGB, 2000 * kGB};
  sources.labels = {{"/dev/sdb1", "Backup"}, {"/dev/sdc1", "Backup"}, {"/dev/sde1", "My Stick"}};
  sources.removable = {"/dev/sde1"};

  ChannelHarness harness(NimbraNative::Seams{.systemSources = &sources});
  ValueMap info = *harness.call("systemInfo").answer->getIf<ValueMap>();
  // The real machine's; their types are checked end to end.
  for (const char* key : {"user", "cores", "uptime", "home"}) EXPECT_EQ(info.erase(key), 1u) << key;
  EXPECT_EQ(info, (ValueMap{{"os", "macOS"}, {"osVersion", "6.1.0"}, {"host", "Ann's Box"},
                            {"cpu", "AMD Ryzen 7 7840U"}, {"arch", "arm64"}, {"memTotal", int64_t{1 << 30}},
                            {"memUsed", int64_t{1 << 28}},
                            {"disks", ValueList{disk("/", "/", 500 * kGB, 90 * kGB),
                                                disk("Backup", "/data", 2000 * kGB, 2000 * kGB),
                                                disk("bound copy", "/srv/bound copy", 100 * kGB, 40 * kGB),
                                                disk("My Stick", "/run/media/ann/STICK", 100 * kGB, 40 * kGB, true),
                                                disk("remote", "/home/ann/remote", 100 * kGB, 40 * kGB)}}}));

  sources.files.clear();
  const ValueMap bare = *harness.call("systemInfo").answer->getIf<ValueMap>();
  EXPECT_EQ(bare.at("cpu"), Value("Apple Silicon"));
  EXPECT_EQ(bare.at("host"), Value("box"));
  EXPECT_EQ(bare.at("memUsed"), Value(int64_t{0}));
}

TEST(SystemInfo, OsVersionIsTheReleasesLeadingNumbers) {
  const std::pair<const char*, const char*> cases[] = {
      {"6.1.0-18-amd64", "6.1.0"}, {"5.15", "5.15.0"},   {"6.8.0+", "6.8.0"},     {"5.15-rc1", "5.15.0"},
      {"6.18.44.2-x", "6.18.44"},  {"14", "14.0.0"},     {"4.019.00", "4.19.0"},  {"", "0.0.0"},
      {"6..1", "6.0.0"},
  };
  for (const auto& [release, version] : cases) EXPECT_EQ(osVersionFromRelease(release), version) << release;
}

}  // namespace
}  // namespace nimbra::test
