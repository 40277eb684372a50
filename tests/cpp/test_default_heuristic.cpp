#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "plugins/default_heuristic.hpp"

using namespace velmora;

namespace {

const double kUnconnected = std::numeric_limits<double>::max() / 16;

struct Agent {
  uint64_t position;
  uint8_t done;
};

SearchState MakeState(int n_nodes, const std::vector<uint64_t>& visited, const std::vector<Agent>& agents,
                      bool mark_beyond = true) {
  SearchState s;
  s.n_nodes = n_nodes;
  for (uint64_t v : visited) s.visited.set(v);
  if (mark_beyond)
    for (int i = std::max(n_nodes, 0); i < NodeSet::kBits; ++i) s.visited.set(static_cast<uint64_t>(i));
  for (const Agent& a : agents) {
    s.positions.push_back(a.position);
    s.done.push_back(a.done);
    s.costs.push_back(0.0);
  }
  s.agents_left = std::count(s.done.begin(), s.done.end(), 0);
  return s;
}

DefaultHeuristic MakeHeuristic(size_t num_agents, const std::vector<WeightedPair>& edges) {
  DefaultHeuristic h;
  h.Init(nullptr, {}, std::vector<SolverAgent>(num_agents));
  h.SetAgentEnds(std::vector<uint64_t>(num_agents, 0));
  h.SetEdges(edges);
  return h;
}

// The tree scan as written down: restart at the front of the list every pass
// and take the first edge that crosses from T without touching X.
double ReferenceEstimate(const std::vector<WeightedPair>& edges, const SearchState& s) {
  std::bitset<256> t;
  std::bitset<256> x;
  for (int i = 0; i < 256; ++i) {
    t[i] = s.visited.test(static_cast<uint64_t>(i));
    x[i] = t[i];
  }
  for (size_t a = 0; a < s.positions.size(); ++a) t[s.positions[a]] = true;
  for (size_t a = 0; a < s.positions.size(); ++a)
    if (s.done[a] == 0) x[s.positions[a]] = false;
  if (s.n_nodes < 1) return 0.0;
  double sum = 0.0;
  for (;;) {
    bool all = true;
    for (int i = 0; i < s.n_nodes; ++i) all = all && t[i];
    if (all) return sum;
    bool found = false;
    for (const WeightedPair& e : edges) {
      if (!(e.weight < 9999.0)) continue;
      if (t[e.u] == t[e.v] || x[e.u] || x[e.v]) continue;
      sum += e.weight;
      t[t[e.u] ? e.v : e.u] = true;
      found = true;
      break;
    }
    if (!found) return kUnconnected;
  }
}

}  // namespace

TEST(DefaultHeuristic, NameAndSentinelConstant) {
  EXPECT_EQ(DefaultHeuristic().GetName(), "DefaultHeuristic");
  EXPECT_EQ(DefaultHeuristic::kUnconnected, kUnconnected);
}

TEST(DefaultHeuristic, EverythingVisitedIsZeroEvenWithoutEdges) {
  DefaultHeuristic h = MakeHeuristic(1, {});
  EXPECT_EQ(h.Estimate(MakeState(3, {0, 1, 2}, {{0, 0}})), 0.0);
  // n_nodes 0 ends the estimate before anything is connected.
  EXPECT_EQ(h.Estimate(MakeState(0, {}, {{0, 0}}, false)), 0.0);
}

TEST(DefaultHeuristic, OnlyMissingArcsLeadToOpenNode) {
  DefaultHeuristic h = MakeHeuristic(1, {{1, 0, 9999.0}, {2, 0, 3.0}, {2, 1, 1e300}});
  EXPECT_EQ(h.Estimate(MakeState(3, {0}, {{0, 0}})), kUnconnected);
  // Once node 1 needs no visit the rest is connected.
  EXPECT_EQ(h.Estimate(MakeState(3, {0, 1}, {{0, 0}})), 3.0);
}

TEST(DefaultHeuristic, OpenNodeWithoutAnyEdgeIsUnconnected) {
  // Node 3 exists for the state but no edge mentions it.
  DefaultHeuristic h = MakeHeuristic(1, {{1, 0, 1.0}, {2, 1, 1.0}});
  EXPECT_EQ(h.Estimate(MakeState(3, {0}, {{0, 0}})), 2.0);
  EXPECT_EQ(h.Estimate(MakeState(4, {0}, {{0, 0}})), kUnconnected);
}

