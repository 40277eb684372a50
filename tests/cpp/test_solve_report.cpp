// The JSON solve's seam: the hooks run the search and destroy the solver, each
// once and in that order.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/solve_report.hpp"

using namespace velmora;

namespace {

const char* const kInstance = R"({
  "nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 3, "y": 4}],
  "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
  "costs": {"t": [[0, 5], [5, 0]]},
  "constraints": [{"kind": "assignment", "items": [{"node": 0, "types": ["t"]}, {"node": 1, "types": ["t"]}]}],
  "options": {"time_limit": 5}
})";

TEST(SolveHooks, SetupSearchAndDestructionRunInOrderThroughTheirHooks) {
  std::vector<std::string> steps;
  // The solver keeps a copy of the sink: one more owner of `token` while it lives.
  auto token = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = token;
  SolveHooks hooks;
  hooks.sink = [token](DiagnosticStream, const std::string&) {};
  token.reset();
  hooks.setup = [&](Solver& solver, const Problem& problem) {
    steps.push_back("setup " + std::to_string(problem.nodes().size()));
    EXPECT_TRUE(solver.get_result_process().empty());
  };
  hooks.run_search = [&](const std::function<void()>& search) {
    steps.push_back("search");
    search();
    EXPECT_EQ(watch.use_count(), 2);
  };
  hooks.destroy_solver = [&](const std::function<void()>& destroy) {
    steps.push_back("destroy");
    EXPECT_EQ(watch.use_count(), 2);
    destroy();
    EXPECT_EQ(watch.use_count(), 1);  // only the hooks' own sink is left
  };
  const SolveReport report = SolveInstanceText(kInstance, 2.0, hooks);
  EXPECT_EQ(steps, (std::vector<std::string>{"setup 2", "search", "destroy"}));
  EXPECT_TRUE(report.success);
  ASSERT_EQ(report.routes.size(), 1u);
  EXPECT_EQ(report.routes[0].path, (std::vector<uint64_t>{0, 1, 0}));
  EXPECT_DOUBLE_EQ(report.max_cost, 10.0);
}

TEST(SolveHooks, WithoutHooksEveryStepRunsOnTheCallingThread) {
  const SolveReport report = SolveInstanceText(kInstance, 2.0);
  EXPECT_TRUE(report.success);
  EXPECT_DOUBLE_EQ(report.sum_cost, 10.0);
}

// A search that fails leaves the solver to the unwinding: the destroy hook is
// not called.
TEST(SolveHooks, AFailedSearchSkipsTheDestroyHook) {
  bool destroyed = false;
  SolveHooks hooks;
  hooks.run_search = [](const std::function<void()>&) { throw std::runtime_error("stopped"); };
  hooks.destroy_solver = [&destroyed](const std::function<void()>& destroy) {
    destroyed = true;
    destroy();
  };
  EXPECT_THROW(SolveInstanceText(kInstance, 2.0, hooks), std::runtime_error);
  EXPECT_FALSE(destroyed);
}

}  // namespace
