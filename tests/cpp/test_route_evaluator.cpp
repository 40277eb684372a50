#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/routing_context.hpp"
#include "graph/graph_tables.hpp"
#include "postopt/route_evaluator.hpp"
#include "postopt/route_view.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using namespace velmora::testing_support;

namespace {

void Configure(RouteEvaluator& ev, const RouteConfig& cfg) {
  ev.SetReturnToEnd(cfg.return_to_end);
  ev.SetAgentStarts(cfg.starts);
  ev.SetAgentEnds(cfg.ends);
  ev.SetTimeWindows(cfg.windows);
}

// Six nodes on a line (cost |u - v|); agent 0 runs 0 -> 4, agent 1 sits at 5.
struct LineFixture : ::testing::Test {
  const std::vector<std::pair<double, double>> line{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}};
  TestGraph graph = EuclideanGraph(line);
  std::vector<SolverNode> nodes = MakeNodes(6);
  std::vector<SolverAgent> agents{MakeAgent(10, 0), MakeAgent(11, 0)};
  RouteConfig cfg{true, {0, 5}, {4, 5}, {}};
  RouteEvaluator ev;

  RouteCost Eval(const Route& r, uint64_t k = 0) {
    Configure(ev, cfg);
    return ev.EvaluateRoute(&graph, nodes, agents, r, k);
  }
};

void ExpectCost(const RouteCost& rc, bool valid, double cost) {
  EXPECT_EQ(rc.valid, valid);
  if (valid && rc.valid) {
    EXPECT_DOUBLE_EQ(rc.cost, cost);
  }
}

}  // namespace

TEST_F(LineFixture, EmptyRouteIsValidWithCostZero) {
  ExpectCost(Eval({}), true, 0.0);
  ExpectCost(Eval({}, 7), true, 0.0);  // even for an agent without a record
}

struct EndpointCase {
  bool rte;
  Route route;
  bool valid;
  double cost;
};

class EndpointRules : public LineFixture, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(EndpointRules, ValidityAndCost) {
  const EndpointCase& c = GetParam();
  cfg.return_to_end = c.rte;
  ExpectCost(Eval(c.route), c.valid, c.cost);
}

INSTANTIATE_TEST_SUITE_P(
    All, EndpointRules,
    ::testing::Values(EndpointCase{true, {0, 1, 2, 4}, true, 4.0},   // every leg counts
                      EndpointCase{false, {0, 1, 2, 4}, true, 2.0},  // leg into the own end is free
                      EndpointCase{true, {0, 1, 2}, false, 0},       // must close at the end node
                      EndpointCase{false, {0, 1, 0}, true, 1.0},     // closing at the start is fine, and free
                      EndpointCase{true, {0, 1, 0}, false, 0},
                      EndpointCase{true, {1, 2, 4}, false, 0},       // wrong first node
                      EndpointCase{false, {1, 2, 4}, false, 0},
                      EndpointCase{true, {0, 5, 4}, false, 0},       // another agent's depot
                      EndpointCase{true, {0, 0, 4}, false, 0},       // own start in the interior
                      EndpointCase{true, {0, 4, 1, 4}, true, 10.0},  // own end may recur
                      EndpointCase{false, {0, 4, 1, 4}, true, 3.0},
                      EndpointCase{true, {0, 1, 1, 4}, true, 4.0},   // staying put costs nothing
                      EndpointCase{false, {0}, true, 0.0}, EndpointCase{true, {0}, false, 0},
                      EndpointCase{true, {4}, false, 0}));

TEST_F(LineFixture, WithoutStartsAndEndsEveryNonEmptyRouteIsInvalid) {
  cfg.starts.clear();
  cfg.ends.clear();
  for (bool rte : {true, false}) {
    cfg.return_to_end = rte;
    ExpectCost(Eval({0, 1, 4}), false, 0);
    ExpectCost(Eval({}), true, 0.0);
  }
}