TEST(DefaultHeuristic, EdgesTouchingClosedNodesAreIgnored) {
  // Agent 0 (open) stands at 0; node 1 is visited with no open agent on it, so
  // the cheap edges at 1 are unusable.
  const std::vector<WeightedPair> edges = {{1, 0, 0.5}, {2, 1, 1.0}, {3, 2, 2.0}, {2, 0, 5.0}, {3, 0, 10.0}};
  DefaultHeuristic h = MakeHeuristic(1, edges);
  EXPECT_EQ(h.Estimate(MakeState(4, {0, 1}, {{0, 0}})), 7.0);
  // An open agent standing on node 1 turns it back into a tree node.
  DefaultHeuristic h2 = MakeHeuristic(2, edges);
  EXPECT_EQ(h2.Estimate(MakeState(4, {0, 1}, {{0, 0}, {1, 0}})), 3.0);
  // A finished agent on node 1 does not.
  EXPECT_EQ(h2.Estimate(MakeState(4, {0, 1}, {{0, 0}, {1, 1}})), 7.0);
}

TEST(DefaultHeuristic, SeveralTreeComponentsGrowAsOne) {
  // Two open agents at 0 and 3; open nodes 1 and 2 each hang cheaply off one
  // of them. The edge 3-0 joins two tree nodes and is never taken.
  const std::vector<WeightedPair> edges = {{3, 0, 0.1}, {1, 0, 1.0}, {3, 2, 2.0}, {2, 1, 4.0}};
  DefaultHeuristic h = MakeHeuristic(2, edges);
  EXPECT_EQ(h.Estimate(MakeState(4, {}, {{0, 0}, {3, 0}})), 3.0);
}

TEST(DefaultHeuristic, NodesBeyondNNodesMayCarryTheTree) {
  // Only nodes 0 and 1 are required; node 2 lies outside n_nodes.
  const std::vector<WeightedPair> edges = {{2, 0, 1.0}, {2, 1, 1.0}, {1, 0, 5.0}};
  DefaultHeuristic h = MakeHeuristic(1, edges);
  // As the search builds states, node 2 is marked visited and therefore closed.
  EXPECT_EQ(h.Estimate(MakeState(2, {0}, {{0, 0}}, true)), 5.0);
  // Unmarked, the tree passes through it.
  EXPECT_EQ(h.Estimate(MakeState(2, {0}, {{0, 0}}, false)), 2.0);
}

TEST(DefaultHeuristic, EqualWeightsAreTakenInListOrder) {
  // Required nodes 0, 1, 2; node 3 is outside n_nodes. Which of the two
  // weight-1 edges comes first decides whether the tree detours through 3.
  const WeightedPair a_b{1, 0, 1.0};
  const WeightedPair a_c{2, 0, 1.0};
  const WeightedPair b_d{3, 1, 0.5};
  const SearchState s = MakeState(3, {}, {{0, 0}}, false);
  EXPECT_EQ(MakeHeuristic(1, {b_d, a_b, a_c}).Estimate(s), 2.5);
  EXPECT_EQ(MakeHeuristic(1, {b_d, a_c, a_b}).Estimate(s), 2.0);
}

TEST(DefaultHeuristic, RepeatedPairUsesItsFirstUsableEntry) {
  DefaultHeuristic h = MakeHeuristic(1, {{1, 0, 2.0}, {1, 0, 3.0}, {1, 0, 99999.0}});
  EXPECT_EQ(h.Estimate(MakeState(2, {0}, {{0, 0}})), 2.0);
  DefaultHeuristic h2 = MakeHeuristic(1, {{1, 0, 1.0}, {0, 1, 20000.0}, {0, 1, 4.0}});
  EXPECT_EQ(h2.Estimate(MakeState(2, {0}, {{0, 0}})), 1.0);
}

