// The improvement engine as a whole: construction, valid and improving results,
// reproducibility, edge instances.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/route_set.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

Objective ValueOf(const EngineSolution& s) {
  Objective o;
  o.longest = 0.0;
  for (double c : s.costs) {
    o.longest = std::max(o.longest, c);
    o.total += c;
  }
  return o;
}

struct ShapeCase {
  const char* name;
  Shape shape;
};

Shape Variant(bool windows, bool limits, bool rte, bool distinct, bool negative, size_t types = 2,
              bool loads = false, size_t pairs = 0) {
  Shape s;
  s.nodes = 20;
  s.agents = 3;
  s.types = types;
  s.windows = windows;
  s.limits = limits;
  s.return_to_end = rte;
  s.distinct_depots = distinct;
  s.negative = negative;
  s.loads = loads;
  s.pairs = pairs;
  return s;
}

const ShapeCase kShapes[] = {
    {"everything_open", Variant(true, true, false, true, false)},
    {"everything_closed", Variant(true, true, true, true, false)},
    {"plain_single_depot", Variant(false, false, true, false, false, 1)},
    {"limits_only", Variant(false, true, true, false, false)},
    {"negative_legs", Variant(true, true, false, true, true)},
    {"loads", Variant(true, false, true, true, false, 2, true)},
    {"pairs", Variant(false, false, false, false, false, 1, false, 5)},
    {"loads_pairs_windows", Variant(true, false, true, false, false, 1, true, 4)},
};

class ImproveEngineShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ImproveEngineShapes, ConstructionRespectsEveryConstraint) {
  size_t built = 0;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    const RoutingTables tables = MakeTables(seed, GetParam().shape);
    const RoutingContext context(tables);
    ImproveSettings settings;
    settings.seed = seed;
    ImprovementEngine engine(context, settings);
    RouteSet routes(engine.model(), true);
    if (!engine.Construct(routes)) continue;
    ++built;
    std::string why;
    const EngineSolution s = routes.Export();
    EXPECT_TRUE(ValidSolution(tables, s, &why)) << "seed " << seed << ": " << why;
    EXPECT_TRUE(CheckSolution(context, s));
  }
  EXPECT_GE(built, 15u);
}

TEST_P(ImproveEngineShapes, RunReportsValidStrictlyImprovingSolutions) {
  size_t solved = 0;
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    const RoutingTables tables = MakeTables(seed, GetParam().shape);
    const RoutingContext context(tables);
    const EvaluatorSetup reference(tables);
    for (bool min_max : {true, false}) {
      ImproveSettings settings;
      settings.min_max = min_max;
      settings.seed = seed;
      settings.max_iterations = 150;
      ImprovementEngine engine(context, settings);
      std::vector<EngineSolution> bests;
      const bool ok =
          engine.Run(nullptr, [] { return false; }, [&](const EngineSolution& s) { bests.push_back(s); });
      if (!ok) {
        EXPECT_TRUE(bests.empty());
        continue;
      }
      ++solved;
      ASSERT_FALSE(bests.empty());
      for (size_t i = 0; i < bests.size(); ++i) {
        std::string why;
        ASSERT_TRUE(ValidSolution(tables, bests[i], &why)) << "seed " << seed << " best " << i << ": " << why;
        if (i == 0) continue;
        const Objective a = ValueOf(bests[i - 1]), b = ValueOf(bests[i]);
        if (min_max) {
          EXPECT_TRUE(b.longest < a.longest - 1e-9 || (b.longest <= a.longest && b.total < a.total - 1e-9));
        } else {
          EXPECT_LT(b.total, a.total - 1e-9);
        }
      }
      EXPECT_EQ(engine.best().paths, bests.back().paths);
      // The post-optimisers' route evaluation agrees on every route.
      for (size_t k = 0; k < engine.best().paths.size(); ++k) {
        const RouteCost rc = reference.Evaluate(k, engine.best().paths[k]);
        ASSERT_TRUE(rc.valid) << "seed " << seed << " route " << k;
        EXPECT_NEAR(rc.cost, engine.best().costs[k], 1e-9 * std::max(1.0, std::fabs(rc.cost)));
      }
      EXPECT_EQ(engine.counts().iterations, 150);
      EXPECT_TRUE(engine.counts().constructed);
      EXPECT_EQ(engine.counts().improvements, static_cast<int64_t>(bests.size()));
    }
  }
  EXPECT_GE(solved, 8u);
}

