// Argument decoding rules that the channel-level tests do not reach: hostile numbers, and the
// records of methods whose operations are not answered yet.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "channel/method_args.h"

namespace nimbra {
namespace {

TEST(MethodArgs, NumbersNoInt64CanHoldTakeTheDefault) {
  // Converting these would be undefined behaviour; they count as missing instead.
  for (double d : {std::nan(""), std::numeric_limits<double>::infinity(), -1e19, 1e300}) {
    EXPECT_EQ(decodeScanLargeFilesArgs({{"minSize", d}}).minSize, 104857600) << d;
    EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", d}}).depth, 3) << d;
  }
  EXPECT_EQ(decodeScanLargeFilesArgs({{"minSize", -9223372036854775808.0}}).minSize,
            std::numeric_limits<int64_t>::min());
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", -5.9}}).minSize, -5);  // toward zero
  EXPECT_EQ(decodeScanDuplicatesArgs({{"minSize", 5.9}}).minSize, 5);
  EXPECT_EQ(decodeAnalyzeDiskArgs({{"depth", 2.0}}).depth, 2);
}

TEST(MethodArgs, PathsFlagsAndArgumentsThatAreNoStringKeyedMap) {
  for (const Value& notAMap : {Value(), Value(ValueList{"root"}), Value(ValuePairs{{int64_t{1}, "x"}})}) {
    EXPECT_TRUE(argumentMap(notAMap).empty());
  }
  EXPECT_EQ(decodeDeleteItemsArgs({{"paths", "/a"}}).paths, std::vector<std::string>{});
  EXPECT_EQ(decodeDeleteItemsArgs({{"paths", ValueList{"/a", "/b"}}, {"allowAdmin", int64_t{0}}}),
            (DeleteArgs{{"/a", "/b"}, false, true}));
  EXPECT_EQ(decodePathArgs({}).path, std::nullopt);
  EXPECT_EQ(decodeStartupItemArgs({}), (StartupItemArgs{"", "", true}));
  EXPECT_EQ(decodeStartupItemArgs({{"id", "a"}, {"kind", "agent"}, {"enabled", false}}),
            (StartupItemArgs{"a", "agent", false}));
  EXPECT_EQ(decodeAppLeftoversArgs({{"bundleId", int64_t{3}}, {"name", "X"}}),
            (AppLeftoversArgs{"", "X"}));
}

}  // namespace
}  // namespace nimbra
