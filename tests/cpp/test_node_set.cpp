#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/node_set.hpp"

using namespace velmora;

class NodeSetBit : public testing::TestWithParam<uint64_t> {};

TEST_P(NodeSetBit, SetTestResetTouchOnlyThatBit) {
  const uint64_t bit = GetParam();
  NodeSet s;
  s.set(bit);
  for (uint64_t i = 0; i < NodeSet::kBits; ++i) EXPECT_EQ(s.test(i), i == bit) << i;
  EXPECT_EQ(s.count(), 1);
  s.set(bit);
  EXPECT_EQ(s.count(), 1);
  s.reset(bit);
  EXPECT_EQ(s, NodeSet{});
  EXPECT_EQ(s.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Edges, NodeSetBit, testing::Values(0u, 1u, 63u, 64u, 127u, 128u, 191u, 192u, 255u));

TEST(NodeSet, CountAndAllOverEveryWord) {
  NodeSet s;
  for (uint64_t i : {0u, 63u, 64u, 200u, 255u}) s.set(i);
  EXPECT_EQ(s.count(), 5);
  EXPECT_FALSE(s.all());
  NodeSet full;
  for (uint64_t i = 0; i < NodeSet::kBits; ++i) full.set(i);
  EXPECT_EQ(full.count(), 256);
  EXPECT_TRUE(full.all());
  full.reset(255);
  EXPECT_FALSE(full.all());
  EXPECT_EQ(full.count(), 255);
}

TEST(NodeSet, SubsetOf) {
  NodeSet empty, a, b;
  for (uint64_t i : {0u, 64u, 255u}) a.set(i);
  b = a;
  b.set(130);
  struct Case {
    const NodeSet& x;
    const NodeSet& y;
    bool subset;
  };
  for (const Case& c : {Case{empty, empty, true}, Case{empty, a, true}, Case{a, empty, false}, Case{a, a, true},
                        Case{a, b, true}, Case{b, a, false}}) {
    EXPECT_EQ(c.x.subset_of(c.y), c.subset) << c.x.count() << " vs " << c.y.count();
  }
  // Differences confined to one word must be seen in each word.
  for (uint64_t bit : {5u, 70u, 140u, 250u}) {
    NodeSet x = a, y = a;
    x.set(bit);
    EXPECT_FALSE(x.subset_of(y)) << bit;
    EXPECT_TRUE(y.subset_of(x)) << bit;
    EXPECT_NE(x, y) << bit;
  }
}
