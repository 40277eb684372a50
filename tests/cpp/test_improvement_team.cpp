// Several improvement searches on one instance: the stepped run equals the
// whole run, the team's answers are valid, strictly improving, reported on the
// calling thread and the same on every run; stops and failures end every search.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/improvement_team.hpp"
#include "improve/route_set.hpp"
#include "improve_test_support.hpp"

using namespace velmora;
using namespace velmora::improve_testing;

namespace {

Objective ValueOf(const EngineSolution& s) {
  Objective o;
  for (double c : s.costs) {
    o.longest = std::max(o.longest, c);
    o.total += c;
  }
  return o;
}

Shape Sized(size_t nodes, bool windows, bool limits, bool rte, size_t types, bool loads, size_t pairs) {
  Shape s;
  s.nodes = nodes;
  s.agents = 3;
  s.types = types;
  s.windows = windows;
  s.limits = limits;
  s.return_to_end = rte;
  s.loads = loads;
  s.pairs = pairs;
  return s;
}

struct TeamCase {
  const char* name;
  Shape shape;
  bool min_max;
  uint32_t threads;
};

const TeamCase kCases[] = {
    {"open_minmax_2", Sized(24, true, true, false, 2, false, 0), true, 2},
    {"open_minmax_4", Sized(24, true, true, false, 2, false, 0), true, 4},
    {"closed_minsum_2", Sized(24, false, true, true, 1, false, 0), false, 2},
    {"loads_pairs_4", Sized(20, true, false, true, 1, true, 4), true, 4},
    {"pairs_minsum_3", Sized(20, false, false, false, 1, false, 5), false, 3},
};

ImprovementTeam::Clock Unlimited() {
  ImprovementTeam::Clock clock;
  clock.out_of_time = [] { return false; };
  return clock;
}

ImproveSettings Capped(bool min_max, uint64_t seed, int64_t iterations, int64_t interval) {
  ImproveSettings settings;
  settings.min_max = min_max;
  settings.seed = seed;
  settings.max_iterations = iterations;
  settings.parameters.exchange_interval = interval;
  return settings;
}

struct TeamRun {
  bool solved = false;
  EngineSolution best;
  std::vector<EngineSolution> reported;
  std::vector<std::thread::id> reporters;
  ImproveCounts counts;
};

TeamRun RunTeam(const RoutingContext& context, const ImproveSettings& settings, uint32_t threads,
                const EngineSolution* initial = nullptr) {
  TeamRun run;
  ImprovementTeam team(context, settings, threads);
  run.solved = team.Run(
      initial, [] { return false; }, Unlimited,
      [&](const EngineSolution& s) {
        run.reported.push_back(s);
        run.reporters.push_back(std::this_thread::get_id());
      });
  run.best = team.best();
  run.counts = team.counts();
  return run;
}

bool Improves(bool min_max, const Objective& b, const Objective& a) {
  if (!min_max) return b.total < a.total - 1e-9;
  return b.longest < a.longest - 1e-9 || (b.longest <= a.longest && b.total < a.total - 1e-9);
}

class ImprovementTeamCases : public ::testing::TestWithParam<TeamCase> {};

}  // namespace

// The team relies on a run cut into steps being the run itself.
TEST(ImprovementEngineSteps, SteppedRunEqualsTheWholeRun) {
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    const RoutingTables tables = MakeTables(seed, Sized(22, true, true, seed % 2 == 0, 2, seed % 3 == 0, 3));
    const RoutingContext context(tables);
    const ImproveSettings settings = Capped(true, seed, 700, 500);
    std::vector<EngineSolution> whole_bests, stepped_bests;
    ImprovementEngine whole(context, settings);
    const bool whole_ok =
        whole.Run(nullptr, [] { return false; }, [&](const EngineSolution& s) { whole_bests.push_back(s); });

    ImprovementEngine stepped(context, settings);
    const std::function<bool()> stop = [] { return false; };
    const std::function<void(const EngineSolution&)> keep = [&](const EngineSolution& s) {
      stepped_bests.push_back(s);
    };
    int64_t steps = 0;
    if (stepped.Begin(nullptr, stop, keep)) {
      for (int64_t until = 37; stepped.Advance(until); until += 37) ++steps;
    }
    const bool stepped_ok = stepped.End();
    SCOPED_TRACE(seed);
    EXPECT_EQ(stepped_ok, whole_ok);
    EXPECT_EQ(stepped.best().paths, whole.best().paths);
    EXPECT_EQ(stepped.counts().iterations, whole.counts().iterations);
    EXPECT_EQ(stepped.counts().moves, whole.counts().moves);
    EXPECT_EQ(stepped_bests.size(), whole_bests.size());
    if (whole_ok) EXPECT_EQ(steps, 700 / 37);
  }
}

