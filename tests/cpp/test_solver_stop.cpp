// Stopping a search from outside and watching what it records: RequestStop, the record
// hook and the budget of the thread that runs the search.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

#include "scattered_problem.hpp"
#include "solver/solver.hpp"

using namespace velmora;
using velmora_test::ScatteredProblem;

namespace {

Options Budget(double seconds) {
  Options o;
  o.objective = ObjectiveType::MinMax;
  o.time_limit = seconds;
  return o;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool SameResult(const Result& a, const Result& b) {
  return a.paths == b.paths && a.times == b.times && a.n_generated == b.n_generated &&
         a.n_expanded == b.n_expanded;
}

}  // namespace

TEST(SolverStop, HookSeesEveryAnytimeEntryInOrderAndChangesNothing) {
  Solver plain(ScatteredProblem(9, 2), Budget(30.0));
  ASSERT_EQ(plain.solve(), 1);
  ASSERT_FALSE(plain.get_result().timeout);  // ends on its own

  Solver watched(ScatteredProblem(9, 2), Budget(30.0));
  std::vector<AnytimeEntry> seen;
  watched.set_on_record([&](const AnytimeEntry& entry) {
    seen.push_back(entry);
    return false;
  });
  ASSERT_EQ(watched.solve(), 1);
  const std::vector<AnytimeEntry> log = watched.get_result_process();
  ASSERT_EQ(seen.size(), log.size());
  ASSERT_GE(seen.size(), 2u);
  for (size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(seen[i].time, log[i].time);
    EXPECT_TRUE(SameResult(seen[i].result, log[i].result)) << i;
  }
  EXPECT_TRUE(SameResult(watched.get_result(), plain.get_result()));
  ASSERT_EQ(plain.get_result_process().size(), log.size());
}

TEST(SolverStop, HookAnsweringTrueEndsTheSearchAsATimeout) {
  Solver solver(ScatteredProblem(40, 3), Budget(30.0));
  int calls = 0;
  solver.set_on_record([&](const AnytimeEntry&) { return ++calls >= 1; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(solver.solve(), 1);
  EXPECT_LT(Seconds(start), 10.0);
  const Result result = solver.get_result();
  EXPECT_TRUE(result.timeout);
  EXPECT_EQ(result.paths.size(), 3u);
  // The solution being recorded is finished (post-optimised and logged) before the stop.
  EXPECT_EQ(static_cast<size_t>(calls), solver.get_result_process().size());
  EXPECT_EQ(calls, 2);
}

TEST(SolverStop, RequestFromAnotherThreadEndsALongSearch) {
  Solver solver(ScatteredProblem(40, 3), Budget(std::numeric_limits<double>::infinity()));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    solver.RequestStop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(solver.solve(), 1);
  stopper.join();
  EXPECT_LT(Seconds(start), 10.0);
  EXPECT_TRUE(solver.get_result().timeout);
  EXPECT_TRUE(solver.stop_requested());
  solver.ClearStop();
  EXPECT_FALSE(solver.stop_requested());
}

TEST(SolverStop, RequestBeforeTheSearchHoldsUntilCleared) {
  Solver solver(ScatteredProblem(9, 2), Budget(30.0));
  solver.RequestStop();
  EXPECT_EQ(solver.solve(), 0);
  EXPECT_TRUE(solver.get_result().timeout);
  solver.ClearStop();
  EXPECT_EQ(solver.solve(), 1);
  EXPECT_FALSE(solver.get_result().timeout);
}

TEST(SolverStop, BudgetCountsTheProcessorTimeOfTheSearchThread) {
  // The constructing thread sleeps while another thread searches: the budget must
  // run out on the searching thread's clock.
  Solver solver(ScatteredProblem(40, 3), Budget(0.3));
  std::atomic<int> found{-1};
  std::thread worker([&] { found = solver.solve(); });
  worker.join();
  EXPECT_EQ(found.load(), 1);
  const Result result = solver.get_result();
  EXPECT_TRUE(result.timeout);
  EXPECT_GE(result.search_time, 0.3);
  EXPECT_LT(result.search_time, 1.0);
}

TEST(SolverStop, NanBudgetIsRefused) {
  try {
    Solver solver(ScatteredProblem(3, 1), Budget(std::nan("")));
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "options.time_limit must not be NaN");
  }
}
