// The moves' shortcut against the full judgement: every relocation, exchange
// and 2-opt that the legs alone reject must be one that evaluating the new
// routes rejects too, and on instances where the shortcut cannot be sure it
// must reject nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/local_search.hpp"
#include "improve/route_set.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

enum class Windows { kNone, kClosing, kTargets };

struct FilterCase {
  const char* name;
  size_t types;
  bool limits;
  bool negative;
  Windows windows;
  bool min_max;
  bool expect_rejections;
};

const FilterCase kFilterCases[] = {
    {"plain_min_max", 1, false, false, Windows::kNone, true, true},
    {"plain_min_sum", 1, false, false, Windows::kNone, false, true},
    {"two_types_limits_min_max", 2, true, false, Windows::kNone, true, true},
    {"two_types_limits_min_sum", 2, true, false, Windows::kNone, false, true},
    {"closing_windows_min_max", 2, false, false, Windows::kClosing, true, true},
    {"closing_windows_min_sum", 2, true, false, Windows::kClosing, false, true},
    {"target_windows", 2, true, false, Windows::kTargets, true, false},
    {"negative_legs", 1, false, true, Windows::kNone, false, false},
};

RoutingTables FilterTables(uint64_t seed, const FilterCase& c) {
  Shape shape;
  shape.nodes = 24;
  shape.agents = 3;
  shape.types = c.types;
  shape.limits = c.limits;
  shape.negative = c.negative;
  shape.missing = false;
  shape.windows = c.windows != Windows::kNone;
  RoutingTables tables = MakeTables(seed, shape);
  if (c.windows == Windows::kClosing) {
    // Only the agents' end nodes keep a window, opening late enough that some
    // routes wait for it.
    tables.windows.clear();
    for (uint64_t e : tables.ends) {
      if (std::none_of(tables.windows.begin(), tables.windows.end(),
                       [e](const auto& w) { return w.first == e; })) {
        tables.windows.push_back({e, {150.0 + 10.0 * static_cast<double>(e), 1e6}});
      }
    }
  }
  return tables;
}

bool Accepts(const RouteSet& s, uint32_t a, const Piece* pa, int na) {
  const RouteEval ea = s.Evaluate(a, pa, na);
  return ea.ok && s.Better(s.After(a, ea.cost), s.Value());
}

bool Accepts(const RouteSet& s, uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb) {
  const RouteEval ea = s.Evaluate(a, pa, na);
  const RouteEval eb = s.Evaluate(b, pb, nb);
  return ea.ok && eb.ok && s.Better(s.After(a, ea.cost, b, eb.cost), s.Value());
}

// Targets u and v exchanged, literally.
bool SwapAccepts(const RouteSet& s, uint32_t u, uint32_t v) {
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  uint32_t i = s.PosOf(u);
  uint32_t j = s.PosOf(v);
  if (a != b) {
    const Piece pa[3] = {Piece::Prefix(a, i - 1), Piece::Node(v), Piece::Range(a, i + 1, s.Size(a))};
    const Piece pb[3] = {Piece::Prefix(b, j - 1), Piece::Node(u), Piece::Range(b, j + 1, s.Size(b))};
    return Accepts(s, a, pa, 3, b, pb, 3);
  }
  if (i > j) std::swap(i, j);
  const Piece pa[5] = {Piece::Prefix(a, i - 1), Piece::Node(s.At(a, j)), Piece::Range(a, i + 1, j - 1),
                       Piece::Node(s.At(a, i)), Piece::Range(a, j + 1, s.Size(a))};
  return Accepts(s, a, pa, 5);
}

// The literal judgement of the relocation: the pieces of both new routes,
// evaluated, and the objective after them against the current one.
bool FullJudgementAccepts(const RouteSet& s, uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b,
                          uint32_t p) {
  const uint32_t na = s.Size(a);
  const Piece string = Piece::Range(a, s0, s1, reversed);
  if (a != b) {
    const Piece pa[2] = {Piece::Prefix(a, s0 - 1), Piece::Range(a, s1 + 1, na)};
    const Piece pb[3] = {Piece::Prefix(b, p), string, Piece::Range(b, p + 1, s.Size(b))};
    return Accepts(s, a, pa, 2, b, pb, 3);
  }
  const Piece before[4] = {Piece::Prefix(a, p), string, Piece::Range(a, p + 1, s0 - 1),
                           Piece::Range(a, s1 + 1, na)};
  const Piece after[4] = {Piece::Prefix(a, s0 - 1), Piece::Range(a, s1 + 1, p), string,
                          Piece::Range(a, p + 1, na)};
  return Accepts(s, a, p < s0 ? before : after, 4);
}

// Proposals judged and rejected by the shortcut over all seeds and states.
struct Tally {
  size_t judged = 0;
  size_t rejected = 0;
};