TEST_F(LineFixture, TypesMissingArcsAndAbsentGraph) {
  nodes[2].types = {};
  ExpectCost(Eval({0, 2, 4}), false, 0);
  nodes[2].types = {1};
  ExpectCost(Eval({0, 2, 4}), false, 0);
  agents[0].type = 1;
  for (auto& n : nodes) n.types = {0, 1};
  // Type 1 has no component in this one-cost graph: every leg reads as 0.
  ExpectCost(Eval({0, 2, 4}), true, 0.0);
  agents[0].type = 0;
  graph = EuclideanGraph(line, {{1, 2}});
  ExpectCost(Eval({0, 1, 2, 4}), true, 3.0);  // the absent arc costs 0
  Configure(ev, cfg);
  ExpectCost(ev.EvaluateRoute(nullptr, nodes, agents, Route{0, 1, 2, 4}, 0), true, 0.0);
  ExpectCost(Eval({0, 9, 4}), false, 0);   // index outside the node list
  ExpectCost(Eval({0, -1, 4}), false, 0);
  ExpectCost(Eval({5, 5}, 1), true, 0.0);  // agent 1 at its own depot
}

struct WindowCase {
  WindowTable windows;
  double time_limit;
  Route route;
  bool valid;
  double cost;
};

class WindowsAndLimits : public LineFixture, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WindowsAndLimits, ArrivalTimes) {
  const WindowCase& c = GetParam();
  cfg.windows = c.windows;
  cfg.return_to_end = c.route.back() == 4;
  agents[0].time_limit = c.time_limit;
  ExpectCost(Eval(c.route), c.valid, c.cost);
}

INSTANTIATE_TEST_SUITE_P(
    All, WindowsAndLimits,
    ::testing::Values(WindowCase{{{1, {3, 10}}}, 0, {0, 1, 2, 4}, true, 6.0},   // waits at node 1
                      WindowCase{{{2, {0, 1.5}}}, 0, {0, 1, 2, 4}, false, 0},  // closed on arrival
                      WindowCase{{{2, {0, 2}}}, 0, {0, 1, 2, 4}, true, 4.0},   // arrives as it closes
                      WindowCase{{{0, {2, 9}}}, 0, {0, 1, 2, 4}, true, 6.0},   // start window applies too
                      WindowCase{{{4, {5, 9}}}, 0, {0, 1, 2, 4}, true, 5.0},   // waits at the end
                      WindowCase{{}, 4.0, {0, 1, 2, 4}, true, 4.0},            // limit reached exactly
                      WindowCase{{}, 3.5, {0, 1, 2, 4}, false, 0},
                      WindowCase{{}, -1.0, {0, 1, 2, 4}, true, 4.0},           // no limit
                      WindowCase{{{0, {10, 20}}}, 5.0, {0}, true, 10.0},      // limit checked after moves only
                      WindowCase{{{0, {10, 20}}}, 5.0, {0, 1, 0}, false, 0}));

TEST_F(LineFixture, SettersReplaceTheirState) {
  cfg.windows = {{1, {3, 10}}};
  Configure(ev, cfg);
  EXPECT_TRUE(ev.HasTimeWindows());
  ev.SetTimeWindows({});
  EXPECT_FALSE(ev.HasTimeWindows());
  EXPECT_DOUBLE_EQ(ev.EvaluateRoute(&graph, nodes, agents, Route{0, 1, 2, 4}, 0).cost, 4.0);

  ev.SetAgentEnds({4, 4});
  ev.SetAgentStarts({0, 5});
  EXPECT_TRUE(ev.IsForeignDepot(5, 0));
  EXPECT_FALSE(ev.IsForeignDepot(5, 1));
  EXPECT_FALSE(ev.EvaluateRoute(&graph, nodes, agents, Route{0, 5, 4}, 0).valid);
  ev.SetAgentStarts({0, 3});  // the start set is rebuilt: 5 is free now, 3 is not
  EXPECT_FALSE(ev.IsForeignDepot(5, 0));
  EXPECT_TRUE(ev.IsForeignDepot(3, 0));
  EXPECT_EQ(ev.StartSet().size(), 2u);
  EXPECT_TRUE(ev.EvaluateRoute(&graph, nodes, agents, Route{0, 5, 4}, 0).valid);
  EXPECT_FALSE(ev.EvaluateRoute(&graph, nodes, agents, Route{0, 3, 4}, 0).valid);
}

