// Every prediction of the engine's operators (and of its insertion) equals the
// literal walk of the changed route: feasibility and cost.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/local_search.hpp"
#include "improve/route_set.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

struct OracleCase {
  const char* name;
  Shape shape;
};

Shape MakeShape(size_t nodes, size_t agents, size_t types, bool windows, bool limits, bool rte, bool distinct,
                bool negative, bool loads = false, size_t pairs = 0) {
  Shape s;
  s.nodes = nodes;
  s.agents = agents;
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

const OracleCase kCases[] = {
    {"open_routes_windows_limits_two_types", MakeShape(16, 3, 2, true, true, false, true, false)},
    {"closed_routes_windows_limits_two_types", MakeShape(16, 3, 2, true, true, true, true, false)},
    {"long_routes_windows", MakeShape(30, 2, 2, true, false, true, true, false)},
    {"long_open_routes_windows", MakeShape(30, 2, 2, true, false, false, true, false)},
    {"long_routes_without_windows", MakeShape(30, 2, 2, false, true, true, false, false)},
    {"long_open_routes_without_windows", MakeShape(30, 3, 1, false, false, false, true, false)},
    {"negative_legs", MakeShape(18, 3, 2, true, true, false, true, true)},
    {"negative_legs_closed", MakeShape(18, 2, 1, false, true, true, false, true)},
    {"loads", MakeShape(24, 4, 2, false, false, true, true, false, true)},
    {"loads_windows_open_routes", MakeShape(24, 4, 2, true, true, false, true, false, true)},
    {"pairs", MakeShape(20, 4, 1, false, false, true, false, false, false, 6)},
    {"pairs_windows", MakeShape(20, 4, 2, true, false, false, true, false, false, 6)},
    {"loads_pairs_windows", MakeShape(24, 4, 1, true, false, true, true, false, true, 5)},
};

class ImproveOracle : public ::testing::TestWithParam<OracleCase> {};

struct Tally {
  size_t checked = 0;
  size_t feasible = 0;
  size_t infeasible = 0;
  size_t pairs_broken = 0;  // judgements where only the pairs ruled the routes out
};

// The routes of `routes` with route a (and b) replaced by the pieces' sequences
// closed at their best closing node; false when one of them is infeasible.
bool Replaced(const RoutingTables& tables, const RouteSet& routes, std::vector<std::vector<uint64_t>>& paths,
              uint32_t a, const Piece* pa, int na, uint32_t b = RouteSet::kUnrouted, const Piece* pb = nullptr,
              int nb = 0) {
  paths = routes.Export().paths;
  for (int side = 0; side < (b == RouteSet::kUnrouted ? 1 : 2); ++side) {
    const uint32_t r = side == 0 ? a : b;
    std::vector<uint32_t> seq;
    routes.Materialise(side == 0 ? pa : pb, side == 0 ? na : nb, seq);
    std::vector<uint64_t> path(seq.begin(), seq.end());
    const Walk w = WalkBestClose(tables, r, path);
    if (!w.ok) return false;
    // The closing node the walk chose.
    std::vector<uint64_t> closes{tables.ends[r]};
    if (!tables.return_to_end && tables.starts[r] != tables.ends[r]) closes.push_back(tables.starts[r]);
    for (uint64_t c : closes) {
      path.push_back(c);
      const Walk x = WalkRoute(tables, r, path);
      if (x.ok && x.cost == w.cost) break;
      path.pop_back();
    }
    paths[r] = path;
  }
  return true;
}

void Compare(const RoutingTables& tables, const RouteSet& routes, uint32_t agent, const Piece* pieces, int count,
             const RouteEval& predicted, Tally& tally, const char* what) {
  std::vector<uint32_t> seq;
  routes.Materialise(pieces, count, seq);
  const std::vector<uint64_t> open_route(seq.begin(), seq.end());
  const Walk literal = WalkBestClose(tables, agent, open_route);
  ++tally.checked;
  ASSERT_EQ(predicted.ok, literal.ok) << what << " agent " << agent << " route of " << seq.size() << " nodes";
  if (literal.ok) {
    ++tally.feasible;
    EXPECT_NEAR(predicted.cost, literal.cost, 1e-9 * std::max(1.0, std::fabs(literal.cost))) << what;
  } else {
    ++tally.infeasible;
  }
}

TEST_P(ImproveOracle, EveryPredictionEqualsTheLiteralWalk) {
  const OracleCase& c = GetParam();
  size_t built = 0;
  Tally tally;
  std::vector<int64_t> attempts;
  for (uint64_t seed = 1; seed <= 30; ++seed) {
    const RoutingTables tables = MakeTables(seed, c.shape);
    const RoutingContext context(tables);
    ImproveSettings settings;
    settings.min_max = seed % 2 == 0;
    settings.seed = seed;
    ImprovementEngine engine(context, settings);
    RouteSet routes(engine.model(), settings.min_max);
    if (!engine.Construct(routes)) continue;
    ++built;
    RandomSource random(seed);
    LocalSearch search(random);
    search.Bind(routes);
    search.set_probe([&](uint32_t agent, const Piece* pieces, int count, const RouteEval& e) {
      Compare(tables, routes, agent, pieces, count, e, tally, "operator");
    });
    const std::vector<uint32_t>& targets = engine.model().Targets();
    // Every move of the table with every pair its scope admits, not only
    // neighbours, so that every move meets long and short pieces, feasible and
    // infeasible results.
    const MoveTable& moves = search.moves();
    for (uint32_t u : targets) {
      for (uint32_t v : targets) {
        if (u == v) continue;
        for (size_t m = 0; m < moves.size(); ++m) {
          // An applied move may have changed whether u and v share a route.
          const bool same = routes.RouteOf(u) == routes.RouteOf(v);
          const MoveScope scope = moves[m].scope;
          if (scope == MoveScope::kRouteEnds || scope == (same ? MoveScope::kOtherRoute : MoveScope::kSameRoute)) {
            continue;
          }
          search.TryMove(m, u, v);
        }
      }
      for (size_t m = 0; m < moves.size(); ++m) {
        if (moves[m].scope == MoveScope::kRouteEnds) search.TryMove(m, u, RouteSet::kUnrouted);
      }
      if (HasFatalFailure()) return;
    }
    attempts.resize(moves.size());
    for (size_t m = 0; m < moves.size(); ++m) attempts[m] += search.counts()[m].attempts;
    // The applied moves left consistent route data.
    std::string why;
    EXPECT_TRUE(ValidSolution(tables, routes.Export(), &why)) << why;

    // Insertion of a removed target at every position of every route.
    for (uint32_t v : targets) {
      const uint32_t r = routes.RouteOf(v);
      const uint32_t p = routes.PosOf(v);
      routes.Remove(r, p, p);
      routes.Refresh(r);
      routes.RefreshValue();
      for (uint32_t q = 0; q < routes.RouteCount(); ++q) {
        for (uint32_t at = 0; at <= routes.Size(q); ++at) {
          const Piece pieces[3] = {Piece::Prefix(q, at), Piece::Node(v), Piece::Range(q, at + 1, routes.Size(q))};
          const RouteEval e = routes.Evaluate(q, pieces, 3);
          if (!engine.model().Serves(q, v)) continue;  // the insertion never asks for these
          Compare(tables, routes, q, pieces, 3, e, tally, "insertion");
        }
      }
      routes.InsertAfter(r, p - 1, v);
    }
    EXPECT_TRUE(ValidSolution(tables, routes.Export(), &why)) << why;
    if (tables.pairs.empty()) continue;

    // Pairs at insertion: the new route's pairs, against the literal walk of
    // the route and the other routes as they are.
    std::vector<std::vector<uint64_t>> paths;
    for (uint32_t v : targets) {
      const uint32_t r = routes.RouteOf(v);
      const uint32_t p = routes.PosOf(v);
      routes.RemoveTarget(v);
      routes.RefreshValue();
      // Without the triangle inequality a removal may leave its route late:
      // its times then mean nothing to the pairs.
      for (uint32_t q = 0; q < routes.RouteCount() && routes.Cost(r) < RouteSet::kInf; ++q) {
        if (!engine.model().Serves(q, v)) continue;
        for (uint32_t at = 0; at <= routes.Size(q); ++at) {
          const Piece pieces[3] = {Piece::Prefix(q, at), Piece::Node(v), Piece::Range(q, at + 1, routes.Size(q))};
          if (!routes.Evaluate(q, pieces, 3).ok) continue;
          ASSERT_TRUE(Replaced(tables, routes, paths, q, pieces, 3));
          std::vector<uint8_t> touching(routes.RouteCount(), 0);
          touching[q] = 1;
          const bool literal = PairsKept(tables, paths, &touching);
          ASSERT_EQ(routes.NewRouteKeepsPairs(q, pieces, 3), literal)
              << "insertion of " << v << " on " << q << " at " << at;
          ++tally.checked;
          if (!literal) ++tally.pairs_broken;
        }
      }
      routes.InsertAfter(r, p - 1, v);
    }

    // Applying a relocation between routes: feasible exactly when the literal
    // walk of both new routes is, loads and pairs included.
    RouteSet trial(engine.model(), settings.min_max);
    for (uint32_t u : targets) {
      const uint32_t a = routes.RouteOf(u);
      const uint32_t i = routes.PosOf(u);
      for (uint32_t b = 0; b < routes.RouteCount(); ++b) {
        if (b == a || !engine.model().Serves(b, u)) continue;
        for (uint32_t at = 0; at <= routes.Size(b); ++at) {
          const Piece pa[2] = {Piece::Prefix(a, i - 1), Piece::Range(a, i + 1, routes.Size(a))};
          const Piece pb[3] = {Piece::Prefix(b, at), Piece::Range(a, i, i),
                               Piece::Range(b, at + 1, routes.Size(b))};
          trial.CopyFrom(routes);
          const bool applied = trial.Apply(a, pa, 2, b, pb, 3);
          const bool walked = Replaced(tables, routes, paths, a, pa, 2, b, pb, 3);
          const bool literal = walked && PairsKept(tables, paths);
          ASSERT_EQ(applied, literal) << "relocation of " << u << " to route " << b << " after " << at;
          ++tally.checked;
          if (walked && !literal) ++tally.pairs_broken;
          if (applied) {
            EXPECT_EQ(trial.Value().total < RouteSet::kInf, true);
            EXPECT_EQ(trial.PairsHold(), true);
          }
        }
      }
    }
  }
  EXPECT_GE(built, 10u) << "too few instances with a solution";
  // Every move was judged on proposals.
  ASSERT_EQ(attempts.size(), MoveTable::Default().size());
  for (size_t m = 0; m < attempts.size(); ++m) EXPECT_GT(attempts[m], 0) << MoveTable::Default()[m].name;
  EXPECT_GT(tally.feasible, 500u);
  if (c.shape.windows || c.shape.limits || c.shape.loads) EXPECT_GT(tally.infeasible, 50u);
  if (c.shape.pairs > 0) EXPECT_GT(tally.pairs_broken, 20u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ImproveOracle, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OracleCase>& info) {
                           return std::string(info.param.name);
                         });

// Segment summaries compose like walking the nodes one by one.
TEST(ImproveSegment, ConcatenationMatchesStepwiseWalk) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 2000; ++trial) {
    const int len = 1 + trial % 6;
    std::vector<double> open(len), close(len), leg(len);
    for (int i = 0; i < len; ++i) {
      const bool window = unit(rng) < 0.6;
      open[i] = window ? 50.0 * unit(rng) : -Segment::kInf;
      close[i] = window ? open[i] + 40.0 * unit(rng) : Segment::kInf;
      leg[i] = 20.0 * unit(rng) - (trial % 3 == 0 ? 8.0 : 0.0);  // negative legs too
    }
    Segment s = Segment::Node(open[len - 1], close[len - 1]);
    for (int i = len - 2; i >= 0; --i) s = Segment::Node(open[i], close[i]).Then(leg[i], s);
    for (int entry = 0; entry < 5; ++entry) {
      const double t0 = 60.0 * unit(rng) - 10.0;
      double t = t0;
      bool ok = true;
      for (int i = 0; i < len && ok; ++i) {
        if (i > 0) t += leg[i - 1];
        if (t > close[i]) ok = false;
        if (t < open[i]) t = open[i];
      }
      double u = t0;
      const bool predicted = s.Enter(u);
      ASSERT_EQ(predicted, ok) << "trial " << trial;
      if (ok) {
        EXPECT_NEAR(u, t, 1e-9);
      }
    }
  }
}

}  // namespace