TEST_P(ImproveEngineShapes, SameSeedAndIterationsGiveTheSameRoutes) {
  const RoutingTables tables = MakeTables(3, GetParam().shape);
  const RoutingContext context(tables);
  auto run = [&](uint64_t seed) {
    ImproveSettings settings;
    settings.seed = seed;
    settings.max_iterations = 300;
    ImprovementEngine engine(context, settings);
    engine.Run(nullptr, [] { return false; }, nullptr);
    return engine.best();
  };
  const EngineSolution a = run(11), b = run(11);
  EXPECT_EQ(a.paths, b.paths);
  EXPECT_EQ(a.costs, b.costs);
}

INSTANTIATE_TEST_SUITE_P(Variants, ImproveEngineShapes, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<ShapeCase>& info) {
                           return std::string(info.param.name);
                         });

struct KnownCase {
  const char* name;
  std::vector<double> x;
  size_t agents;
  bool min_max;
  bool rte;
  double longest;
  double total;
};

// Small lines whose optimum is plain: both sides of the depot, far points.
const KnownCase kKnown[] = {
    {"two_sides_min_max", {0, -3, -1, 2, 4}, 2, true, true, 8.0, 14.0},
    {"two_sides_min_sum", {0, -3, -1, 2, 4}, 2, false, true, 8.0, 14.0},
    {"one_agent", {0, -3, -1, 2, 4}, 1, true, true, 14.0, 14.0},
    {"open_routes_min_max", {0, -3, -1, 2, 4}, 2, true, false, 4.0, 7.0},
    {"open_single_agent", {0, -3, -1, 2, 4}, 1, false, false, 10.0, 10.0},
    {"more_agents_than_targets", {0, 5, -2}, 5, true, true, 10.0, 14.0},
};

class ImproveKnownOptimum : public ::testing::TestWithParam<KnownCase> {};