TEST(ImprovementEngineSteps, AdoptTakesTheOtherBestAsBestAndCurrent) {
  const RoutingTables tables = MakeTables(5, Sized(22, false, false, true, 2, false, 0));
  const RoutingContext context(tables);
  ImprovementEngine donor(context, Capped(true, 1, 2000, 500));
  ASSERT_TRUE(donor.Run(nullptr, [] { return false; }, nullptr));

  ImprovementEngine taker(context, Capped(true, 2, 400, 500));
  const std::function<bool()> stop = [] { return false; };
  std::vector<EngineSolution> bests;
  const std::function<void(const EngineSolution&)> keep = [&](const EngineSolution& s) { bests.push_back(s); };
  ASSERT_TRUE(taker.Begin(nullptr, stop, keep));
  const size_t before = bests.size();
  taker.Adopt(donor);
  EXPECT_EQ(bests.size(), before);  // not reported
  EXPECT_EQ(taker.best().paths, donor.best().paths);
  EXPECT_EQ(taker.BestValue().longest, donor.BestValue().longest);
  EXPECT_EQ(taker.BestValue().total, donor.BestValue().total);
  taker.Advance(400);
  EXPECT_TRUE(taker.End());
  // Whatever the taker found later beats what it took over.
  for (size_t i = before; i < bests.size(); ++i) {
    std::string why;
    EXPECT_TRUE(ValidSolution(tables, bests[i], &why)) << why;
    EXPECT_TRUE(Improves(true, ValueOf(bests[i]), donor.BestValue()));
  }
}

TEST_P(ImprovementTeamCases, SameSeedThreadsAndIterationsGiveTheSameRoutes) {
  const TeamCase& c = GetParam();
  for (uint64_t seed : {3u, 8u}) {
    const RoutingTables tables = MakeTables(seed, c.shape);
    const RoutingContext context(tables);
    const ImproveSettings settings = Capped(c.min_max, seed, 600, 50);
    const TeamRun a = RunTeam(context, settings, c.threads);
    const TeamRun b = RunTeam(context, settings, c.threads);
    SCOPED_TRACE(seed);
    EXPECT_EQ(a.solved, b.solved);
    EXPECT_EQ(a.best.paths, b.best.paths);
    EXPECT_EQ(a.best.costs, b.best.costs);
    EXPECT_EQ(a.counts.iterations, b.counts.iterations);
    EXPECT_EQ(a.counts.moves, b.counts.moves);
  }
}

TEST_P(ImprovementTeamCases, ReportsValidStrictlyImprovingBestsOnTheCallingThread) {
  const TeamCase& c = GetParam();
  size_t solved = 0;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    const RoutingTables tables = MakeTables(seed, c.shape);
    const RoutingContext context(tables);
    const EvaluatorSetup reference(tables);
    const TeamRun run = RunTeam(context, Capped(c.min_max, seed, 300, 40), c.threads);
    SCOPED_TRACE(seed);
    if (!run.solved) {
      EXPECT_TRUE(run.reported.empty());
      continue;
    }
    ++solved;
    ASSERT_FALSE(run.reported.empty());
    for (size_t i = 0; i < run.reported.size(); ++i) {
      std::string why;
      ASSERT_TRUE(ValidSolution(tables, run.reported[i], &why)) << "best " << i << ": " << why;
      EXPECT_EQ(run.reporters[i], std::this_thread::get_id());
      // The last report may be an equal best of a lower index, chosen apart from arrival order.
      if (i == 0 || i + 1 == run.reported.size()) continue;
      EXPECT_TRUE(Improves(c.min_max, ValueOf(run.reported[i]), ValueOf(run.reported[i - 1]))) << i;
    }
    EXPECT_EQ(run.best.paths, run.reported.back().paths);
    for (size_t k = 0; k < run.best.paths.size(); ++k) {
      const RouteCost rc = reference.Evaluate(k, run.best.paths[k]);
      ASSERT_TRUE(rc.valid) << "route " << k;
      EXPECT_NEAR(rc.cost, run.best.costs[k], 1e-9 * std::max(1.0, std::fabs(rc.cost)));
    }
    // Each search runs the whole cap unless its repair stalls.
    EXPECT_EQ(run.counts.iterations, 300 * static_cast<int64_t>(c.threads));
    int64_t moves = 0;
    for (const MoveCounts& m : run.counts.by_move) moves += m.moves;
    EXPECT_EQ(moves, run.counts.moves);
  }
  EXPECT_GE(solved, 3u);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ImprovementTeamCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TeamCase>& info) { return info.param.name; });

