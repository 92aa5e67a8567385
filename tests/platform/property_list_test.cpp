#include "platform/property_list.h"

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
  <key>When</key><date>2024-01-02T03:04:05Z</date>
  <key>Blob</key><data>AAEC</data>
  <key>Ratio</key><real>0.25</real>
</dict>
</plist>
)";

TEST(PropertyList, ReadsADictionaryAndRewritesOneEntryKeepingTheRestAndTheFileMode) {
  TempTree tree;
  // The binary form is read through the same accessors (the application listing reads one).
  const std::string copy = tree.write("rewritten.plist", kJob);
  ASSERT_EQ(::chmod(copy.c_str(), 0600), 0);
  std::optional<PropertyList> rewritten = PropertyList::readDictionary(copy);
  ASSERT_TRUE(rewritten);
  rewritten->setBoolean("Disabled", true);
  ASSERT_EQ(rewritten->writeAtomically(copy), std::nullopt);
  EXPECT_NE(rewritten->writeAtomically(tree.path("no/such/folder/job.plist")), std::nullopt);
  // The rewritten file is read like the original: every entry kept, one added.
  for (const std::string& path : {tree.write("job.plist", kJob), copy}) {
    SCOPED_TRACE(path);
    const std::optional<PropertyList> job = PropertyList::readDictionary(path);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->string("Label"), "com.example.job");
    EXPECT_EQ(job->strings("ProgramArguments"), (std::vector<std::string>{"/usr/bin/tool", "-x"}));
    EXPECT_EQ(job->boolean("RunAtLoad"), true);
    EXPECT_EQ(job->boolean("Disabled"), path == copy ? std::optional(true) : std::nullopt);
    // Another type counts as absent: a string is no bool, a list with a number no list of strings.
    EXPECT_EQ(job->boolean("Label"), std::nullopt);
    EXPECT_EQ(job->string("RunAtLoad"), std::nullopt);
    EXPECT_EQ(job->strings("Mixed"), std::nullopt);
    EXPECT_EQ(job->string("Missing"), std::nullopt);
  }
  EXPECT_THAT(readFile(copy), ::testing::AllOf(::testing::HasSubstr("<date>2024-01-02T03:04:05Z</date>"),
                                                 ::testing::HasSubstr("AAEC"), ::testing::HasSubstr("<real>")));
  struct stat info {};
  ASSERT_EQ(::stat(copy.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  const std::string array = "<plist version=\"1.0\"><array><string>x</string></array></plist>";
  for (const std::string& path : {tree.write("array.plist", array), tree.write("garbage.plist", "\x01\x02not a list"),
                                  tree.write("empty.plist", ""), tree.path("missing.plist"), tree.makeDir("dir.plist")}) {
    EXPECT_FALSE(PropertyList::readDictionary(path)) << path;
  }
}

}  // namespace
}  // namespace nimbra::test