class ImproveRelocationFilter : public ::testing::TestWithParam<FilterCase> {
 protected:
  // Runs `check` on the routes of each seed's construction and again with
  // each route shuffled; then checks the share the shortcut rejected.
  template <typename Check>
  void ForEachState(Check check) {
    const FilterCase& c = GetParam();
    Tally tally;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
      const RoutingTables tables = FilterTables(seed, c);
      const RoutingContext context(tables);
      ImproveSettings settings;
      settings.min_max = c.min_max;
      settings.seed = seed;
      ImprovementEngine engine(context, settings);
      RouteSet routes(engine.model(), settings.min_max);
      if (!engine.Construct(routes)) continue;
      check(routes, engine.model(), "constructed seed " + std::to_string(seed), tally);
      // Each route in a random order: far from any local optimum, so many
      // proposals improve and a wrong shortcut shows.
      std::mt19937 shuffle(static_cast<uint32_t>(seed));
      for (uint32_t r = 0; r < routes.RouteCount(); ++r) {
        std::vector<uint32_t> targets(routes.Sequence(r) + 1, routes.Sequence(r) + 1 + routes.Size(r));
        std::shuffle(targets.begin(), targets.end(), shuffle);
        routes.SetTargets(r, targets);
        routes.Refresh(r);
      }
      routes.RefreshValue();
      if (routes.Complete()) check(routes, engine.model(), "shuffled seed " + std::to_string(seed), tally);
    }
    ASSERT_GT(tally.judged, 1000u);
    if (c.expect_rejections) {
      EXPECT_GT(tally.rejected, tally.judged / 10) << c.name;
    } else {
      EXPECT_EQ(tally.rejected, 0u) << c.name;
    }
  }
};

TEST_P(ImproveRelocationFilter, RejectsOnlyWhatTheFullJudgementRejects) {
  const char* name = GetParam().name;
  ForEachState([name](const RouteSet& routes, const RouteModel&, const std::string& state, Tally& tally) {
    for (uint32_t a = 0; a < routes.RouteCount(); ++a) {
      const uint32_t na = routes.Size(a);
      for (uint32_t s0 = 1; s0 <= na; ++s0) {
        for (uint32_t s1 = s0; s1 <= std::min(na, s0 + 2); ++s1) {
          for (uint32_t b = 0; b < routes.RouteCount(); ++b) {
            for (uint32_t p = 0; p <= routes.Size(b); ++p) {
              if (a == b && p + 1 >= s0 && p <= s1) continue;  // in place
              for (bool reversed : {false, true}) {
                ++tally.judged;
                if (!moves::RelocationCannotImprove(routes, a, s0, s1, reversed, b, p)) continue;
                ++tally.rejected;
                EXPECT_FALSE(FullJudgementAccepts(routes, a, s0, s1, reversed, b, p))
                    << name << " " << state << " route " << a << " [" << s0 << ", " << s1 << "]"
                    << (reversed ? " reversed" : "") << " to route " << b << " after " << p;
              }
            }
          }
        }
      }
    }
  });
}

TEST_P(ImproveRelocationFilter, ExchangesAndReversalsToo) {
  const char* name = GetParam().name;
  ForEachState([name](const RouteSet& routes, const RouteModel& model, const std::string& state, Tally& tally) {
    for (uint32_t u : model.Targets()) {
      for (uint32_t v : model.Targets()) {
        if (u == v || !routes.Routed(u) || !routes.Routed(v)) continue;
        const uint32_t a = routes.RouteOf(u);
        const uint32_t b = routes.RouteOf(v);
        if (a != b && (!model.Serves(a, v) || !model.Serves(b, u))) continue;
        ++tally.judged;
        if (!moves::SwapCannotImprove(routes, u, v)) continue;
        ++tally.rejected;
        EXPECT_FALSE(SwapAccepts(routes, u, v)) << name << " " << state << " swap " << u << ", " << v;
      }
    }
    for (uint32_t a = 0; a < routes.RouteCount(); ++a) {
      for (uint32_t from = 1; from <= routes.Size(a); ++from) {
        for (uint32_t to = from + 1; to <= routes.Size(a); ++to) {
          ++tally.judged;
          if (!moves::TwoOptCannotImprove(routes, a, from, to)) continue;
          ++tally.rejected;
          const Piece pa[3] = {Piece::Prefix(a, from - 1), Piece::Range(a, from, to, true),
                               Piece::Range(a, to + 1, routes.Size(a))};
          EXPECT_FALSE(Accepts(routes, a, pa, 3))
              << name << " " << state << " route " << a << " reversed [" << from << ", " << to << "]";
        }
      }
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Shapes, ImproveRelocationFilter, ::testing::ValuesIn(kFilterCases),
                         [](const ::testing::TestParamInfo<FilterCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
