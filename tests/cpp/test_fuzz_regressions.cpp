// Regression cases for the inputs the fuzz targets (fuzz/) found; the inputs
// themselves are kept in fuzz/corpus/<target>/crashes/.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "app/solve_report.hpp"
#include "graph/sparse_graph.hpp"
#include "io/instance_reader.hpp"
#include "model/problem.hpp"
#include "plugins/time_window_constraint_checker.hpp"
#include "postopt/route_evaluator.hpp"
#include "postopt/route_merging_post_optimizer.hpp"
#include "solver/solver.hpp"
#include "solver/state_arena.hpp"

using namespace velmora;

namespace {

Problem Read(const std::string& text) {
  Problem problem;
  ReadInstance(ParseInstanceText(text), problem);
  return problem;
}

// Every route of the solver's final result must be valid for its agent and
// carry the cost it evaluates to.
void ExpectConsistentResult(Solver& solver, bool return_to_end) {
  RouteEvaluator evaluator;
  evaluator.SetReturnToEnd(return_to_end);
  evaluator.SetAgentStarts(solver.starts());
  evaluator.SetAgentEnds(solver.ends());
  evaluator.SetTimeWindows(solver.windows());
  const Result result = solver.get_result();
  for (const auto& [agent, path] : result.paths) {
    const RouteCost rc = evaluator.EvaluateRoute(solver.graph(), solver.nodes(), solver.agents(), path,
                                                 static_cast<uint64_t>(agent));
    EXPECT_TRUE(rc.valid) << "agent " << agent;
    ASSERT_EQ(result.times.count(agent), 1u);
    EXPECT_DOUBLE_EQ(rc.cost, result.times.at(agent)) << "agent " << agent;
  }
}

}  // namespace

// fuzz_solve crash-b833e6fd: {"nodes":[],"agents":[]} passed a null pointer to
// memcpy when the arena stored and loaded states of zero agents.
TEST(FuzzRegression, ArenaWithoutAgentsStoresAndLoadsStates) {
  StateArena arena;
  arena.Reset(0, 0);
  SearchState in;
  in.g = 2.5;
  in.f = 3.5;
  in.agents_left = 0;
  EXPECT_EQ(arena.Append(in, -1), 0u);
  SearchState out;
  out.costs = {1.0, 2.0};
  out.positions = {3};
  arena.Load(0, out);
  EXPECT_TRUE(out.costs.empty());
  EXPECT_TRUE(out.positions.empty());
  EXPECT_TRUE(out.done.empty());
  EXPECT_EQ(out.g, 2.5);
  EXPECT_EQ(out.f, 3.5);
  EXPECT_EQ(arena.Parent(0), -1);
}

TEST(FuzzRegression, EmptyInstanceSolvesToAnEmptyReport) {
  Problem problem = Read(R"({"nodes":[],"agents":[]})");
  problem.options().time_limit = 0.05;
  Solver solver(problem, problem.options());
  solver.solve();
  const Result result = solver.get_result();
  EXPECT_TRUE(result.paths.empty());
  EXPECT_TRUE(result.times.empty());
  const SolveReport report = BuildSolveReport(problem, solver, 0.0);
  EXPECT_FALSE(report.success);
  EXPECT_TRUE(report.routes.empty());
  EXPECT_EQ(report.max_cost, 0.0);
}

// fuzz_solve crash-a6c27424: agent 1 starts at node 0, which is agent 0's end
// node. The route evaluation took the agent's own start for "another agent's
// end node", so the post-optimizers rejected the route the search had found and
// wrote cost 0 for it.
struct SharedDepotCase {
  bool return_to_end;
  Route route;
  uint64_t agent;
  bool valid;
  double cost;
};

class SharedDepotEvaluation : public ::testing::TestWithParam<SharedDepotCase> {};

