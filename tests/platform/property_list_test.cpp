#include "platform/property_list.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "support/temp_tree.h"

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

TEST(PropertyList, ReadsDictionariesInBothFormatsAndNothingElse) {
  TempTree tree;
  for (const std::string& path : {tree.write("job.plist", kJob), tree.write("job.bin", binaryOf(kJob))}) {
    SCOPED_TRACE(path);
    const std::optional<PropertyList> job = PropertyList::readDictionary(path);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->string("Label"), "com.example.job");
    EXPECT_EQ(job->strings("ProgramArguments"), (std::vector<std::string>{"/usr/bin/tool", "-x"}));
    EXPECT_EQ(job->boolean("RunAtLoad"), true);
    // Another type counts as absent: a string is no bool, a list with a number no list of strings.
    EXPECT_EQ(job->boolean("Label"), std::nullopt);
    EXPECT_EQ(job->string("RunAtLoad"), std::nullopt);
    EXPECT_EQ(job->strings("Mixed"), std::nullopt);
    EXPECT_EQ(job->string("Missing"), std::nullopt);
  }
  const std::string array = "<plist version=\"1.0\"><array><string>x</string></array></plist>";
  for (const std::string& path : {tree.write("array.plist", array), tree.write("garbage.plist", "\x01\x02not a list"),
                                  tree.write("empty.plist", ""), tree.path("missing.plist"), tree.makeDir("dir.plist")}) {
    EXPECT_FALSE(PropertyList::readDictionary(path)) << path;
  }
}

TEST(PropertyList, RewriteChangesOneEntryKeepsTheRestAndTheFileMode) {
  TempTree tree;
  const std::string path = tree.write("job.plist", binaryOf(kJob));
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  std::optional<PropertyList> job = PropertyList::readDictionary(path);
  ASSERT_TRUE(job);
  job->setBoolean("Disabled", true);
  ASSERT_EQ(job->writeAtomically(path), std::nullopt);

  // The file is the original with that one entry added, every other entry as it was.
  std::optional<PropertyList> again = PropertyList::readDictionary(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->boolean("Disabled"), true);
  plist_t expected = nullptr;
  plist_from_xml(kJob, static_cast<uint32_t>(std::strlen(kJob)), &expected);
  plist_dict_set_item(expected, "Disabled", plist_new_bool(1));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(expected, &xml, &length);
  std::ifstream file(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), std::string(xml, length));
  plist_to_xml_free(xml);
  plist_free(expected);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_NE(job->writeAtomically(tree.path("no/such/folder/job.plist")), std::nullopt);
}

}  // namespace
}  // namespace nimbra::test