TEST_P(ImproveKnownOptimum, ReachesIt) {
  const KnownCase& c = GetParam();
  const RoutingTables tables = Line(c.x, c.agents, c.rte);
  const RoutingContext context(tables);
  ImproveSettings settings;
  settings.min_max = c.min_max;
  settings.max_iterations = 200;
  ImprovementEngine engine(context, settings);
  ASSERT_TRUE(engine.Run(nullptr, [] { return false; }, nullptr));
  std::string why;
  ASSERT_TRUE(ValidSolution(tables, engine.best(), &why)) << why;
  const Objective o = ValueOf(engine.best());
  if (c.min_max) {
    EXPECT_NEAR(o.longest, c.longest, 1e-9);
    EXPECT_LE(o.total, c.total + 1e-9);  // the total is the second criterion
  } else {
    EXPECT_NEAR(o.total, c.total, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, ImproveKnownOptimum, ::testing::ValuesIn(kKnown),
                         [](const ::testing::TestParamInfo<KnownCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ImproveEngine, OnlyADepotGivesEmptyRoutes) {
  const RoutingTables tables = Line({0}, 2);
  const RoutingContext context(tables);
  ImprovementEngine engine(context, ImproveSettings());
  std::vector<EngineSolution> bests;
  ASSERT_TRUE(engine.Run(nullptr, [] { return false; }, [&](const EngineSolution& s) { bests.push_back(s); }));
  ASSERT_EQ(bests.size(), 1u);
  const std::vector<std::vector<uint64_t>> expected{{0, 0}, {0, 0}};
  EXPECT_EQ(engine.best().paths, expected);
  EXPECT_EQ(engine.best().costs, (std::vector<double>{0.0, 0.0}));
}

TEST(ImproveEngine, DistinctEndsCloseEmptyRoutesThere) {
  RoutingTables tables = Line({0, 10, 4}, 1);
  tables.ends = {1};  // node 1 is the end, node 2 the only target
  const RoutingContext context(tables);
  ImproveSettings settings;
  settings.max_iterations = 10;
  ImprovementEngine engine(context, settings);
  ASSERT_TRUE(engine.Run(nullptr, [] { return false; }, nullptr));
  EXPECT_EQ(engine.best().paths, (std::vector<std::vector<uint64_t>>{{0, 2, 1}}));
  EXPECT_DOUBLE_EQ(engine.best().costs[0], 10.0);
}

TEST(ImproveEngine, ValidInitialIsImprovedAndNotReported) {
  const RoutingTables tables = Line({0, -3, -1, 2, 4}, 2);
  const RoutingContext context(tables);
  ImproveSettings settings;
  settings.max_iterations = 50;
  ImprovementEngine engine(context, settings);
  EngineSolution initial;
  initial.paths = {{0, 4, 1, 0}, {0, 2, 3, 0}};  // both routes cross the depot
  initial.costs = {14.0, 6.0};
  std::vector<EngineSolution> bests;
  ASSERT_TRUE(engine.Run(&initial, [] { return false; }, [&](const EngineSolution& s) { bests.push_back(s); }));
  EXPECT_FALSE(engine.counts().constructed);
  ASSERT_FALSE(bests.empty());
  EXPECT_LT(ValueOf(bests.front()).longest, 14.0 - 1e-9);  // the initial itself is not reported
  EXPECT_NEAR(ValueOf(engine.best()).longest, 8.0, 1e-9);
}

TEST(ImproveEngine, InvalidInitialIsReplacedByAConstruction) {
  const RoutingTables tables = Line({0, -3, -1, 2, 4}, 2);
  const RoutingContext context(tables);
  ImproveSettings settings;
  settings.max_iterations = 20;
  for (const std::vector<std::vector<uint64_t>>& paths :
       {std::vector<std::vector<uint64_t>>{{0, 1, 2, 0}, {0, 2, 3, 4, 0}},  // node 2 twice
        std::vector<std::vector<uint64_t>>{{0, 1, 2, 0}, {0, 3, 0}},        // node 4 missing
        std::vector<std::vector<uint64_t>>{{0, 1, 2, 0}}}) {                // a route short
    ImprovementEngine engine(context, settings);
    EngineSolution initial;
    initial.paths = paths;
    ASSERT_TRUE(engine.Run(&initial, [] { return false; }, nullptr));
    EXPECT_TRUE(engine.counts().constructed);
    EXPECT_TRUE(ValidSolution(tables, engine.best()));
  }
}

// Routes planted on random points, with windows a few units around their
// arrival times and limits just above their costs: feasible by construction,
// and tight enough that insertion alone often leaves targets out.
RoutingTables Planted(uint64_t seed, size_t targets, size_t agents, double slack) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const size_t n = targets + 1;
  std::vector<std::pair<double, double>> xy(n);
  for (auto& p : xy) p = {100.0 * unit(rng), 100.0 * unit(rng)};
  RoutingTables t;
  t.nodes = n;
  t.types = 2;
  t.costs.assign(2 * n * n, 0.0);
  for (size_t type = 0; type < 2; ++type)
    for (size_t u = 0; u < n; ++u)
      for (size_t v = 0; v < n; ++v)
        t.costs[(type * n + u) * n + v] =
            (1.0 + 0.25 * type) * std::hypot(xy[u].first - xy[v].first, xy[u].second - xy[v].second);
  t.node_types.assign(n, {0, 1});
  t.starts.assign(agents, 0);
  t.ends.assign(agents, 0);
  for (size_t k = 0; k < agents; ++k) t.agent_type.push_back(static_cast<int64_t>(k % 2));
  std::vector<std::vector<uint64_t>> planted(agents);
  for (uint64_t v = 1; v < n; ++v) planted[rng() % agents].push_back(v);
  for (size_t k = 0; k < agents; ++k) {
    const size_t base = static_cast<size_t>(t.agent_type[k]) * n * n;
    double time = 0.0;
    uint64_t at = 0;
    for (uint64_t v : planted[k]) {
      time += t.costs[base + at * n + v];
      t.windows.push_back({v, {time - slack, time + slack}});
      if (unit(rng) < 0.3) t.node_types[v] = {t.agent_type[k]};
      at = v;
    }
    time += t.costs[base + at * n];
    t.time_limit.push_back(time * 1.0001 + 1e-6);
  }
  return t;
}

TEST(ImproveEngine, RepairFindsPlantedSolutionsThatInsertionMisses) {
  size_t construction_failed = 0;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    const RoutingTables tables = Planted(seed, 24, 3, 4.0);
    const RoutingContext context(tables);
    for (bool min_max : {true, false}) {
      ImproveSettings settings;
      settings.min_max = min_max;
      settings.seed = seed;
      settings.max_iterations = 1000;
      ImprovementEngine engine(context, settings);
      RouteSet partial(engine.model(), min_max);
      if (!engine.Construct(partial)) {
        ++construction_failed;
        // What the construction keeps is feasible, only incomplete.
        EXPECT_GT(partial.Unrouted(), 0u);
        EXPECT_LT(partial.Value().total, RouteSet::kInf);
        EngineSolution routed = partial.Export();
        for (size_t k = 0; k < routed.paths.size(); ++k) {
          const Walk w = WalkRoute(tables, k, routed.paths[k]);
          EXPECT_TRUE(w.ok) << "seed " << seed << " route " << k;
        }
      }
      ImprovementEngine solver(context, settings);
      std::vector<EngineSolution> bests;
      ASSERT_TRUE(solver.Run(
          nullptr, [] { return false; }, [&](const EngineSolution& s) { bests.push_back(s); }))
          << "seed " << seed << (min_max ? " min_max" : " min_sum");
      ASSERT_FALSE(bests.empty());
      for (const EngineSolution& s : bests) {
        std::string why;
        EXPECT_TRUE(ValidSolution(tables, s, &why)) << "seed " << seed << ": " << why;
      }
      EXPECT_EQ(solver.best().paths, bests.back().paths);
    }
  }
  // The instances are tight enough to need the repair.
  EXPECT_GE(construction_failed, 10u) << construction_failed;
}

// A repair that starts again from a new construction at every stall, even at
// every iteration, still ends with valid routes on the planted instances.
TEST(ImproveEngine, RepairRestartsKeepTheRoutesValid) {
  for (int64_t restart : {1, 3, 40}) {
    for (uint64_t seed = 1; seed <= 8; ++seed) {
      const RoutingTables tables = Planted(seed, 24, 3, 4.0);
      const RoutingContext context(tables);
      ImproveSettings settings;
      settings.seed = seed;
      settings.max_iterations = 600;
      settings.parameters.repair_restart = restart;
      ImprovementEngine engine(context, settings);
      std::vector<EngineSolution> bests;
      ASSERT_TRUE(engine.Run(
          nullptr, [] { return false; }, [&](const EngineSolution& s) { bests.push_back(s); }))
          << "seed " << seed << ", restart " << restart;
      for (const EngineSolution& s : bests) {
        std::string why;
        EXPECT_TRUE(ValidSolution(tables, s, &why)) << "seed " << seed << ", restart " << restart << ": " << why;
      }
    }
  }
}

TEST(ImproveEngine, InfeasibleInstanceHasNoSolution) {
  RoutingTables tables = Line({0, 5, -2}, 2);
  tables.time_limit = {6.0, 6.0};  // node 1 needs a route of 10
  const RoutingContext context(tables);
  ImprovementEngine engine(context, ImproveSettings());
  int reported = 0;
  EXPECT_FALSE(engine.Run(nullptr, [] { return false; }, [&](const EngineSolution&) { ++reported; }));
  EXPECT_EQ(reported, 0);
}

TEST(ImproveEngine, TargetsThatFitOnlyAloneHaveNoSolution) {
  RoutingTables tables = Line({0, 5, -5}, 1);
  tables.time_limit = {10.5};  // either target alone costs 10, both 20
  const RoutingContext context(tables);
  ImprovementEngine engine(context, ImproveSettings());
  int reported = 0;
  EXPECT_FALSE(engine.Run(nullptr, [] { return false; }, [&](const EngineSolution&) { ++reported; }));
  EXPECT_EQ(reported, 0);
  EXPECT_GT(engine.counts().iterations, 0);
}

TEST(ImproveEngine, StopsWhenOutOfTime) {
  const RoutingTables tables = MakeTables(5, Variant(false, false, true, false, false, 1));
  const RoutingContext context(tables);
  ImprovementEngine engine(context, ImproveSettings());
  int polls = 0;
  ASSERT_TRUE(engine.Run(nullptr, [&] { return ++polls > 20; }, nullptr));
  EXPECT_LE(engine.counts().iterations, 16 * 20);
  EXPECT_TRUE(ValidSolution(tables, engine.best()));
}

}  // namespace