TEST(ImprovementTeam, SeedsOfTheSearchesDifferAndTheFirstKeepsTheGivenOne) {
  EXPECT_EQ(ImprovementTeam::SeedOf(42, 0), 42u);
  std::vector<uint64_t> seeds;
  for (uint32_t i = 0; i < 64; ++i) seeds.push_back(ImprovementTeam::SeedOf(42, i));
  std::sort(seeds.begin(), seeds.end());
  EXPECT_EQ(std::unique(seeds.begin(), seeds.end()), seeds.end());
}

TEST(ImprovementTeam, AStartingSolutionIsNotReportedAgain) {
  const RoutingTables tables = MakeTables(4, Sized(20, false, false, true, 1, false, 0));
  const RoutingContext context(tables);
  ImprovementEngine solo(context, Capped(true, 4, 5000, 500));
  ASSERT_TRUE(solo.Run(nullptr, [] { return false; }, nullptr));
  // From a solution that long a search, two searches of a few iterations rarely improve: every
  // report, if any, beats the start.
  const TeamRun run = RunTeam(context, Capped(true, 9, 20, 10), 2, &solo.best());
  ASSERT_TRUE(run.solved);
  for (const EngineSolution& s : run.reported) EXPECT_TRUE(Improves(true, ValueOf(s), solo.BestValue()));
  if (run.reported.empty()) EXPECT_EQ(run.best.paths, solo.best().paths);
}

TEST(ImprovementTeam, EveryClockStopsItsOwnSearch) {
  const RoutingTables tables = MakeTables(2, Sized(40, false, false, true, 2, false, 0));
  const RoutingContext context(tables);
  ImproveSettings settings;  // no cap: the clocks end the run
  settings.seed = 2;
  ImprovementTeam team(context, settings, 3);
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.store(true);
  });
  std::atomic<int> clocks{0};
  const auto make_clock = [&] {
    ++clocks;
    ImprovementTeam::Clock clock;
    clock.out_of_time = [&] { return stop.load(); };
    clock.progress = [] { return 0.5; };
    return clock;
  };
  const auto start = std::chrono::steady_clock::now();
  const bool solved = team.Run(nullptr, [&] { return stop.load(); }, make_clock, nullptr);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  stopper.join();
  EXPECT_TRUE(solved);
  EXPECT_EQ(clocks.load(), 2);
  EXPECT_LT(seconds, 10.0);  // a hang guard, not a timing
  EXPECT_GT(team.counts().iterations, 0);
}

TEST(ImprovementTeam, AFailingSearchEndsTheTeamAndItsErrorIsRethrown) {
  const RoutingTables tables = MakeTables(2, Sized(30, true, true, true, 2, false, 0));
  const RoutingContext context(tables);
  ImproveSettings settings;  // no cap: only the failure ends the others
  ImprovementTeam team(context, settings, 3);
  int made = 0;
  std::mutex mutex;
  const auto make_clock = [&]() -> ImprovementTeam::Clock {
    std::lock_guard<std::mutex> lock(mutex);
    if (++made == 2) throw std::runtime_error("no clock");
    return Unlimited();
  };
  try {
    team.Run(nullptr, [] { return false; }, make_clock, nullptr);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no clock");
  }
}

TEST(ImprovementTeam, AFailingReportEndsTheTeamAndItsErrorIsRethrown) {
  const RoutingTables tables = MakeTables(3, Sized(30, false, false, true, 1, false, 0));
  const RoutingContext context(tables);
  ImproveSettings settings;  // no cap: only the failure ends the searches
  // Meetings after every iteration: most reports of the other search are collected between steps.
  settings.parameters.exchange_interval = 1;
  ImprovementTeam team(context, settings, 2);
  // A bound on the run, should the third report never come.
  std::atomic<int64_t> checks{0};
  const auto bounded = [&checks] { return ++checks > 2000000; };
  const auto make_clock = [&bounded] {
    ImprovementTeam::Clock clock;
    clock.out_of_time = bounded;
    return clock;
  };
  int reports = 0;
  try {
    team.Run(nullptr, bounded, make_clock, [&](const EngineSolution&) {
      if (++reports == 3) throw std::runtime_error("no record");
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no record");
  }
  EXPECT_EQ(reports, 3);
}

TEST(ImprovementTeam, OutOfRangeParametersAreRefused) {
  const RoutingTables tables = MakeTables(2, Sized(10, false, false, true, 1, false, 0));
  const RoutingContext context(tables);
  ImproveSettings settings;
  settings.parameters.exchange_interval = 0;
  try {
    ImprovementTeam team(context, settings, 2);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "ImproveParameters.exchange_interval must be at least 1, not 0");
  }
}
