#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "postopt/route_merging_post_optimizer.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using namespace velmora::testing_support;

namespace {

using Hand = HandInstance<RouteMergingPostOptimizer>;
using Paths = std::map<int64_t, std::vector<int64_t>>;
using Times = std::map<int64_t, double>;

// Agent 0 runs [0, 4, 1] (cost 10, the longest); agent 1 runs [2, 5, 3]
// (cost 4). Node 5 fits into agent 0 as [0, 4, 5, 1] at cost 10 + extra.
Hand MergeInstance(double extra) {
  Hand h(6, 1, 100.0);
  h.g.Set(0, 4, 5.0);
  h.g.Set(4, 1, 5.0);
  h.g.Set(4, 5, 2.5);
  h.g.Set(5, 1, 2.5 + extra);
  h.g.Set(2, 5, 2.0);
  h.g.Set(5, 3, 2.0);
  h.g.Set(2, 3, 3.0);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0)};
  h.Configure({0, 2}, {1, 3});
  h.result.paths = {{0, {0, 4, 1}}, {1, {2, 5, 3}}};
  return h;
}

}  // namespace

TEST(RouteMergingPostOptimizer, Name) {
  EXPECT_EQ(RouteMergingPostOptimizer().GetName(), "RouteMergingPostOptimizer");
}

class LongestBound : public ::testing::TestWithParam<std::pair<double, bool>> {};

TEST_P(LongestBound, ReceiverMayReachTheLongestRoute) {
  const double extra = GetParam().first;
  Hand h = MergeInstance(extra);
  EXPECT_EQ(h.Run(), "");
  if (GetParam().second) {
    // The emptied route [2, 3] is written with the cost of its leg 2 -> 3.
    EXPECT_EQ(h.result.paths, (Paths{{0, {0, 4, 5, 1}}, {1, {2, 3}}}));
    EXPECT_EQ(h.result.times, (Times{{0, 5.0 + 2.5 + (2.5 + extra)}, {1, 3.0}}));
  } else {
    EXPECT_EQ(h.result.paths, (Paths{{0, {0, 4, 1}}, {1, {2, 5, 3}}}));
    EXPECT_EQ(h.result.times, (Times{{0, 10.0}, {1, 4.0}}));
  }
}

INSTANTIATE_TEST_SUITE_P(All, LongestBound,
                         ::testing::Values(std::make_pair(0.0, true), std::make_pair(5e-10, true),
                                           std::make_pair(2e-9, false), std::make_pair(1.0, false),
                                           std::make_pair(-3.0, true)));

TEST(RouteMergingPostOptimizer, EmptiedRouteCosts) {
  {  // start equal to end: [2, 2] costs nothing
    Hand h = MergeInstance(0.0);
    h.g.Set(5, 2, 2.0);
    h.Configure({0, 2}, {1, 2});
    h.result.paths[1] = {2, 5, 2};
    h.Run();
    EXPECT_EQ(h.result.paths.at(1), (Route{2, 2}));
    EXPECT_EQ(h.result.times.at(1), 0.0);
  }
  {  // what is left would break agent 1's time limit: the route stays whole
    Hand h = MergeInstance(0.0);
    h.g.Set(2, 3, 8.0);
    h.agents[1].time_limit = 5.0;
    h.Run();
    EXPECT_EQ(h.result.paths.at(1), (Route{2, 5, 3}));
    EXPECT_EQ(h.result.times.at(1), 4.0);
  }
}

TEST(RouteMergingPostOptimizer, NothingWrittenWhenNoRouteHasPositiveCost) {
  Hand h = MergeInstance(0.0);
  h.result.paths = {{0, {4, 1}}, {5, {1, 2}}};  // agent 0 invalid, agent 1 absent
  h.result.times = {{0, 99.0}, {1, 5.0}};
  const Result before = h.result;
  EXPECT_EQ(h.Run(), "");  // invalid routes are not reported here
  EXPECT_EQ(h.result.paths, before.paths);
  EXPECT_EQ(h.result.times, before.times);
}

TEST(RouteMergingPostOptimizer, OtherEntriesStay) {
  Hand h = MergeInstance(0.0);
  h.result.paths[9] = {7, 7};
  h.result.times[9] = 1.5;
  h.Run();
  EXPECT_EQ(h.result.paths.at(9), (Route{7, 7}));
  EXPECT_EQ(h.result.times.at(9), 1.5);
  EXPECT_EQ(h.result.paths.at(1), (Route{2, 3}));
}

class UnmeetableWindow : public ::testing::TestWithParam<bool> {};