TEST_F(LineFixture, RefreshRereadsRecordsChangedInPlace) {
  Configure(ev, cfg);
  ExpectCost(ev.EvaluateRoute(&graph, nodes, agents, Route{0, 1, 2, 4}, 0), true, 4.0);
  agents[0].time_limit = 3.5;
  ev.Refresh();
  ExpectCost(ev.EvaluateRoute(&graph, nodes, agents, Route{0, 1, 2, 4}, 0), false, 0);
  nodes[2].types = {1};  // other records at other addresses are read without a Refresh
  const std::vector<SolverAgent> unlimited{MakeAgent(10, 0), MakeAgent(11, 0)};
  ExpectCost(ev.EvaluateRoute(&graph, nodes, unlimited, Route{0, 1, 3, 4}, 0), true, 4.0);
  ExpectCost(ev.EvaluateRoute(&graph, nodes, unlimited, Route{0, 2, 3, 4}, 0), false, 0);
}

// The rules a solve configures (a context of the same records) and the
// setters' own context agree on every route and view.
TEST(RouteEvaluation, ConfiguredContextMatchesSetters) {
  std::mt19937 rng(5);
  for (int round = 0; round < 100; ++round) {
    RandomInstance inst = RandomInstance::Make(rng, round % 2 == 0);
    RouteEvaluator own;
    Configure(own, inst.cfg);
    const RoutingContext context(TablesFromGraph(&inst.graph, inst.nodes, inst.agents, inst.cfg.starts,
                                                 inst.cfg.ends, inst.cfg.windows, inst.cfg.return_to_end));
    RouteEvaluator configured;
    configured.Configure(context);
    for (const auto& entry : inst.result.paths) {
      const Route& base = entry.second;
      const uint64_t k = static_cast<uint64_t>(entry.first);
      for (size_t i = 0; i < base.size(); ++i) {
        const Route copy = RouteView::Removed(base, i).Materialise();
        const RouteCost a = own.EvaluateRoute(&inst.graph, inst.nodes, inst.agents, copy, k);
        const RouteCost b = configured.EvaluateRoute(&inst.graph, inst.nodes, inst.agents, copy, k);
        ASSERT_EQ(a.valid, b.valid);
        if (a.valid) ASSERT_EQ(a.cost, b.cost);
      }
    }
  }
}

