// The insertion's choice against a literal scan of the positions it may take:
// every position of every serving route, or, on instances with more targets
// than the insertion's threshold, each route's two ends and the places beside
// the target's routed neighbours, with every position when none of those is
// feasible.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/constants.hpp"
#include "improve/improvement_engine.hpp"
#include "improve/insertion.hpp"
#include "improve/route_set.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

struct InsertionCase {
  const char* name;
  Shape shape;
  size_t wide_targets;  // the insertion's threshold (0: every position always)
  bool least_added;
};

Shape MakeShape(size_t nodes, size_t agents, size_t types, bool windows, bool limits, bool loads = false,
                size_t pairs = 0) {
  Shape s;
  s.nodes = nodes;
  s.agents = agents;
  s.types = types;
  s.windows = windows;
  s.limits = limits;
  s.loads = loads;
  s.pairs = pairs;
  s.missing = false;
  return s;
}

const InsertionCase kCases[] = {
    {"every_position", MakeShape(30, 3, 2, false, false), 0, false},
    {"every_position_below_threshold", MakeShape(30, 8, 2, true, true), 1000, false},
    {"neighbours_plain", MakeShape(40, 3, 1, false, false), 1, false},
    {"neighbours_plain_least_added", MakeShape(40, 3, 1, false, false), 1, true},
    {"neighbours_two_types_limits", MakeShape(40, 4, 2, false, true), 1, false},
    {"neighbours_windows", MakeShape(30, 8, 2, true, true), 1, false},
    {"neighbours_windows_least_added", MakeShape(30, 8, 2, true, false), 1, true},
    {"neighbours_loads", MakeShape(36, 4, 2, false, false, true), 1, false},
    {"neighbours_pairs_windows", MakeShape(30, 4, 1, true, false, false, 5), 1, false},
};

struct Choice {
  bool ok = false;
  double longest = 0.0;
  double added = 0.0;
};

class ImproveInsertion : public ::testing::TestWithParam<InsertionCase> {};

TEST_P(ImproveInsertion, TakesTheBestPositionItMayTake) {
  const InsertionCase& c = GetParam();
  size_t checked = 0;
  size_t narrowed = 0;  // the scan skipped some feasible position
  size_t widened = 0;   // no near position was feasible, but another was
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    const RoutingTables tables = MakeTables(seed, c.shape);
    const RoutingContext context(tables);
    ImproveSettings settings;
    settings.min_max = seed % 2 == 1;
    settings.seed = seed;
    settings.parameters.neighbours = 4;  // far fewer near places than positions
    ImprovementEngine engine(context, settings);
    const RouteModel& model = engine.model();
    RouteSet routes(model, settings.min_max);
    if (!engine.Construct(routes)) continue;
    const bool granular = c.wide_targets != 0 && model.Targets().size() > c.wide_targets;
    const bool min_max = settings.min_max && !c.least_added;
    for (uint32_t v : model.Targets()) {
      if (!routes.Routed(v)) continue;
      const uint32_t home = routes.RouteOf(v);
      routes.RemoveTarget(v);
      routes.RefreshValue();
      if (!(routes.Cost(home) < RouteSet::kInf)) {
        // Without the triangle inequality a removal may leave its route late.
        routes.InsertAfter(home, 0, v);
        continue;
      }

      // The literal scan: each admissible position's longest route and added cost.
      auto judge = [&](uint32_t r, uint32_t at) {
        Choice out;
        const Piece pieces[3] = {Piece::Prefix(r, at), Piece::Node(v), Piece::Range(r, at + 1, routes.Size(r))};
        const RouteEval e = routes.Evaluate(r, pieces, 3);
        if (!e.ok || (model.Pairs() && !routes.NewRouteKeepsPairs(r, pieces, 3))) return out;
        out.ok = true;
        out.added = e.cost - routes.Cost(r);
        out.longest = std::max(e.cost, routes.LongestOther(r, r));
        return out;
      };
      auto near = [&](uint32_t r, uint32_t at) {
        if (at == 0 || at == routes.Size(r)) return true;
        for (uint32_t w : model.Neighbours(v)) {
          if (routes.Routed(w) && routes.RouteOf(w) == r && (routes.PosOf(w) == at || routes.PosOf(w) == at + 1)) {
            return true;
          }
        }
        return false;
      };
      std::vector<Choice> all, close;
      for (uint32_t r = 0; r < routes.RouteCount(); ++r) {
        if (!model.Serves(r, v)) continue;
        for (uint32_t at = 0; at <= routes.Size(r); ++at) {
          const Choice ch = judge(r, at);
          if (!ch.ok) continue;
          all.push_back(ch);
          if (near(r, at)) close.push_back(ch);
        }
      }
      const std::vector<Choice>& allowed = granular && !close.empty() ? close : all;
      if (granular && close.size() < all.size()) ++narrowed;
      if (granular && close.empty() && !all.empty()) ++widened;

      RouteSet trial(model, settings.min_max);
      trial.CopyFrom(routes);
      RandomSource random(seed);
      Insertion insertion(random, c.wide_targets);
      const bool inserted = insertion.Insert(trial, v, 0.0, c.least_added);
      ASSERT_EQ(inserted, !all.empty()) << c.name << " seed " << seed << " target " << v;
      if (inserted) {
        ++checked;
        const uint32_t r = trial.RouteOf(v);
        const uint32_t at = trial.PosOf(v) - 1;
        ASSERT_LE(at, routes.Size(r));
        const Choice taken = judge(r, at);
        ASSERT_TRUE(taken.ok);
        if (granular && !close.empty()) EXPECT_TRUE(near(r, at)) << c.name << " took a far position";
        EXPECT_NEAR(trial.Cost(r) - routes.Cost(r), taken.added, 1e-9 * std::max(1.0, std::fabs(taken.added)));
        // Nothing it may take beats the choice: the shortest longest route,
        // then the least added (within the tolerance), or the least added.
        for (const Choice& other : allowed) {
          if (min_max) {
            EXPECT_LE(taken.longest, other.longest + kImprovementTolerance) << c.name;
            if (other.longest < taken.longest - kImprovementTolerance) continue;
            if (std::fabs(other.longest - taken.longest) <= kImprovementTolerance / 2) {
              EXPECT_LE(taken.added, other.added + 1e-9) << c.name;
            }
          } else {
            EXPECT_LE(taken.added, other.added + 1e-12) << c.name;
          }
        }
      }
      // Back where it was, for the next target.
      routes.CopyFrom(trial.Routed(v) ? trial : routes);
      if (!routes.Routed(v)) routes.InsertAfter(home, 0, v);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(checked, 100u) << c.name;
  if (c.wide_targets == 0 || c.wide_targets >= c.shape.nodes) EXPECT_EQ(narrowed, 0u);
  if (c.wide_targets == 1) EXPECT_GT(narrowed, 0u) << c.name << ": the near places were never fewer";
  (void)widened;
}

INSTANTIATE_TEST_SUITE_P(Insertions, ImproveInsertion, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<InsertionCase>& info) { return info.param.name; });

