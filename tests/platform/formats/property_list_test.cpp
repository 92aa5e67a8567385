#include "platform/formats/property_list.h"

#include "ops/apps/list_apps.h"
#include "ops/startup/list_startup_items.h"
#include "platform/formats/property_list_bounds.h"
#include "support/answers.h"
#include "support/deletion_fixtures.h"

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
  // A link is replaced, never written through; a FIFO where the file was stays a FIFO.
  const std::string target = tree.write("target.plist", "kept");
  const std::string link = tree.symlink(target, "link.plist"), fifo = tree.path("fifo.plist");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(rewritten->writeAtomically(link), std::nullopt);
  EXPECT_EQ(rewritten->writeAtomically(fifo), fifo + ": not a regular file, left as it is");
  struct stat info {};
  EXPECT_TRUE(::lstat(link.c_str(), &info) == 0 && S_ISREG(info.st_mode));
  EXPECT_TRUE(::lstat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  EXPECT_EQ(readFile(target), "kept");
  // Read again, every entry is kept and one added. Another type counts as absent: a string is no
  // bool, a list with a number no list of strings.
  const std::optional<PropertyList> job = PropertyList::readDictionary(copy);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->string("Label"), "com.example.job");
  EXPECT_EQ(job->strings("ProgramArguments"), (std::vector<std::string>{"/usr/bin/tool", "-x"}));
  EXPECT_TRUE(
      job->boolean("RunAtLoad").value_or(false) && job->boolean("Disabled").value_or(false));
  EXPECT_EQ(job->boolean("Label"), std::nullopt);
  EXPECT_EQ(job->string("RunAtLoad"), std::nullopt);
  EXPECT_EQ(job->strings("Mixed"), std::nullopt);
  EXPECT_EQ(job->string("Missing"), std::nullopt);
  EXPECT_THAT(
      readFile(copy), ::testing::AllOf(::testing::HasSubstr("<date>2024-01-02T03:04:05Z</date>"),
                          ::testing::HasSubstr("AAEC"), ::testing::HasSubstr("<real>")));
  ASSERT_EQ(::stat(copy.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  const std::string array = "<plist version=\"1.0\"><array><string>x</string></array></plist>";
  for (const std::string& path :
      {tree.write("array.plist", array), tree.write("garbage.plist", "\x01\x02not a list"),
          tree.write("empty.plist", ""), tree.path("missing.plist"), tree.makeDir("dir.plist")}) {
    EXPECT_FALSE(PropertyList::readDictionary(path)) << path;
  }
}

// Hostile files, written byte by byte: `value` in `width` bytes, most significant first, and
// an ASCII string object.
std::string bigEndian(uint64_t value, int width) {
  std::string bytes;
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
    bytes += static_cast<char>(value >> shift);
  return bytes;
}
std::string ascii(const std::string& text) { return static_cast<char>(0x50 + text.size()) + text; }

// A binary property list: "bplist00", the objects, their offsets, and the trailer; the top
// object is the first.
std::string binaryPlist(const std::vector<std::string>& objects, int refWidth, int offsetWidth) {
  std::string bytes = "bplist00", table;
  for (const std::string& object : objects) {
    table += bigEndian(bytes.size(), offsetWidth);
    bytes += object;
  }
  return bytes + table + std::string(6, '\0') + static_cast<char>(offsetWidth) +
         static_cast<char>(refWidth) + bigEndian(objects.size(), 8) + bigEndian(0, 8) +
         bigEndian(bytes.size(), 8);
}

// {"CFBundleName": "Named", "Label": "named", "Deep": A1} with A1 = [A2], A2 = [A3] ... An = "x".
std::string deepBinary(uint32_t arrays) {
  std::string dictionary = "\xD3";
  for (uint32_t ref = 1; ref <= 6; ++ref) dictionary += bigEndian(ref, 4);
  std::vector<std::string> objects = {dictionary, ascii("CFBundleName"), ascii("Label"),
      ascii("Deep"), ascii("Named"), ascii("named")};
  for (uint32_t i = 0; i < arrays; ++i) objects.push_back("\xA1" + bigEndian(7 + i, 4));
  objects.push_back(ascii("x"));
  return binaryPlist(objects, 4, 4);
}

// {"CFBundleName": "Named", "S": A1} with A1 = [A2, A2] ... An = "xyz": n levels that the
// library would expand to 2^n nodes. With 61 levels the file has 319 bytes.
std::string sharingBinary(char levels) {
  std::vector<std::string> objects = {
      {'\xD2', 1, 2, 3, 4}, ascii("CFBundleName"), ascii("S"), ascii("Named")};
  for (char i = 0; i < levels; ++i)
    objects.push_back({'\xA2', static_cast<char>(5 + i), static_cast<char>(5 + i)});
  objects.push_back(ascii("xyz"));
  return binaryPlist(objects, 1, 1);
}

// A dictionary holding `arrays` arrays nested in one another, each opened after `decoy`.
std::string deepXml(size_t arrays, const std::string& decoy = "") {
  std::string opening, closing;
  for (size_t i = 0; i < arrays; ++i) opening += decoy + "<array>", closing += "</array>";
  return "<plist><dict><key>CFBundleName</key><string>Named</string><key>Deep</key>" + opening +
         closing + "</dict></plist>";
}

TEST(PropertyList, AFileNestedTooDeepOrExpandingTooFarIsNotReadButOneJustWithinIs) {
  const std::pair<std::string, bool> cases[] = {{deepXml(kMaxPropertyListNesting - 1), true},
      {deepXml(kMaxPropertyListNesting), false},
      // Closing tags inside comments and quoted attributes close nothing.
      {deepXml(kMaxPropertyListNesting, "<!-- </array> -->"), false},
      {deepXml(kMaxPropertyListNesting, "<array a=\"</array>\"/>"), false},
      // The reader stops at the end of the top dictionary: what follows it does not count.
      {deepXml(1) + std::string("\0 <array>", 9), true},
      {deepBinary(kMaxPropertyListNesting - 1), true}, {deepBinary(kMaxPropertyListNesting), false},
      {sharingBinary(10), true}, {sharingBinary(20), false}};
  for (const auto& [bytes, readable] : cases) {
    SCOPED_TRACE(bytes.substr(0, 120));
    const std::optional<PropertyList> list = PropertyList::dictionaryFromBytes(bytes);
    EXPECT_EQ(list && list->string("CFBundleName") == "Named", readable);
  }
}

// The name of every item of `list` whose `pathKey` lies below `root`, by its file name.
std::map<std::string, std::string> namesBelow(
    const ValueMap& answer, const char* list, const char* pathKey, const std::string& root) {
  std::map<std::string, std::string> names;
  for (const Value& item : get<ValueList>(answer, list)) {
    const std::string path = get<std::string>(asMap(item), pathKey);
    if (path.starts_with(root))
      names[path.substr(path.rfind('/') + 1)] = get<std::string>(asMap(item), "name");
  }
  return names;
}

TEST(PropertyList, HostileInformationAndJobFilesAreUnreadableAndTheOperationsAnswerForEach) {
  TempTree tree;
  const std::string deepBin = deepBinary(100000), sharing = sharingBinary(61);
  ASSERT_EQ(sharing.size(), 319u);
  tree.write("Applications/Deep.app/Contents/Info.plist", deepXml(300000));
  tree.write("Applications/DeepBin.app/Contents/Info.plist", deepBin);
  tree.write("Applications/Sharing.app/Contents/Info.plist", sharing);
  // Well formed, but no information file is a megabyte long.
  tree.write("Applications/Huge.app/Contents/Info.plist",
      "<plist><dict><key>CFBundleName</key><string>" + std::string(kMaxPropertyListBytes, 'x') +
          "</string></dict></plist>");
  tree.write("Library/LaunchAgents/deep.plist", deepBin);
  tree.write("Library/LaunchAgents/sharing.plist", sharing);

  FixedCommandRunner commands;  // no job is loaded
  RecordingScriptRunner scripts;
  TestContext context(
      {.home = tree.root(), .applications = tree.path("none"), .library = tree.path("none")},
      {.commands = &commands, .scripts = &scripts});
  // Each is listed as a file that cannot be read: by its file name.
  EXPECT_EQ(namesBelow(listApps(*context), "apps", "path", tree.root()),
      (std::map<std::string, std::string>{{"Deep.app", "Deep"}, {"DeepBin.app", "DeepBin"},
          {"Huge.app", "Huge"}, {"Sharing.app", "Sharing"}}));
  EXPECT_EQ(namesBelow(listStartupItems(*context), "items", "id", tree.root()),
      (std::map<std::string, std::string>{{"deep.plist", "deep"}, {"sharing.plist", "sharing"}}));
}

}  // namespace
}  // namespace nimbra::test
