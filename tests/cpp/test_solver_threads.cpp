// Solves with several improvement searches (Options.threads): the thread count,
// reproducible and valid routes, records on the solving thread, and stops.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "improve/improve_settings.hpp"
#include "improve/improvement_engine.hpp"
#include "scattered_problem.hpp"
#include "solver/solver.hpp"

using namespace velmora;
using velmora_test::ScatteredProblem;

namespace {

Options Improving(uint32_t threads, int64_t iterations, double seconds = 60.0) {
  Options o;
  o.objective = ObjectiveType::MinMax;
  o.time_limit = seconds;
  o.improve = true;
  o.seed = 7;
  o.improve_iterations = iterations;
  o.threads = threads;
  return o;
}

EngineSolution AsSolution(const Result& result, size_t agents) {
  EngineSolution s;
  for (size_t k = 0; k < agents; ++k) {
    const auto& path = result.paths.at(static_cast<int64_t>(k));
    s.paths.emplace_back(path.begin(), path.end());
    s.costs.push_back(result.times.at(static_cast<int64_t>(k)));
  }
  return s;
}

class SolverThreads : public ::testing::TestWithParam<uint32_t> {};

}  // namespace

TEST(SolverThreadCount, ZeroMeansTheUsableProcessorsAndLargeCountsAreBounded) {
  const Problem p = ScatteredProblem(6, 2);
  EXPECT_EQ(Solver(p, Improving(1, 10)).search_threads(), 1u);
  EXPECT_EQ(Solver(p, Improving(3, 10)).search_threads(), 3u);
  EXPECT_EQ(Solver(p, Improving(0, 10)).search_threads(), Solver::UsableProcessors());
  EXPECT_EQ(Solver(p, Improving(100000, 10)).search_threads(), Solver::kMaxSearchThreads);
  EXPECT_GE(Solver::UsableProcessors(), 1u);
}

TEST_P(SolverThreads, SameSeedAndIterationsGiveTheSameValidRoutes) {
  const uint32_t threads = GetParam();
  std::vector<Result> results;
  for (int run = 0; run < 2; ++run) {
    Solver solver(ScatteredProblem(30, 3), Improving(threads, 400));
    ASSERT_EQ(solver.solve(), 1);
    results.push_back(solver.get_result());
    EXPECT_EQ(solver.improve_counts().iterations, 400 * static_cast<int64_t>(threads));
    EXPECT_FALSE(solver.get_result().timeout);
    // The literal walk of the route rules accepts what the solve answers.
    EXPECT_TRUE(CheckSolution(solver.context(), AsSolution(solver.get_result(), 3)));
  }
  EXPECT_EQ(results[0].paths, results[1].paths);
  EXPECT_EQ(results[0].times, results[1].times);
}

TEST_P(SolverThreads, EveryRecordComesOnTheSolvingThreadAndImprovesTheCurve) {
  Solver solver(ScatteredProblem(40, 3), Improving(GetParam(), 600));
  std::vector<std::thread::id> callers;
  std::vector<double> longest;
  solver.set_on_record([&](const AnytimeEntry& entry) {
    callers.push_back(std::this_thread::get_id());
    double most = 0.0;
    for (const auto& route : entry.result.times) most = std::max(most, route.second);
    longest.push_back(most);
    return false;
  });
  ASSERT_EQ(solver.solve(), 1);
  ASSERT_GE(callers.size(), 2u);
  for (const std::thread::id id : callers) EXPECT_EQ(id, std::this_thread::get_id());
  // The improvement's records never raise the longest route, whichever search found them.
  const std::vector<AnytimeEntry> log = solver.get_result_process();
  ASSERT_EQ(log.size(), longest.size());
  double best = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].time >= solver.improve_counts().start_time) EXPECT_LE(longest[i], best + 1e-9) << i;
    best = std::min(best, longest[i]);
  }
}

TEST_P(SolverThreads, StopFromAnotherThreadEndsTheSolveWithItsBest) {
  Solver solver(ScatteredProblem(60, 3), Improving(GetParam(), 0, std::numeric_limits<double>::infinity()));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    solver.RequestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(solver.solve(), 1);
  stopper.join();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);  // hang guard
  const Result result = solver.get_result();
  EXPECT_TRUE(result.timeout);
  EXPECT_TRUE(CheckSolution(solver.context(), AsSolution(result, 3)));
  EXPECT_EQ(result.times, solver.get_result_process().back().result.times);
}

TEST_P(SolverThreads, ARecordHookAnsweringTrueStopsEverySearch) {
  Solver solver(ScatteredProblem(60, 3), Improving(GetParam(), 0, std::numeric_limits<double>::infinity()));
  size_t calls = 0;
  solver.set_on_record([&](const AnytimeEntry&) { return ++calls >= 4; });
  EXPECT_EQ(solver.solve(), 1);
  EXPECT_TRUE(solver.get_result().timeout);
  EXPECT_GE(calls, 4u);
}

INSTANTIATE_TEST_SUITE_P(Threads, SolverThreads, ::testing::Values(2u, 4u));
