#include "platform/fs/dir_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace nimbra {
namespace {

DirKey keyOf(const std::vector<uint32_t>& indexes) {
  DirKey key;
  for (uint32_t index : indexes) key = key.child(index);
  return key;
}

// Two directories must never share a key (the walk would take one's listing for the other's),
// the walk's order must be the keys' order, and a subtree the keys beginning with its own: at
// every change of length of an index's form, and on random paths mixing them.
TEST(DirKey, OrdersAndNamesDirectoriesAsTheirIndexesDo) {
  const std::vector<uint32_t> edges = {0, 1, 0x7F, 0x80, 0xFF, 0x3FFF, 0x4000, 0x1FFFFF, 0x200000,
      0xFFFFFFF, 0x10000000, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
  std::mt19937 random(7);
  std::vector<std::vector<uint32_t>> paths = {{}};
  for (uint32_t a : edges)
    for (uint32_t b : edges) paths.push_back({a, b});
  for (int i = 0; i < 400; ++i) {
    std::vector<uint32_t> path(random() % 6);
    for (uint32_t& index : path) index = edges[random() % edges.size()] ^ (random() % 3);
    paths.push_back(path);
  }
  for (const auto& a : paths) {
    const DirKey keyA = keyOf(a);
    EXPECT_EQ(keyA.depth(), a.size());
    for (const auto& b : paths) {
      const DirKey keyB = keyOf(b);
      ASSERT_EQ(keyA < keyB, a < b) << a.size() << " " << b.size();
      ASSERT_EQ(keyA == keyB, a == b);
      const bool below = a.size() >= b.size() && std::equal(b.begin(), b.end(), a.begin());
      ASSERT_EQ(keyA.isAtOrBelow(keyB), below);
    }
  }
}

}  // namespace
}  // namespace nimbra