// Agent 1's [2, 5, 6, 3] could be emptied into agent 0 as [0, 4, 5, 6, 1],
// unless node 6's window closes before agent 0 can get there.
TEST_P(UnmeetableWindow, KeepsTheWholeRoute) {
  const bool window = GetParam();
  Hand h(10, 1, 100.0);
  for (auto arc : {std::make_pair(0, 4), {4, 1}}) h.g.Set(arc.first, arc.second, 5.0);
  for (auto arc : {std::make_pair(4, 5), {5, 1}}) h.g.Set(arc.first, arc.second, 2.5);
  h.g.Set(4, 6, 2.0);
  h.g.Set(6, 1, 2.0);
  h.g.Set(5, 6, 0.5);
  h.g.Set(2, 5, 1.0);
  h.g.Set(6, 3, 1.0);
  h.g.Set(2, 3, 1.5);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0)};
  h.Configure({0, 2}, {1, 3}, window ? WindowTable{{6, {0.0, 6.0}}} : WindowTable{});
  h.result.paths = {{0, {0, 4, 1}}, {1, {2, 5, 6, 3}}};
  h.Run();
  if (window) {
    EXPECT_EQ(h.result.paths, (Paths{{0, {0, 4, 1}}, {1, {2, 5, 6, 3}}}));
    EXPECT_EQ(h.result.times, (Times{{0, 10.0}, {1, 2.5}}));
  } else {
    EXPECT_EQ(h.result.paths, (Paths{{0, {0, 4, 5, 6, 1}}, {1, {2, 3}}}));
    EXPECT_EQ(h.result.times, (Times{{0, 10.0}, {1, 1.5}}));
  }
}

INSTANTIATE_TEST_SUITE_P(All, UnmeetableWindow, ::testing::Bool());

// Agent 1 = [2, 6, 7, 3] (cost 7). In the trial both 6 and 7 fit into agent 2's
// [4, 5]; once 6 is there, 7 no longer fits under the bound 10 and stays.
TEST(RouteMergingPostOptimizer, NodeThatLosesItsPlaceStays) {
  Hand h(10, 1, 100.0);
  h.g.Set(0, 9, 5.0);
  h.g.Set(9, 1, 5.0);
  h.g.Set(2, 6, 1.0);
  h.g.Set(6, 7, 5.0);
  h.g.Set(7, 3, 1.0);
  h.g.Set(2, 7, 2.0);
  h.g.Set(4, 5, 1.0);
  for (auto arc : {std::make_pair(4, 6), {6, 5}, {4, 7}, {7, 5}}) h.g.Set(arc.first, arc.second, 3.0);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0), MakeAgent(2, 0)};
  h.Configure({0, 2, 4}, {1, 3, 5});
  h.result.paths = {{0, {0, 9, 1}}, {1, {2, 6, 7, 3}}, {2, {4, 5}}};
  h.Run();
  EXPECT_EQ(h.result.paths, (Paths{{0, {0, 9, 1}}, {1, {2, 7, 3}}, {2, {4, 6, 5}}}));
  EXPECT_EQ(h.result.times, (Times{{0, 10.0}, {1, 3.0}, {2, 6.0}}));
}

// Agents 1 and 2 share the end node 3 (no start list). Agent 1 = [3, 6, 7, 3, 3]:
// 6 moves, 7 stays, then its own end 3 (also its first node) moves to agent 2.
// The copy taken out of route 1 is the interior one, not the first node.
TEST(RouteMergingPostOptimizer, RemovesTheInteriorOccurrence) {
  Hand h(10, 1, 100.0);
  h.g.Set(0, 9, 5.0);
  h.g.Set(9, 1, 5.0);
  h.g.Set(3, 6, 1.0);
  h.g.Set(6, 7, 7.0);
  h.g.Set(7, 3, 1.0);
  h.g.Set(3, 7, 2.0);
  h.g.Set(4, 3, 1.0);
  h.g.Set(4, 6, 3.0);
  h.g.Set(6, 3, 3.0);
  h.g.Set(4, 7, 3.0);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0), MakeAgent(2, 0)};
  h.Configure({}, {1, 3, 3});
  h.result.paths = {{0, {0, 9, 1}}, {1, {3, 6, 7, 3, 3}}, {2, {4, 3}}};
  h.Run();
  EXPECT_EQ(h.result.paths, (Paths{{0, {0, 9, 1}}, {1, {3, 7, 3}}, {2, {4, 3, 6, 3}}}));
  EXPECT_EQ(h.result.times, (Times{{0, 10.0}, {1, 3.0}, {2, 5.0}}));
}

struct TieCase {
  bool longest_first;  // agent 0 holds the longest route, else agent 1 does
  double cheap_new;    // cost of the cheap route with node 8 in it
  bool into_cheap;
};