TEST(DefaultHeuristic, OutOfRangeIndicesAreHarmless) {
  // Edges naming nodes past the visited set's range and self-loops never cross;
  // positions past that range are ignored; n_nodes past it is clipped.
  DefaultHeuristic h = MakeHeuristic(2, {{300, 0, 0.1}, {1, 1, 0.1}, {1, 0, 2.0}});
  EXPECT_EQ(h.Estimate(MakeState(2, {0}, {{0, 0}, {5000, 0}})), 2.0);
  SearchState wide = MakeState(2, {0}, {{0, 0}, {5000, 0}});
  wide.n_nodes = 100000;  // every node from 2 on is already marked visited
  EXPECT_EQ(h.Estimate(wide), 2.0);
}

TEST(DefaultHeuristic, AgentsBeyondInitCountAreIgnored) {
  // The agent count comes from Init; a second position in the state is not read.
  DefaultHeuristic h = MakeHeuristic(1, {{1, 0, 2.0}, {2, 1, 3.0}, {2, 0, 10.0}});
  EXPECT_EQ(h.Estimate(MakeState(3, {}, {{0, 0}, {2, 0}})), 5.0);
}

TEST(DefaultHeuristic, AgreesWithTheListScanOnRandomInstances) {
  std::mt19937_64 rng(20240611);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto coin = [&](double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; };

  int unconnected = 0, connected = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const int graph_nodes = uni(1, 12);
    std::vector<WeightedPair> edges;
    for (int u = 1; u < graph_nodes; ++u) {
      for (int v = 0; v < u; ++v) {
        if (!coin(0.8)) continue;
        double w;
        switch (uni(0, 4)) {
          case 0:
            w = uni(1, 4);
            break;  // many ties
          case 1:
            w = 9999.0;
            break;
          case 2:
            w = 9999.0 + uni(0, 1000);
            break;
          default:
            w = std::uniform_real_distribution<double>(0.0, 50.0)(rng);
            break;
        }
        edges.push_back({static_cast<uint64_t>(u), static_cast<uint64_t>(v), w});
        if (coin(0.03)) edges.push_back({static_cast<uint64_t>(u), static_cast<uint64_t>(v), w + uni(-1, 1)});
      }
    }
    std::shuffle(edges.begin(), edges.end(), rng);
    std::stable_sort(edges.begin(), edges.end(),
                     [](const WeightedPair& a, const WeightedPair& b) { return a.weight < b.weight; });

    int n_nodes = graph_nodes;
    if (coin(0.3)) n_nodes = uni(1, graph_nodes);
    if (coin(0.05)) n_nodes = graph_nodes + uni(1, 2);
    if (coin(0.02)) n_nodes = 0;

    const int num_agents = uni(1, 3);
    std::vector<Agent> agents;
    for (int a = 0; a < num_agents; ++a)
      agents.push_back({static_cast<uint64_t>(uni(0, graph_nodes - 1)), static_cast<uint8_t>(coin(0.3))});
    std::vector<uint64_t> visited;
    const double p_visit = std::uniform_real_distribution<double>(0.0, 0.8)(rng);
    for (int v = 0; v < graph_nodes; ++v)
      if (coin(p_visit)) visited.push_back(static_cast<uint64_t>(v));
    const SearchState s = MakeState(n_nodes, visited, agents, coin(0.5));

    const double expected = ReferenceEstimate(edges, s);
    const double got = MakeHeuristic(agents.size(), edges).Estimate(s);
    ASSERT_LE(std::fabs(got - expected), 1e-9 * std::max(1.0, std::fabs(expected)))
        << "trial " << trial << " graph_nodes " << graph_nodes << " n_nodes " << n_nodes;
    (expected == kUnconnected ? unconnected : connected) += 1;
  }
  // Both outcomes must have been exercised substantially.
  EXPECT_GT(unconnected, 1000);
  EXPECT_GT(connected, 1000);
}

TEST(DefaultHeuristic, EstimateIsRepeatableAndReusesNoStaleData) {
  DefaultHeuristic h = MakeHeuristic(1, {{1, 0, 1.0}, {2, 1, 2.0}});
  const SearchState s = MakeState(3, {0}, {{0, 0}});
  EXPECT_EQ(h.Estimate(s), 3.0);
  EXPECT_EQ(h.Estimate(s), 3.0);
  // New edges replace the old ones entirely.
  h.SetEdges({{2, 0, 7.0}, {1, 0, 4.0}});
  EXPECT_EQ(h.Estimate(s), 11.0);
  h.SetEdges({});
  EXPECT_EQ(h.Estimate(s), kUnconnected);
}
