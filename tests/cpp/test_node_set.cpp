#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "solver/node_set.hpp"
#include "solver/search_state.hpp"
#include "solver/search_statistics.hpp"

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

TEST(SearchState, DefaultIsEmpty) {
  const SearchState s;
  EXPECT_EQ(s.id, 0);
  EXPECT_TRUE(s.positions.empty());
  EXPECT_TRUE(s.costs.empty());
  EXPECT_TRUE(s.aux.empty());
  EXPECT_TRUE(s.done.empty());
  EXPECT_EQ(s.visited.count(), 0);
  EXPECT_EQ(s.n_nodes, 0);
  EXPECT_EQ(s.h, 0.0);
  EXPECT_EQ(s.g, 0.0);
  EXPECT_EQ(s.f, 0.0);
  EXPECT_EQ(s.agents_left, 0);
  EXPECT_EQ(s.last_agent, 0);
}

TEST(SearchState, CopyIsIndependent) {
  SearchState src;
  src.id = 4;
  src.positions = {1, 2};
  src.costs = {3.0, 4.0};
  src.aux = {7};
  src.visited.set(200);
  src.n_nodes = 9;
  src.g = 4.0;
  src.agents_left = 2;
  src.last_agent = 1;
  src.done = {0, 0};

  SearchState copy = src;
  copy.positions[0] = 8;
  copy.costs[1] = 40.0;
  copy.aux.push_back(1);
  copy.visited.set(3);
  copy.visited.reset(200);
  copy.done[1] = 1;
  copy.g = 5.0;

  EXPECT_EQ(src.positions, (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(src.costs, (std::vector<double>{3.0, 4.0}));
  EXPECT_EQ(src.aux, (std::vector<uint64_t>{7}));
  EXPECT_TRUE(src.visited.test(200));
  EXPECT_FALSE(src.visited.test(3));
  EXPECT_EQ(src.done, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(src.g, 4.0);

  SearchState assigned;
  assigned = src;
  EXPECT_EQ(assigned.positions, src.positions);
  EXPECT_EQ(assigned.visited, src.visited);
  EXPECT_EQ(assigned.n_nodes, 9);
  EXPECT_EQ(assigned.last_agent, 1);
}

TEST(SearchStatistics, FreshValues) {
  const SearchStatistics s;
  EXPECT_EQ(s.found, 0);
  for (int32_t count : {s.node_count, s.agent_count, s.type1_agents, s.type0_agents, s.nodes_types01, s.nodes_type0})
    EXPECT_EQ(count, -1);
  for (double value : {s.sum_cost, s.max_cost, s.last_improvement_time, s.cost_ratio}) EXPECT_EQ(value, -1.0);
}
