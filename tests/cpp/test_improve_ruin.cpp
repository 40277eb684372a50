// The ruin steps: what they remove leaves the routes, the rest keeps its order,
// and the routes' data are refreshed to the literal walk of what is left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/insertion.hpp"
#include "improve/radial_removal.hpp"
#include "improve/route_set.hpp"
#include "improve/string_removal.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

enum class Ruin { kStrings, kRadial };

struct RuinCase {
  const char* name;
  Ruin ruin;
  bool windows;
  bool return_to_end;
  size_t agents;
};

class ImproveRuin : public ::testing::TestWithParam<RuinCase> {};

// Targets of every route, in order.
std::vector<std::vector<uint32_t>> TargetsOf(const RouteSet& routes) {
  std::vector<std::vector<uint32_t>> out(routes.RouteCount());
  for (uint32_t r = 0; r < routes.RouteCount(); ++r)
    for (uint32_t p = 1; p <= routes.Size(r); ++p) out[r].push_back(routes.At(r, p));
  return out;
}

TEST_P(ImproveRuin, RemovesOnlyWhatItReportsAndRefreshesTheRest) {
  const RuinCase& c = GetParam();
  Shape shape;
  shape.nodes = 30;
  shape.agents = c.agents;
  shape.types = c.agents == 1 ? 1 : 2;
  shape.windows = c.windows;
  shape.limits = false;  // a shorter route stays within any limit
  shape.return_to_end = c.return_to_end;
  shape.missing = false;
  size_t ruined = 0;
  for (uint64_t seed = 1; seed <= 25; ++seed) {
    const RoutingTables tables = MakeTables(seed, shape);
    const RoutingContext context(tables);
    ImproveSettings settings;
    settings.seed = seed;
    ImprovementEngine engine(context, settings);
    RouteSet routes(engine.model(), true);
    if (!engine.Construct(routes)) continue;
    RandomSource random(seed);
    StringRemoval strings(random, routes.RouteCount(), 6.0, 5);
    RadialRemoval radial(random, 6.0);
    for (int round = 0; round < 10; ++round) {
      const auto before = TargetsOf(routes);
      std::vector<uint32_t> removed{9999};  // appended to, never cleared
      if (c.ruin == Ruin::kStrings) {
        strings.Ruin(routes, removed);
      } else {
        radial.Ruin(routes, removed);
      }
      ASSERT_EQ(removed.front(), 9999u);
      removed.erase(removed.begin());
      ASSERT_FALSE(removed.empty());
      if (c.ruin == Ruin::kRadial) EXPECT_LE(removed.size(), 12u);
      EXPECT_EQ(routes.Unrouted(), removed.size());
      std::vector<uint32_t> sorted = removed;
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "removed twice";
      for (uint32_t v : removed) EXPECT_FALSE(routes.Routed(v)) << v;
      if (c.ruin == Ruin::kRadial) {
        // Some removed target and the targets nearest to it, nothing else.
        bool nearest = false;
        for (uint32_t centre : removed) {
          std::vector<uint32_t> expect{centre};
          const uint32_t* near = engine.model().Adjacency(centre);
          for (size_t q = 0; q < engine.model().AdjacencyLength() && expect.size() < removed.size(); ++q)
            if (near[q] != centre) expect.push_back(near[q]);
          std::sort(expect.begin(), expect.end());
          nearest = nearest || expect == sorted;
        }
        EXPECT_TRUE(nearest) << "seed " << seed << " round " << round;
      } else {
        // One string per route, with at most one stretch kept inside it.
        for (uint32_t r = 0; r < routes.RouteCount(); ++r) {
          int runs = 0;
          bool in_run = false;
          for (uint32_t v : before[r]) {
            const bool gone = std::binary_search(sorted.begin(), sorted.end(), v);
            if (gone && !in_run) ++runs;
            in_run = gone;
          }
          EXPECT_LE(runs, 2) << "seed " << seed << " route " << r;
        }
      }
      // What is left is each old route without the removed targets, in order.
      const auto after = TargetsOf(routes);
      for (uint32_t r = 0; r < routes.RouteCount(); ++r) {
        std::vector<uint32_t> expect;
        for (uint32_t v : before[r])
          if (!std::binary_search(sorted.begin(), sorted.end(), v)) expect.push_back(v);
        ASSERT_EQ(after[r], expect) << "seed " << seed << " route " << r;
        for (uint32_t p = 1; p <= routes.Size(r); ++p) {
          EXPECT_EQ(routes.RouteOf(routes.At(r, p)), r);
          EXPECT_EQ(routes.PosOf(routes.At(r, p)), p);
        }
      }
      // Costs and the objective are those of the literal walk.
      const EngineSolution s = routes.Export();
      double longest = 0.0, total = 0.0;
      for (size_t k = 0; k < s.paths.size(); ++k) {
        const Walk w = WalkRoute(tables, k, s.paths[k]);
        if (!w.ok) continue;  // waiting can break a window when a target goes
        EXPECT_NEAR(s.costs[k], w.cost, 1e-9 * std::max(1.0, w.cost)) << "seed " << seed << " route " << k;
        longest = std::max(longest, w.cost);
        total += w.cost;
      }
      if (!c.windows) {
        EXPECT_NEAR(routes.Value().longest, longest, 1e-9 * std::max(1.0, longest));
        EXPECT_NEAR(routes.Value().total, total, 1e-9 * std::max(1.0, total));
      }
      // Put the targets back, so that the next round ruins a full solution.
      Insertion insertion(random);
      for (uint32_t v : removed) ASSERT_TRUE(insertion.Insert(routes, v, 0.0) || c.windows);
      if (!routes.Complete()) break;
      ++ruined;
    }
  }
  EXPECT_GE(ruined, 30u);
}

const RuinCase kRuins[] = {
    {"strings_closed", Ruin::kStrings, false, true, 3},
    {"strings_open_windows", Ruin::kStrings, true, false, 4},
    {"strings_one_route", Ruin::kStrings, false, true, 1},
    {"radial_closed", Ruin::kRadial, false, true, 3},
    {"radial_open_windows", Ruin::kRadial, true, false, 4},
    {"radial_one_route", Ruin::kRadial, false, true, 1},
};

INSTANTIATE_TEST_SUITE_P(Ruins, ImproveRuin, ::testing::ValuesIn(kRuins),
                         [](const ::testing::TestParamInfo<RuinCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