// A target whose near places are all infeasible still goes in where it fits.
// On a line, target 1 (at 10) has its nearest on route 0, whose type may not
// serve it, and route 1's two ends are infeasible (its windows); only the
// middle of route 1 takes it.
TEST(ImproveInsertionFallback, EveryPositionWhenNoNearPlaceFits) {
  RoutingTables t = Line({0.0, 10.0, 11.0, 12.0, 1.0, -1.0, 2.0}, 2);
  const size_t n = t.nodes;
  t.types = 2;
  t.costs.resize(2 * n * n);
  std::copy(t.costs.begin(), t.costs.begin() + static_cast<std::ptrdiff_t>(n * n),
            t.costs.begin() + static_cast<std::ptrdiff_t>(n * n));
  t.agent_type = {0, 1};
  t.node_types = {{0, 1}, {1}, {0, 1}, {0, 1}, {1}, {1}, {1}};
  t.windows = {{1, {0.0, 12.0}}, {4, {0.0, 3.0}}, {6, {0.0, 3.0}}};
  const RoutingContext context(t);
  ImproveSettings settings;
  settings.min_max = false;
  settings.parameters.neighbours = 2;  // 1's nearest: 2 and 3
  ImprovementEngine engine(context, settings);
  RouteSet routes(engine.model(), false);
  routes.SetTargets(0, {2, 3});
  routes.SetTargets(1, {4, 6, 5});  // 1 at 1, 2 at 2, -1 at 5
  routes.Refresh(0);
  routes.Refresh(1);
  routes.RefreshValue();
  ASSERT_LT(routes.Value().total, RouteSet::kInf);
  RandomSource random(1);
  // First, second and last place break a window; after 6 (x = 2) it arrives at 10.
  for (size_t wide : {size_t{0}, size_t{1}}) {
    RouteSet trial(engine.model(), false);
    trial.CopyFrom(routes);
    Insertion insertion(random, wide);
    ASSERT_TRUE(insertion.Insert(trial, 1, 0.0)) << wide;
    ASSERT_EQ(trial.RouteOf(1), 1u);
    std::vector<uint32_t> seq;
    for (uint32_t p = 1; p <= trial.Size(1); ++p) seq.push_back(trial.At(1, p));
    EXPECT_EQ(seq, (std::vector<uint32_t>{4, 6, 1, 5})) << wide;
    EXPECT_DOUBLE_EQ(trial.Cost(1), 22.0);
  }
}

}  // namespace