TEST_P(SharedDepotEvaluation, OwnDepotsAreExemptFromTheForeignDepotRule) {
  const SharedDepotCase& c = GetParam();
  // Line 0-1-2-3-4-5, cost |i - j|. Agent 0: 0 -> 0, agent 1: 0 -> 4, agent 2: 4 -> 5.
  SparseGraph graph;
  graph.ChangeCostDim(1, 9999.0);
  graph.AddVertex(5);
  for (uint64_t i = 0; i < 6; ++i) {
    for (uint64_t j = 0; j < 6; ++j) {
      if (i != j) graph.AddArc(i, j, {static_cast<double>(i > j ? i - j : j - i)});
    }
  }
  std::vector<SolverNode> nodes(6);
  for (auto& n : nodes) n.types = {0};
  const std::vector<SolverAgent> agents(3);
  RouteEvaluator evaluator;
  evaluator.SetReturnToEnd(c.return_to_end);
  evaluator.SetAgentStarts({0, 0, 4});
  evaluator.SetAgentEnds({0, 4, 5});
  const RouteCost rc = evaluator.EvaluateRoute(&graph, nodes, agents, c.route, c.agent);
  EXPECT_EQ(rc.valid, c.valid);
  if (c.valid) EXPECT_DOUBLE_EQ(rc.cost, c.cost);
}

INSTANTIATE_TEST_SUITE_P(
    All, SharedDepotEvaluation,
    ::testing::Values(SharedDepotCase{true, {0, 1, 2, 3, 4}, 1, true, 4.0},   // starts at agent 0's end
                      SharedDepotCase{false, {0, 1, 2, 3, 4}, 1, true, 3.0},  // leg into the own end is free
                      SharedDepotCase{true, {4, 5}, 2, true, 1.0},            // starts at agent 1's end
                      SharedDepotCase{true, {0, 3, 4}, 1, true, 4.0},         // ends at agent 2's start
                      SharedDepotCase{true, {0, 4, 2, 0}, 0, false, 0},       // 4 is foreign to agent 0
                      SharedDepotCase{true, {0, 5, 4}, 1, false, 0},          // 5 is agent 2's end
                      SharedDepotCase{true, {0, 0, 1, 4}, 1, false, 0}));     // own start in the interior

TEST(FuzzRegression, SharedDepotInstanceReportsTheCostOfEveryRoute) {
  Problem problem = Read(
      R"({"nodes":[{"id":0,"x":0,"y":0,"type":"depot"},{"id":1,"x":1,"y":0},{"id":2,"x":2,"y":0},)"
      R"({"id":3,"x":3,"y":0},{"id":4,"x":4,"y":0}],)"
      R"("agents":[{"id":0,"type":"a","start_node":0,"end_node":0},{"id":1,"type":"b","start_node":0,"end_node":4}],)"
      R"("costs":{"a":[[0,1,2,3,4],[1,0,1,2,3],[2,1,0,1,2],[3,2,1,0,1],[4,3,2,1,0]],)"
      R"("b":[[0,2,4,6,8],[2,0,2,4,6],[4,2,0,2,4],[6,4,2,0,2],[8,6,4,2,0]]},)"
      R"("options":{"objective":"min_max","time_limit":0.2}})");
  Solver solver(problem, problem.options());
  testing::internal::CaptureStderr();
  ASSERT_EQ(solver.solve(), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("[post-opt] invalid path"), std::string::npos) << err;
  ExpectConsistentResult(solver, true);
  const Result result = solver.get_result();
  ASSERT_EQ(result.paths.count(1), 1u);
  const Route& route = result.paths.at(1);
  ASSERT_GE(route.size(), 2u);
  EXPECT_EQ(route.front(), 0);
  EXPECT_EQ(route.back(), 4);
  EXPECT_GE(result.times.at(1), 8.0);  // agent 1 travels from 0 to 4 at cost 2 per unit
}