class InsertionTie : public ::testing::TestWithParam<TieCase> {};

// Node 8 leaves agent 2's [4, 8, 5]. It can join the longest route [gs, 9, ge]
// (10 -> 10, adds 0) or the cheap route [cs, 7, ce] (5 -> cheap_new). Node 7
// fits nowhere else, so the cheap route never gives node 8 back.
TEST_P(InsertionTie, EqualNewCostsPreferTheSmallerGrowth) {
  const TieCase& c = GetParam();
  const int gs = c.longest_first ? 0 : 2, ge = gs + 1;
  const int cs = c.longest_first ? 2 : 0, ce = cs + 1;
  Hand h(10, 1, 100.0);
  h.g.Set(gs, 9, 5.0);
  h.g.Set(9, ge, 5.0);
  h.g.Set(gs, 8, 2.5);
  h.g.Set(8, 9, 2.5);
  h.g.Set(cs, 7, 2.5);
  h.g.Set(7, ce, 2.5);
  h.g.Set(7, 8, 2.5);
  h.g.Set(8, ce, c.cheap_new - 5.0);
  h.g.Set(4, 8, 0.5);
  h.g.Set(8, 5, 0.5);
  h.g.Set(4, 5, 0.25);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0), MakeAgent(2, 0)};
  h.Configure({0, 2, 4}, {1, 3, 5});
  const int64_t g_agent = c.longest_first ? 0 : 1;
  const int64_t c_agent = 1 - g_agent;
  h.result.paths = {{g_agent, {gs, 9, ge}}, {c_agent, {cs, 7, ce}}, {2, {4, 8, 5}}};
  h.Run();
  EXPECT_EQ(h.result.paths.at(2), (Route{4, 5}));
  EXPECT_EQ(h.result.times.at(2), 0.25);
  if (c.into_cheap) {
    EXPECT_EQ(h.result.paths.at(c_agent), (Route{cs, 7, 8, ce}));
    EXPECT_EQ(h.result.paths.at(g_agent), (Route{gs, 9, ge}));
    EXPECT_DOUBLE_EQ(h.result.times.at(c_agent), c.cheap_new);
  } else {
    EXPECT_EQ(h.result.paths.at(c_agent), (Route{cs, 7, ce}));
    EXPECT_EQ(h.result.paths.at(g_agent), (Route{gs, 8, 9, ge}));
    EXPECT_EQ(h.result.times.at(g_agent), 10.0);
  }
}

INSTANTIATE_TEST_SUITE_P(All, InsertionTie,
                         ::testing::Values(TieCase{true, 9.99, true},       // cheaper wins though it grows more
                                           TieCase{false, 9.99, true},
                                           TieCase{true, 10.0, false},      // equal: smaller growth wins
                                           TieCase{false, 10.0, false},     // ... also when found later
                                           TieCase{true, 10.0 - 5e-10, true},  // strictly cheaper, found later
                                           TieCase{false, 10.0 - 5e-10, false},  // within 1e-9: smaller growth
                                           TieCase{true, 10.0 + 5e-10, false}));

// Agents 1 and 2 both cost 3; agent 1 goes first and ends up holding 7 and 8
// (with agent 2 first it would be the other way round).
TEST(RouteMergingPostOptimizer, EqualCostsAreTriedInAscendingAgentIndex) {
  Hand h(9, 1, 1000.0);
  h.g.Set(0, 6, 5.0);
  h.g.Set(6, 1, 5.0);
  h.g.Set(2, 7, 1.0);
  h.g.Set(7, 3, 2.0);
  h.g.Set(4, 8, 1.0);
  h.g.Set(8, 5, 2.0);
  h.g.Set(2, 3, 0.5);
  h.g.Set(4, 5, 0.5);
  h.g.Set(4, 7, 1.0);
  h.g.Set(7, 8, 1.0);
  h.g.Set(7, 5, 2.0);
  h.g.Set(2, 8, 1.0);
  h.g.Set(8, 3, 2.0);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0), MakeAgent(2, 0)};
  h.Configure({0, 2, 4}, {1, 3, 5});
  h.result.paths = {{0, {0, 6, 1}}, {1, {2, 7, 3}}, {2, {4, 8, 5}}};
  h.Run();
  EXPECT_EQ(h.result.paths, (Paths{{0, {0, 6, 1}}, {1, {2, 7, 8, 3}}, {2, {4, 5}}}));
  EXPECT_EQ(h.result.times, (Times{{0, 10.0}, {1, 4.0}, {2, 0.5}}));
}

class NearLongest : public ::testing::TestWithParam<std::pair<double, bool>> {};

