#include "platform/property_list.h"

#include <plist/plist.h>

#include "removal/deletion_fixtures.h"

namespace nimbra::test {
namespace {

constexpr const char* kJob = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>Label</key><string>com.example.job</string>
  <key>ProgramArguments</key><array><string>/usr/bin/tool</string><string>-x</string></array>
  <key>Mixed</key><array><string>a</string><integer>1</integer></array>
  <key>RunAtLoad</key><true/>
  <key>StartCalendarInterval</key><dict><key>Hour</key><integer>3</integer></dict>
  <key>When</key><date>2024-01-02T03:04:05Z</date>
  <key>Blob</key><data>AAEC</data>
  <key>Ratio</key><real>0.25</real>
</dict>
</plist>
)";

std::string binaryOf(const std::string& xml) {
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string binary(bytes, length);
  plist_to_bin_free(bytes);
  plist_free(root);
  return binary;
}

TEST(PropertyList, ReadsDictionariesInBothFormatsAndRewritesOneEntryKeepingTheRestAndTheFileMode) {
  TempTree tree;
  const std::string binary = tree.write("job.bin", binaryOf(kJob));
  ASSERT_EQ(::chmod(binary.c_str(), 0600), 0);
  std::optional<PropertyList> rewritten = PropertyList::readDictionary(binary);
  ASSERT_TRUE(rewritten);
  rewritten->setBoolean("Disabled", true);
  ASSERT_EQ(rewritten->writeAtomically(binary), std::nullopt);
  EXPECT_NE(rewritten->writeAtomically(tree.path("no/such/folder/job.plist")), std::nullopt);
  // The rewritten file is read like the original: every entry kept, one added.
  for (const std::string& path : {tree.write("job.plist", kJob), binary}) {
    SCOPED_TRACE(path);
    const std::optional<PropertyList> job = PropertyList::readDictionary(path);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->string("Label"), "com.example.job");
    EXPECT_EQ(job->strings("ProgramArguments"), (std::vector<std::string>{"/usr/bin/tool", "-x"}));
    EXPECT_EQ(job->boolean("RunAtLoad"), true);
    EXPECT_EQ(job->boolean("Disabled"), path == binary ? std::optional(true) : std::nullopt);
    // Another type counts as absent: a string is no bool, a list with a number no list of strings.
    EXPECT_EQ(job->boolean("Label"), std::nullopt);
    EXPECT_EQ(job->string("RunAtLoad"), std::nullopt);
    EXPECT_EQ(job->strings("Mixed"), std::nullopt);
    EXPECT_EQ(job->string("Missing"), std::nullopt);
  }
  EXPECT_THAT(readFile(binary), ::testing::AllOf(::testing::HasSubstr("<date>2024-01-02T03:04:05Z</date>"),
                                                 ::testing::HasSubstr("AAEC"), ::testing::HasSubstr("<real>")));
  struct stat info {};
  ASSERT_EQ(::stat(binary.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  const std::string array = "<plist version=\"1.0\"><array><string>x</string></array></plist>";
  for (const std::string& path : {tree.write("array.plist", array), tree.write("garbage.plist", "\x01\x02not a list"),
                                  tree.write("empty.plist", ""), tree.path("missing.plist"), tree.makeDir("dir.plist")}) {
    EXPECT_FALSE(PropertyList::readDictionary(path)) << path;
  }
}

}  // namespace
}  // namespace nimbra::test