// fuzz_solve crash-6d8d9408: the route-merging post-optimizer moved some
// interior nodes of a cheap route away; the node left behind now followed a
// start leg far over the agent's time limit, so the route it left was invalid
// (and was written back with cost 0). A candidate that would leave its own
// route invalid is now undone as a whole.
//
// Agent 1 (limit 10) = [0, 1, 2, 0], cost 3; [0, 2, 0] costs 101. Agent 0 =
// [0, 3, 0], cost 10. Agent 2 (type 1, which nodes 1-3 refuse) = [0, 4, 0],
// cost 20, the longest. Nodes 1 and 2 each fit into agent 0's route under 20,
// but not both: once 1 has moved, 2 stays behind.
TEST(FuzzRegression, MergingNeverLeavesTheEmptiedRouteInvalid) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 50.0);
  graph.AddVertex(4);
  for (uint64_t i = 0; i < 5; ++i) {
    for (uint64_t j = 0; j < 5; ++j) {
      if (i != j) graph.AddArc(i, j, {50.0, 50.0});
    }
  }
  const double d[][3] = {{0, 1, 1},  {1, 2, 1},  {2, 0, 1},  {0, 2, 100}, {0, 3, 5},  {3, 0, 5}, {1, 3, 9},
                         {3, 2, 10}, {2, 3, 50}, {3, 1, 50}, {1, 0, 9},   {0, 4, 10}, {4, 0, 10}};
  for (const auto& arc : d) {
    const auto u = static_cast<uint64_t>(arc[0]);
    const auto v = static_cast<uint64_t>(arc[1]);
    graph.SetArcCost(u, v, {arc[2], arc[2]});
  }
  std::vector<SolverNode> nodes(5);
  nodes[0].types = {0, 1};
  nodes[1].types = {0};
  nodes[2].types = {0};
  nodes[3].types = {0};
  nodes[4].types = {1};
  std::vector<SolverAgent> agents(3);
  agents[1].time_limit = 10.0;
  agents[2].type = 1;

  RouteMergingPostOptimizer merging;
  merging.SetReturnToEnd(true);
  merging.SetAgentStarts({0, 0, 0});
  merging.SetAgentEnds({0, 0, 0});
  merging.SetTimeWindows({});
  Result result;
  result.paths = {{0, {0, 3, 0}}, {1, {0, 1, 2, 0}}, {2, {0, 4, 0}}};
  result.times = {{0, 10.0}, {1, 3.0}, {2, 20.0}};
  merging.Optimize(&graph, nodes, agents, result);

  EXPECT_EQ(result.paths, (std::map<int64_t, Route>{{0, {0, 3, 0}}, {1, {0, 1, 2, 0}}, {2, {0, 4, 0}}}));
  EXPECT_EQ(result.times, (std::map<int64_t, double>{{0, 10.0}, {1, 3.0}, {2, 20.0}}));
}

// fuzz_solve crash-1651992e: agent 0 starts at node 5, whose window opens at 80.
// The route evaluation waits at the start until the window opens; the search
// left the start at time 0, so its routes were later rejected by the
// post-optimizers and reported with cost 0. The search now times the first
// move from a start node with a window the same way.
struct StartWindowCase {
  std::pair<double, double> start_window;
  uint64_t from;  // the agent's current node
  double cost;    // its cost in the state, travel to node 2 included
  bool ok;
  double arrival;  // at node 2, when ok
};

class StartWindowDeparture : public ::testing::TestWithParam<StartWindowCase> {};