// Agent 1's route costs 10 - below; it could go into agent 0's at cost 7, but
// routes within 1e-9 of the longest (10) are never emptied.
TEST_P(NearLongest, IsEmptiedOnlyWhenClearlyShorter) {
  Hand h(8, 1, 1.0);
  h.g.Set(0, 6, 5.0);
  h.g.Set(6, 1, 5.0);
  h.g.Set(2, 7, 5.0);
  h.g.Set(7, 3, 5.0 - GetParam().first);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0)};
  h.Configure({0, 2}, {1, 3});
  h.result.paths = {{0, {0, 6, 1}}, {1, {2, 7, 3}}};
  h.Run();
  EXPECT_EQ(h.result.paths.at(1), GetParam().second ? (Route{2, 3}) : (Route{2, 7, 3}));
  EXPECT_EQ(h.result.paths.at(0), GetParam().second ? (Route{0, 7, 6, 1}) : (Route{0, 6, 1}));
}

INSTANTIATE_TEST_SUITE_P(All, NearLongest,
                         ::testing::Values(std::make_pair(0.0, false), std::make_pair(5e-10, false),
                                           std::make_pair(2e-9, true)));

TEST(RouteMergingPostOptimizer, SingleAgentIsStillStraightened) {
  Hand h(5, 1, 0.0);
  h.g = EuclideanGraph({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}});
  h.agents = {MakeAgent(0, 0)};
  h.Configure({0}, {4});
  h.result.paths = {{0, {0, 3, 1, 2, 4}}};
  h.Run();
  EXPECT_EQ(h.result.paths.at(0), (Route{0, 1, 2, 3, 4}));
  EXPECT_EQ(h.result.times.at(0), 4.0);
}

namespace {

// FindInsertion spelled out on materialised copies.
Insertion NaiveInsertion(const RouteMergingPostOptimizer& opt, const RandomInstance& inst, int64_t v, uint64_t u,
                         double x) {
  Insertion best;
  double b = std::numeric_limits<double>::max();
  const RouteEvaluator& ev = opt.Evaluator();
  for (uint64_t i = 0; i < opt.Routes().size(); ++i) {
    const auto& types = inst.nodes[v].types;
    if (i == u || std::find(types.begin(), types.end(), inst.agents[i].type) == types.end() ||
        ev.IsForeignDepot(static_cast<uint64_t>(v), i) || opt.Routes()[i].size() < 2)
      continue;
    for (size_t j = 1; j < opt.Routes()[i].size(); ++j) {
      Route copy = opt.Routes()[i];
      copy.insert(copy.begin() + j, v);
      const RefCost rc = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, copy, i);
      if (!rc.valid || !(rc.cost <= x + 1e-9)) continue;
      const double e = rc.cost;
      if (e < b || (best.found && std::fabs(e - b) < 1e-9 &&
                    (e - opt.RouteCosts()[i]) < (b - opt.RouteCosts()[best.agent]))) {
        best = Insertion{true, i, j, e};
        b = e;
      }
    }
  }
  return best;
}

}  // namespace

TEST(RouteMergingPostOptimizer, RandomInstancesWriteBackEvaluatedCosts) {
  std::mt19937 rng(3);
  int changed = 0;
  int found = 0;
  for (int round = 0; round < 300; ++round) {
    RandomInstance inst = RandomInstance::Make(rng, round % 4 == 0);
    RouteMergingPostOptimizer opt;
    ConfigureFrom(opt, inst.cfg);
    Result out = inst.result;
    opt.Optimize(&inst.graph, inst.nodes, inst.agents, out);
    ExpectConsistentWriteBack(inst, out);
    ASSERT_EQ(AllNodes(out), AllNodes(inst.result));
    if (out.paths != inst.result.paths) ++changed;
    // The optimised insertion search agrees with the literal one.
    std::vector<double> bounds{0.0, 5.0, 20.0, 1e9};
    for (uint64_t u = 0; u < inst.agents.size(); ++u)
      for (int64_t v = 0; v < static_cast<int64_t>(inst.nodes.size()); ++v)
        for (double x : bounds) {
          const Insertion fast = opt.FindInsertion(v, u, x);
          const Insertion slow = NaiveInsertion(opt, inst, v, u, x);
          ASSERT_EQ(fast.found, slow.found);
          if (!fast.found) continue;
          ++found;
          ASSERT_EQ(fast.agent, slow.agent);
          ASSERT_EQ(fast.position, slow.position);
          ASSERT_EQ(fast.cost, slow.cost);
        }
  }
  EXPECT_GT(changed, 30);
  EXPECT_GT(found, 1000);
}