// Every view, with and without a profile and with random limits, against the
// literal evaluation of the materialised route.
TEST(RouteViewEvaluation, MatchesMaterialisedRoutes) {
  std::mt19937 rng(7);
  int cuts = 0;
  int compared = 0;
  for (int round = 0; round < 150; ++round) {
    RandomInstance inst = RandomInstance::Make(rng, true);
    RouteEvaluator ev;
    Configure(ev, inst.cfg);
    const int n_nodes = static_cast<int>(inst.nodes.size());
    for (const auto& entry : inst.result.paths) {
      const Route& base = entry.second;
      const uint64_t k = static_cast<uint64_t>(entry.first);
      RouteProfile profile;
      ev.BuildProfile(&inst.graph, inst.nodes, inst.agents, base, k, profile);
      const RefCost whole = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, base, k);
      std::vector<RouteView> views;
      for (size_t i = 0; i < base.size(); ++i) {
        views.push_back(RouteView::Removed(base, i));
        for (size_t j = i; j < base.size(); ++j) views.push_back(RouteView::Reversed(base, i, j));
      }
      for (size_t j = 0; j <= base.size(); ++j)
        views.push_back(RouteView::Inserted(base, std::uniform_int_distribution<int>(0, n_nodes - 1)(rng), j));
      for (const RouteView& view : views) {
        const Route copy = view.Materialise();
        const RefCost ref = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, copy, k);
        const RouteCost plain = ev.EvaluateRoute(&inst.graph, inst.nodes, inst.agents, copy, k);
        const RouteCost fast = ev.EvaluateRoute(&inst.graph, inst.nodes, inst.agents, view, k, &profile);
        ASSERT_EQ(plain.valid, ref.valid);
        ASSERT_EQ(fast.valid, ref.valid);
        if (ref.valid) {
          ASSERT_EQ(plain.cost, ref.cost);  // bit for bit
          ASSERT_EQ(fast.cost, ref.cost);
        }
        const double limit =
            (whole.valid ? whole.cost : 20.0) * (0.6 + 0.8 * std::uniform_real_distribution<double>()(rng));
        const RouteCost bounded = ev.EvaluateRoute(&inst.graph, inst.nodes, inst.agents, view, k, &profile, limit);
        ++compared;
        if (bounded.cut) {
          ++cuts;
          ASSERT_FALSE(bounded.valid);
          ASSERT_TRUE(!ref.valid || ref.cost > limit);
        } else {
          ASSERT_EQ(bounded.valid, ref.valid);
          if (ref.valid) {
            ASSERT_EQ(bounded.cost, ref.cost);
          }
        }
      }
    }
  }
  EXPECT_GT(cuts, compared / 20);  // the cut does fire
}

TEST(RouteView, MapsPositions) {
  const Route r{10, 11, 12, 13, 14};
  EXPECT_EQ(RouteView::Reversed(r, 1, 3).Materialise(), (Route{10, 13, 12, 11, 14}));
  EXPECT_EQ(RouteView::Removed(r, 0).Materialise(), (Route{11, 12, 13, 14}));
  EXPECT_EQ(RouteView::Inserted(r, 7, 5).Materialise(), (Route{10, 11, 12, 13, 14, 7}));
  EXPECT_EQ(RouteView::Inserted(r, 7, 2).Materialise(), (Route{10, 11, 7, 12, 13, 14}));
  EXPECT_THROW(RouteView::Reversed(r, 3, 2), std::out_of_range);
  EXPECT_THROW(RouteView::Removed(r, 5), std::out_of_range);
  EXPECT_THROW(RouteView::Inserted(r, 7, 6), std::out_of_range);
}

TEST_F(LineFixture, ReverseSegmentsStraightensACrossedRoute) {
  Configure(ev, cfg);
  Route r{0, 2, 1, 3, 4};
  double cost = ev.EvaluateRoute(&graph, nodes, agents, r, 0).cost;
  EXPECT_DOUBLE_EQ(cost, 6.0);
  ev.ReverseSegments(&graph, nodes, agents, r, cost, 0);
  EXPECT_EQ(r, (Route{0, 1, 2, 3, 4}));
  EXPECT_DOUBLE_EQ(cost, 4.0);
}

TEST_F(LineFixture, ShortRoutesAreNeverReversed) {
  Configure(ev, cfg);
  for (Route r : {Route{}, Route{0}, Route{0, 4}, Route{0, 3, 4}}) {
    const Route before = r;
    double cost = 100.0;  // any reversal would "improve" on this
    ev.ReverseSegments(&graph, nodes, agents, r, cost, 0);
    EXPECT_EQ(r, before);
    EXPECT_EQ(cost, 100.0);
  }
}

// Route [0, 1, 2, 3] costs 3; its only reversal [0, 2, 1, 3] costs 3 - saving.
class ReversalTolerance : public ::testing::TestWithParam<std::pair<double, bool>> {};