TEST_P(StartWindowDeparture, FirstMoveLeavesWhenTheStartWindowOpens) {
  const StartWindowCase& c = GetParam();
  // Nodes 0 (start and end), 1, 2 on a line with unit legs; only node 0 has a window.
  SparseGraph graph;
  graph.ChangeCostDim(1, 9999.0);
  graph.AddVertex(2);
  for (uint64_t i = 0; i < 3; ++i) {
    for (uint64_t j = 0; j < 3; ++j) {
      if (i != j) graph.AddArc(i, j, {static_cast<double>(i > j ? i - j : j - i)});
    }
  }
  std::vector<SolverNode> nodes(3);
  for (auto& n : nodes) n.types = {0};
  TimeWindowConstraintChecker checker;
  checker.Init(&graph, nodes, std::vector<SolverAgent>(1));
  checker.SetAgentEnds({0});
  checker.SetTimeWindows({{0, c.start_window}});
  checker.SetAgentStarts({0});
  checker.SetReturnToEnd(true);

  SearchState state;
  state.positions = {c.from};
  state.costs = {c.cost};
  state.done = {0};
  state.n_nodes = 3;
  state.visited.set(0);
  state.visited.set(1);
  state.visited.set(2);
  const CheckResult r = checker.CheckExtension(state, 0, 2);
  EXPECT_EQ(r.ok, c.ok);
  if (c.ok) {
    const double arrival = r.has_value ? r.value : c.cost;
    EXPECT_DOUBLE_EQ(arrival, c.arrival);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, StartWindowDeparture,
    ::testing::Values(StartWindowCase{{80.0, 160.0}, 0, 2.0, true, 82.0},   // waits at the start
                      StartWindowCase{{0.0, 160.0}, 0, 2.0, true, 2.0},     // open from the beginning
                      StartWindowCase{{-9.0, -1.0}, 0, 2.0, false, 0.0},    // closed before the start
                      StartWindowCase{{80.0, 160.0}, 1, 50.0, true, 50.0},  // later moves are not shifted
                      StartWindowCase{{80.0, 160.0}, 1, 200.0, true, 200.0}));

TEST(FuzzRegression, RoutesFromAStartWithAWindowAreValidAndCostTheWait) {
  Problem problem =
      Read(R"({"nodes":[{"id":0,"x":0,"y":0,"type":"depot"},{"id":1,"x":1,"y":0},{"id":2,"x":2,"y":0},)"
           R"({"id":3,"x":3,"y":0}],)"
           R"("agents":[{"id":0,"type":"van","start_node":0,"end_node":0}],)"
           R"("costs":{"van":[[0,1,2,3],[1,0,1,2],[2,1,0,1],[3,2,1,0]]},)"
           R"("constraints":[{"kind":"timewindow","items":[{"node":0,"start":10,"end":100},)"
           R"({"node":2,"start":0,"end":13}]}],)"
           R"("options":{"objective":"min_max","time_limit":0.2}})");
  Solver solver(problem, problem.options());
  testing::internal::CaptureStderr();
  ASSERT_EQ(solver.solve(), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("[post-opt] invalid path"), std::string::npos) << err;
  ExpectConsistentResult(solver, true);
  // Leaving at 10, node 2 (closing at 13) must come first: 0-2-1-3-0 or 0-2-3-1-0 cost 10 + 6.
  EXPECT_DOUBLE_EQ(solver.get_result().times.at(0), 16.0);
}

// fuzz_solve crash-9da35073: the drone starts at node 1, which only trucks may
// serve. The search starts every agent at its start node; the route evaluation
// refused the route because of the start's assignment and the drone's route
// was reported with cost 0. An agent's own start and end are exempt from the
// type assignment now; every other node still needs the agent's type.
TEST(FuzzRegression, OwnDepotsNeedNoTypeAssignment) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 9999.0);
  graph.AddVertex(3);
  for (uint64_t i = 0; i < 4; ++i) {
    for (uint64_t j = 0; j < 4; ++j) {
      if (i != j) graph.AddArc(i, j, {1.0, 2.0});
    }
  }
  std::vector<SolverNode> nodes(4);
  nodes[0].types = {0};     // agent 1 (type 1) starts here
  nodes[1].types = {0, 1};
  nodes[2].types = {0};     // agent 1 ends here
  nodes[3].types = {0};
  std::vector<SolverAgent> agents(2);
  agents[1].type = 1;
  RouteEvaluator evaluator;
  evaluator.SetReturnToEnd(true);
  evaluator.SetAgentStarts({0, 0});
  evaluator.SetAgentEnds({0, 2});
  const RouteCost own = evaluator.EvaluateRoute(&graph, nodes, agents, Route{0, 1, 2}, 1);
  EXPECT_TRUE(own.valid);
  EXPECT_DOUBLE_EQ(own.cost, 4.0);
  EXPECT_FALSE(evaluator.EvaluateRoute(&graph, nodes, agents, Route{0, 3, 2}, 1).valid);  // 3 is trucks only
  EXPECT_TRUE(evaluator.EvaluateRoute(&graph, nodes, agents, Route{0, 3, 1, 0}, 0).valid);
}
