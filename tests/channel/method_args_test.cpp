// Argument decoding: every rule of the method table, on the typed records.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "channel/method_args.h"

namespace nimbra {
namespace {

class MethodArgsTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("HOME", "/home/ann", 1); }
};

TEST_F(MethodArgsTest, ArgumentsThatAreNotAStringKeyedMapCountAsEmpty) {
  EXPECT_TRUE(argumentMap(Value()).empty());
  EXPECT_TRUE(argumentMap(ValueList{Value("root")}).empty());
  EXPECT_TRUE(argumentMap(ValuePairs{{Value(int64_t{1}), Value("x")}}).empty());
  EXPECT_EQ(argumentMap(ValueMap{{"root", "/x"}}).size(), 1u);
}

TEST_F(MethodArgsTest, ScanDefaultsComeFromTheHomeFolderAndTheMethod) {
  EXPECT_EQ(decodeScanLargeFilesArgs({}), (RootMinSizeArgs{"/home/ann", 104857600}));
  EXPECT_EQ(decodeScanDuplicatesArgs({}), (RootMinSizeArgs{"/home/ann", 1048576}));
  EXPECT_EQ(decodeScanLargeFilesArgs({{"root", int64_t{5}}}).root, "/home/ann");
}

TEST_F(MethodArgsTest, MinSizeTakesAnyNumberTruncatedTowardZero) {
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", 5.9}}).minSize, 5);
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", -5.9}}).minSize, -5);
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", int64_t{-1}}}).minSize, -1);
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", int64_t{1} << 40}}).minSize, int64_t{1} << 40);
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", "2048"}}).minSize, 1048576);
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", true}}).minSize, 1048576);
}

TEST_F(MethodArgsTest, MinSizeThatNoInt64CanHoldTakesTheDefault) {
  // Converting these would be undefined behaviour; they count as missing instead.
  const double hostile[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e300, -1e19};
  for (double d : hostile) {
    EXPECT_EQ(decodeScanLargeFilesArgs({{"minSize", d}}).minSize, 104857600) << d;
  }
  EXPECT_EQ(decodeScanLargeFilesArgs({{"minSize", -9223372036854775808.0}}).minSize,
            std::numeric_limits<int64_t>::min());
}

TEST_F(MethodArgsTest, AnalyzeDiskReadsPathNotRootAndOnlyIntegralDepths) {
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"root", "/x"}}), (AnalyzeDiskArgs{"/home/ann", 3}));
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"path", "/x"}, {"depth", 2.5}}), (AnalyzeDiskArgs{"/x", 3}));
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", 2.0}}).depth, 2);
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", int64_t{-4}}}).depth, -4);
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", "5"}}).depth, 3);
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", std::nan("")}}).depth, 3);
}

TEST_F(MethodArgsTest, PathsMustBeAllStrings) {
  EXPECT_EQ(decodeDeleteItemsArgs({{"paths", ValueList{"/a", int64_t{1}}}}).paths,
            std::vector<std::string>{});
  EXPECT_EQ(decodeDeleteItemsArgs({{"paths", ValueList{"/a", "/b"}}}).paths,
            (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(decodeDeleteItemsArgs({{"paths", "/a"}}).paths, std::vector<std::string>{});
}

TEST_F(MethodArgsTest, AllowAdminDefaultsToTrueAndUninstallIgnoresIt) {
  EXPECT_EQ(decodeDeleteItemsArgs({}), (DeleteArgs{{}, false, true}));
  EXPECT_FALSE(decodeDeleteItemsArgs({{"allowAdmin", false}}).allowAdmin);
  EXPECT_TRUE(decodeDeleteItemsArgs({{"allowAdmin", int64_t{0}}}).allowAdmin);
  EXPECT_EQ(decodeUninstallAppArgs({{"allowAdmin", false}, {"toTrash", true}}),
            (DeleteArgs{{}, true, true}));
}

TEST_F(MethodArgsTest, StartupItemAndLeftoverDefaults) {
  EXPECT_EQ(decodeStartupItemArgs({}), (StartupItemArgs{"", "", true}));
  EXPECT_EQ(decodeStartupItemArgs({{"id", "a"}, {"kind", "agent"}, {"enabled", false}}),
            (StartupItemArgs{"a", "agent", false}));
  EXPECT_EQ(decodeAppLeftoversArgs({{"bundleId", int64_t{3}}, {"name", "X"}}),
            (AppLeftoversArgs{"", "X"}));
  EXPECT_EQ(decodePathArgs({}).path, std::nullopt);
  EXPECT_EQ(decodePathArgs({{"path", ""}}).path, std::string());
}

}  // namespace
}  // namespace nimbra