TEST_P(ReversalTolerance, SavingMustExceed1e9) {
  TestGraph g = CompleteGraph(4, 1, 1.0);
  g.Set(1, 3, 1.0 - GetParam().first);
  RouteEvaluator ev;
  Configure(ev, RouteConfig{true, {0}, {3}, {}});
  const auto nodes = MakeNodes(4);
  const std::vector<SolverAgent> agents{MakeAgent(0, 0)};
  Route r{0, 1, 2, 3};
  double cost = 3.0;
  ev.ReverseSegments(&g, nodes, agents, r, cost, 0);
  EXPECT_EQ(r, GetParam().second ? (Route{0, 2, 1, 3}) : (Route{0, 1, 2, 3}));
  EXPECT_EQ(cost, GetParam().second ? 3.0 - GetParam().first : 3.0);
}

INSTANTIATE_TEST_SUITE_P(All, ReversalTolerance,
                         ::testing::Values(std::make_pair(0.0, false), std::make_pair(5e-10, false),
                                           std::make_pair(2e-9, true), std::make_pair(0.5, true)));

namespace {

void ReferenceReverse(const RouteConfig& cfg, const RandomInstance& inst, Route& r, double& k_cost, uint64_t k) {
  const size_t n = r.size();
  if (n < 4) return;
restart:
  for (size_t i = 1; i + 3 <= n; ++i)
    for (size_t j = i + 1; j + 2 <= n; ++j) {
      Route copy = r;
      std::reverse(copy.begin() + i, copy.begin() + j + 1);
      const RefCost rc = ReferenceEvaluate(cfg, &inst.graph, inst.nodes, inst.agents, copy, k);
      if (rc.valid && rc.cost + 1e-9 < k_cost) {
        r = copy;
        k_cost = rc.cost;
        goto restart;
      }
    }
}

}  // namespace

TEST(ReverseSegments, SameResultAsLiteralCopies) {
  std::mt19937 rng(11);
  for (int round = 0; round < 150; ++round) {
    RandomInstance inst = RandomInstance::Make(rng, round % 3 == 0);
    RouteEvaluator ev;
    Configure(ev, inst.cfg);
    for (const auto& entry : inst.result.paths) {
      const uint64_t k = static_cast<uint64_t>(entry.first);
      const RefCost start = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, entry.second, k);
      Route fast = entry.second;
      Route slow = entry.second;
      double fast_cost = start.valid ? start.cost : 0.0;
      double slow_cost = fast_cost;
      ev.ReverseSegments(&inst.graph, inst.nodes, inst.agents, fast, fast_cost, k);
      ReferenceReverse(inst.cfg, inst, slow, slow_cost, k);
      ASSERT_EQ(fast, slow);
      ASSERT_EQ(fast_cost, slow_cost);
    }
  }
}

// Timing only (no assertion on time): a random Euclidean tour over 255 nodes.
TEST(ReverseSegmentsBenchmark, Straightens255NodeRoute) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> coord(0.0, 1000.0);
  std::vector<std::pair<double, double>> pts;
  for (int i = 0; i < 255; ++i) pts.emplace_back(coord(rng), coord(rng));
  const TestGraph g = EuclideanGraph(pts);
  const auto nodes = MakeNodes(255);
  const std::vector<SolverAgent> agents{MakeAgent(0, 0)};
  RouteEvaluator ev;
  Configure(ev, RouteConfig{true, {0}, {254}, {}});
  Route r;
  for (int64_t v = 0; v < 255; ++v) r.push_back(v);
  std::shuffle(r.begin() + 1, r.end() - 1, rng);
  double cost = ev.EvaluateRoute(&g, nodes, agents, r, 0).cost;
  const double before = cost;
  const auto t0 = std::chrono::steady_clock::now();
  ev.ReverseSegments(&g, nodes, agents, r, cost, 0);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("[bench] 255-node route: cost %.1f -> %.1f in %.3f s\n", before, cost, secs);
  const RouteCost after = ev.EvaluateRoute(&g, nodes, agents, r, 0);
  ASSERT_TRUE(after.valid);
  EXPECT_EQ(after.cost, cost);
  EXPECT_LT(cost, before / 3);
  Route sorted = r;
  std::sort(sorted.begin(), sorted.end());
  for (int64_t v = 0; v < 255; ++v) EXPECT_EQ(sorted[v], v);
}
