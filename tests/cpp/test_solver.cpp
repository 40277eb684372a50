#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "graph/sparse_graph.hpp"
#include "plugins/composite_constraint_checker.hpp"
#include "solver/solver.hpp"

using namespace velmora;

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

// A problem with `n` nodes on a line (node i at x = i, ids 0..n-1), `agents`
// agents of one type starting and ending at node 0, and |i - j| as the cost.
Problem LineProblem(int n, int agents, const std::string& type = "truck") {
  Problem p;
  for (int i = 0; i < n; ++i) {
    Node node;
    node.id = static_cast<uint64_t>(i);
    node.position.x = i;
    p.add_node(node);
  }
  for (int k = 0; k < agents; ++k) {
    Agent a;
    a.id = static_cast<uint64_t>(k);
    a.type = type;
    p.add_agent(a, a.id);
  }
  Matrix m(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(n)));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m[i][j] = std::abs(i - j);
  p.set_cost_matrix(type, m);
  AssignmentConstraint all;
  for (int i = 0; i < n; ++i) all.set_assignment(static_cast<uint64_t>(i), {type});
  p.set_assignment_constraint(all);
  return p;
}

Options MakeOptions(ObjectiveType objective = ObjectiveType::MinMax, double time_limit = 10.0,
                    bool return_to_end = true) {
  Options o;
  o.objective = objective;
  o.time_limit = time_limit;
  o.return_to_end = return_to_end;
  return o;
}

std::string ThrownText(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace

// --- set-up -----------------------------------------------------------------------------------

TEST(SolverSetup, NodeCoordinatesTruncateTowardZeroAndSaturate) {
  Problem p = LineProblem(3, 1);
  p.nodes()[0].position = Position{2.9, -2.9, 0.5};
  p.nodes()[1].position = Position{1e300, -1e300, std::nan("")};
  Solver s(p, MakeOptions());
  EXPECT_EQ(s.nodes()[0].x, 2);
  EXPECT_EQ(s.nodes()[0].y, -2);
  EXPECT_EQ(s.nodes()[0].z, 0);
  EXPECT_EQ(s.nodes()[1].x, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(s.nodes()[1].y, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(s.nodes()[1].z, 0);
}

TEST(SolverSetup, MissingCostsAreFilledWith9999AndTheGraphIsComplete) {
  Problem p = LineProblem(4, 1);
  p.set_cost_matrix("truck", {{0, 5}, {7}});
  Solver s(p, MakeOptions());
  const PlannerGraph& g = *s.graph();
  EXPECT_EQ(g.NumVertex(), 4u);
  EXPECT_EQ(g.NumArc(), 2u * 4u * 3u);
  EXPECT_EQ(g.GetArcCost(0, 1), CostVector{5.0});
  EXPECT_EQ(g.GetArcCost(1, 0), CostVector{7.0});
  EXPECT_EQ(g.GetArcCost(1, 2), CostVector{9999.0});
  EXPECT_EQ(g.GetArcCost(3, 0), CostVector{9999.0});
  EXPECT_FALSE(g.HasArc(2, 2));
}

TEST(SolverSetup, CostVectorsHaveOneComponentPerAgentType) {
  Problem p = LineProblem(3, 1);
  Agent drone;
  drone.id = 1;
  drone.type = "drone";
  p.add_agent(drone, 1);
  p.set_cost_matrix("drone", {{0, 2, 2}, {2, 0, 2}, {2, 2, 0}});
  Solver s(p, MakeOptions());
  EXPECT_EQ(s.graph()->GetArcCost(0, 2), (CostVector{2.0, 2.0}));
  EXPECT_EQ(s.graph()->GetArcCost(2, 1), (CostVector{1.0, 2.0}));
  EXPECT_EQ(s.agents()[1].type, 1);
}

struct CheckerCase {
  double time_limit;
  bool window;
  std::vector<std::string> children;  // empty: the plain default checker
};

class SolverCheckerChoice : public testing::TestWithParam<CheckerCase> {};

TEST_P(SolverCheckerChoice, ChecksOnlyWhatTheProblemNeeds) {
  const CheckerCase& c = GetParam();
  Problem p = LineProblem(3, 2);
  p.agents_ordered()[1].time_limit = c.time_limit;
  if (c.window) {
    TimeWindowConstraint tw;
    tw.set_timewindow(2, 0.0, 100.0);
    p.set_timewindow_constraint(tw);
  }
  Solver s(p, MakeOptions());
  if (c.children.empty()) {
    EXPECT_EQ(s.constraint_checker().GetName(), "DefaultConstraintChecker");
    return;
  }
  ASSERT_EQ(s.constraint_checker().GetName(), "CompositeConstraintChecker");
  const auto& composite = dynamic_cast<const CompositeConstraintChecker&>(s.constraint_checker());
  std::vector<std::string> names;
  for (const auto& child : composite.Children()) names.push_back(child->GetName());
  EXPECT_EQ(names, c.children);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SolverCheckerChoice,
    testing::Values(
        CheckerCase{0.0, false, {}}, CheckerCase{-3.0, false, {}},
        CheckerCase{5.0, false, {"DefaultConstraintChecker", "TimeLimitConstraintChecker"}},
        CheckerCase{0.0, true, {"DefaultConstraintChecker", "TimeConstraintChecker"}},
        CheckerCase{
            5.0, true, {"DefaultConstraintChecker", "TimeConstraintChecker", "TimeLimitConstraintChecker"}}));

TEST(SolverSetup, ObjectiveFollowsTheOptionsArgument) {
  Problem p = LineProblem(3, 1);
  p.options().objective = ObjectiveType::MinMax;
  EXPECT_EQ(Solver(p, MakeOptions(ObjectiveType::MinSum)).objective().GetName(), "MinSumObjective");
  EXPECT_EQ(Solver(p, MakeOptions(ObjectiveType::MinMax)).objective().GetName(), "DefaultObjective");
  EXPECT_EQ(Solver(p, MakeOptions(static_cast<ObjectiveType>(7))).objective().GetName(), "DefaultObjective");
  EXPECT_EQ(Solver(p, MakeOptions()).post_optimizer().GetName(), "CompositePostOptimizer");
}

TEST(SolverSetup, AllowedTypesAndWarnings) {
  Problem p = LineProblem(4, 1);
  Agent drone;
  drone.id = 1;
  drone.type = "drone";
  p.add_agent(drone, 1);
  AssignmentConstraint ac;
  ac.set_assignment(0, {"drone", "truck", "drone"});
  ac.set_assignment(1, {"bike"});
  ac.set_assignment(2, {"drone", "bike"});
  p.set_assignment_constraint(ac);
  TimeWindowConstraint tw;
  tw.set_timewindow(3, 1.0, 2.0);
  tw.set_timewindow(42, 0.0, 1.0);
  p.set_timewindow_constraint(tw);

  testing::internal::CaptureStderr();
  Solver s(p, MakeOptions());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.nodes()[0].types, (std::vector<int64_t>{0, 1}));
  EXPECT_TRUE(s.nodes()[1].types.empty());
  EXPECT_EQ(s.nodes()[2].types, (std::vector<int64_t>{1}));
  EXPECT_EQ(s.nodes()[3].types, (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(err,
            "[warning] node 3 has no assignment constraint; allowing all types\n"
            "[warning] time window node id 42 not found in nodes\n");
  ASSERT_EQ(s.windows().size(), 1u);
  EXPECT_EQ(s.windows().at(3), std::make_pair(1.0, 2.0));
}

TEST(SolverSetup, AgentsAreNumberedByPositionAndUntypedAgentsTakeTheirOwnType) {
  Problem p = LineProblem(3, 0);
  Agent a;
  a.id = 5;
  a.type = "truck";
  p.add_agent(a, 5);
  a.type = "drone";
  a.id = 9;
  p.add_agent(a, 77);  // filed under another id than its own
  a.id = 5;
  a.type = "truck";
  p.add_agent(a, 5);
  p.set_cost_matrix("drone", {});
  Solver s(p, MakeOptions());
  ASSERT_EQ(s.agents().size(), 3u);
  EXPECT_EQ(s.agents()[0].id, 5);
  EXPECT_EQ(s.agents()[1].id, 9);
  EXPECT_EQ(s.agents()[1].type, 1);
  EXPECT_EQ(s.agents()[2].type, 0);
}

TEST(SolverSetup, InvalidInputRaises) {
  {
    Problem p = LineProblem(3, 1);
    p.agents_ordered()[0].end_node = 17;
    EXPECT_EQ(ThrownText([&] { Solver s(p, MakeOptions()); }), "unordered_map::at: key not found");
    EXPECT_THROW(Solver(p, MakeOptions()), std::out_of_range);
  }
  {
    Problem p = LineProblem(3, 1);
    p.set_cost_matrix("bike", {{0}});
    EXPECT_THROW(Solver(p, MakeOptions()), std::out_of_range);
  }
  {
    Problem p = LineProblem(3, 1);
    p.set_cost_matrix("truck", {{0, 1, 2}, {1, 0, 1}, {2, 1, 0}, {3, 2, 1}});
    EXPECT_EQ(ThrownText([&] { Solver s(p, MakeOptions()); }),
              "cost matrix of agent type 'truck' has 4 rows but the problem has 3 nodes");
  }
  {
    Problem p = LineProblem(3, 1);
    p.set_cost_matrix("truck", {{0, 1, 2}, {1, 0, 1, 5}});
    EXPECT_EQ(ThrownText([&] { Solver s(p, MakeOptions()); }),
              "row 1 of the cost matrix of agent type 'truck' has 4 columns but the problem has 3 nodes");
  }
  {
    Problem p = LineProblem(3, 1);
    p.set_cost_matrix("truck", {{0, std::nan("")}});
    EXPECT_THROW(Solver(p, MakeOptions()), std::invalid_argument);
  }
}

TEST(SolverSetup, AtMost256Nodes) {
  EXPECT_NO_THROW(Solver(LineProblem(256, 1), MakeOptions()));
  EXPECT_EQ(ThrownText([] { Solver s(LineProblem(257, 1), MakeOptions()); }),
            "the problem has 257 nodes; the solver handles at most 256 (up to 2000 with improve on)");
}

// --- time-window edges and reachability ----------------------------------------------------------

TEST(SolverEdges, WithoutWindowsAPairWeighsItsCheapestArcOverTypesAndDirections) {
  Problem p = LineProblem(3, 1);
  Agent drone;
  drone.id = 1;
  drone.type = "drone";
  p.add_agent(drone, 1);
  p.set_cost_matrix("truck", {{0, 8, 9}, {6, 0, 9999}, {9, 9999, 0}});
  p.set_cost_matrix("drone", {{0, 7, 3}, {9, 0, 12000}, {4, 9999, 0}});
  testing::internal::CaptureStdout();
  Solver s(p, MakeOptions());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
  ASSERT_EQ(s.edges().size(), 2u);
  EXPECT_EQ(s.edges()[0].u, 2u);
  EXPECT_EQ(s.edges()[0].v, 0u);
  EXPECT_EQ(s.edges()[0].weight, 3.0);
  EXPECT_EQ(s.edges()[1].u, 1u);
  EXPECT_EQ(s.edges()[1].v, 0u);
  EXPECT_EQ(s.edges()[1].weight, 6.0);
}

TEST(SolverEdges, WindowsAddWaitingAndBlockLatePairs) {
  // a = node 1 with window (0, 5), b = node 2 with window (10, 20), travel 3:
  // 3 + (10 - (5 + 3)) = 5. Node 3 with window (0, 2) cannot be reached from
  // node 4 whose window opens at 5, and the way back costs 9999.
  Problem p = LineProblem(5, 1);
  Matrix m(5, std::vector<double>(5, 50.0));
  m[1][2] = m[2][1] = 3.0;
  m[4][3] = 1.0;
  m[3][4] = 9999.0;
  p.set_cost_matrix("truck", m);
  TimeWindowConstraint tw;
  tw.set_timewindow(1, 0, 5);
  tw.set_timewindow(2, 10, 20);
  tw.set_timewindow(3, 0, 2);
  tw.set_timewindow(4, 5, 9);
  p.set_timewindow_constraint(tw);
  setenv("MTSP_DEBUG_TW_EDGES", "", 1);
  testing::internal::CaptureStdout();
  Solver s(p, MakeOptions());
  const std::string out = testing::internal::GetCapturedStdout();
  unsetenv("MTSP_DEBUG_TW_EDGES");
  double w12 = -1, w34 = -1;
  for (const WeightedPair& e : s.edges()) {
    EXPECT_GT(e.u, e.v);
    if (e.u == 2 && e.v == 1) w12 = e.weight;
    if (e.u == 4 && e.v == 3) w34 = e.weight;
  }
  EXPECT_EQ(w12, 5.0);  // 2 -> 1 leaves too late for node 1; 1 -> 2 waits 2
  EXPECT_EQ(w34, -1);   // blocked
  EXPECT_NE(out.find("edge: 4->3 cost: 1.79769e+308\n"), std::string::npos) << out;
  EXPECT_NE(out.find("[TW-MST] blocked edges: "), std::string::npos);
  for (size_t k = 1; k < s.edges().size(); ++k) EXPECT_LE(s.edges()[k - 1].weight, s.edges()[k].weight);
}

TEST(SolverEdges, WaitingIsChargedWhenItRemainsAfterLeavingLate) {
  Problem p = LineProblem(3, 1);
  Matrix m(3, std::vector<double>(3, 9999.0));
  m[1][2] = 3.0;
  m[0][1] = m[1][0] = m[0][2] = m[2][0] = 1.0;
  p.set_cost_matrix("truck", m);
  TimeWindowConstraint tw;
  tw.set_timewindow(1, 0, 5);
  tw.set_timewindow(2, 10, 20);
  p.set_timewindow_constraint(tw);
  Solver s(p, MakeOptions());
  bool seen = false;
  for (const WeightedPair& e : s.edges()) {
    if (e.u == 2 && e.v == 1) {
      EXPECT_EQ(e.weight, 5.0);
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

TEST(SolverReachability, DepotsWithoutUsableArcsAreReported) {
  Problem p = LineProblem(3, 1);
  p.set_cost_matrix("truck", {{0, 9999, 9999}, {1, 0, 1}, {1, 1, 0}});
  testing::internal::CaptureStderr();
  Solver s(p, MakeOptions());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "point: 0 can't be reached\n");
  EXPECT_EQ(s.unreachable(), std::vector<uint64_t>{0});

  testing::internal::CaptureStderr();
  Solver single(LineProblem(1, 1), MakeOptions());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(single.unreachable().empty());
}

// --- arena and state helpers ----------------------------------------------------------------------

TEST(SolverArena, GrowsInDoublingStepsUpTo4096) {
  Solver s(LineProblem(2, 1), MakeOptions());
  std::vector<uint64_t> capacities;
  for (uint64_t i = 0; i < 11264; ++i) {
    EXPECT_EQ(s.NewStateId(), i);
    if (capacities.empty() || capacities.back() != s.state_capacity()) capacities.push_back(s.state_capacity());
  }
  EXPECT_EQ(capacities, (std::vector<uint64_t>{1024, 3072, 7168, 11264}));
  s.NewStateId();
  EXPECT_EQ(s.state_capacity(), 15360u);
}

TEST(SolverState, GoalAndVisitedCount) {
  Solver s(LineProblem(3, 1), MakeOptions());
  SearchState st;
  st.n_nodes = 3;
  st.agents_left = 0;
  st.visited.set(0);
  st.visited.set(2);
  st.visited.set(200);
  EXPECT_EQ(s.CountVisited(st), 2);
  EXPECT_FALSE(s.IsGoal(st));
  st.visited.set(1);
  EXPECT_TRUE(s.IsGoal(st));
  st.agents_left = 1;
  EXPECT_FALSE(s.IsGoal(st));
  st.n_nodes = 0;
  st.agents_left = 0;
  EXPECT_EQ(s.CountVisited(st), 0);
  EXPECT_TRUE(s.IsGoal(st));
  st.costs = {1.5, 2.5};
  EXPECT_EQ(s.TotalCost(st), 1.5);  // one agent in this solver
}

// --- search -----------------------------------------------------------------------------------------

TEST(SolverSearch, SingleAgentOnALineFindsTheOptimalTour) {
  Solver s(LineProblem(5, 1), MakeOptions());
  ASSERT_EQ(s.solve(), 1);
  const Result r = s.get_result();
  EXPECT_FALSE(r.timeout);
  ASSERT_EQ(r.paths.size(), 1u);
  EXPECT_EQ(r.paths.at(0).front(), 0);
  EXPECT_EQ(r.paths.at(0).back(), 0);
  EXPECT_EQ(r.paths.at(0).size(), 6u);
  EXPECT_DOUBLE_EQ(r.times.at(0), 8.0);
  EXPECT_EQ(r.end_marker, -1);
  const auto log = s.get_result_process();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.size() % 2, 0u);
  EXPECT_DOUBLE_EQ(r.last_update_time, log.back().time);
  const SearchStatistics st = s.GetStatistics();
  EXPECT_EQ(st.found, 1);
  EXPECT_EQ(st.node_count, 5);
  EXPECT_EQ(st.agent_count, 1);
  EXPECT_EQ(st.type0_agents, 1);
  EXPECT_EQ(st.type1_agents, 0);
  EXPECT_EQ(st.nodes_type0, 5);
  EXPECT_DOUBLE_EQ(st.sum_cost, 8.0);
  EXPECT_DOUBLE_EQ(st.max_cost, 8.0);
  EXPECT_DOUBLE_EQ(s.incumbent(), 8.0);  // the longest route bounds the rest of the search
  ASSERT_GE(s.weights().size(), 2u);
  EXPECT_EQ(s.weights()[0], 100.0);
}

TEST(SolverSearch, StatisticsBeforeAnySolution) {
  Solver s(LineProblem(3, 1), MakeOptions());
  const SearchStatistics st = s.GetStatistics();
  EXPECT_EQ(st.found, 0);
  EXPECT_EQ(st.node_count, -1);
  EXPECT_EQ(st.max_cost, -1.0);
  EXPECT_EQ(st.cost_ratio, -1.0);
}

TEST(SolverSearch, NegativeBudgetTimesOutWithoutSolution) {
  Solver s(LineProblem(4, 1), MakeOptions(ObjectiveType::MinMax, -1.0));
  EXPECT_EQ(s.solve(), 0);
  const Result r = s.get_result();
  EXPECT_TRUE(r.timeout);
  EXPECT_TRUE(r.paths.empty());
  EXPECT_EQ(r.n_generated, 1);
  EXPECT_TRUE(s.get_result_process().empty());
}

TEST(SolverSearch, TwoAgentsSplitTheLineUnderMinMax) {
  Problem p = LineProblem(7, 2);
  // Nodes on both sides of the depot: 0 at x=0, others at +-1, +-2, +-3.
  Matrix m(7, std::vector<double>(7));
  const double x[] = {0, 1, 2, 3, -1, -2, -3};
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < 7; ++j) m[i][j] = std::abs(x[i] - x[j]);
  p.set_cost_matrix("truck", m);
  Solver s(p, MakeOptions(ObjectiveType::MinMax, 20.0));
  ASSERT_EQ(s.solve(), 1);
  const Result r = s.get_result();
  EXPECT_DOUBLE_EQ(r.times.at(0), 6.0);
  EXPECT_DOUBLE_EQ(r.times.at(1), 6.0);
}

TEST(SolverSearch, DistinctStartAndEndDepots) {
  for (bool return_to_end : {true, false}) {
    Problem p = LineProblem(6, 2);
    p.agents_ordered()[0].start_node = 0;
    p.agents_ordered()[0].end_node = 5;
    p.agents_ordered()[1].start_node = 0;
    p.agents_ordered()[1].end_node = 5;
    Solver s(p, MakeOptions(ObjectiveType::MinMax, 20.0, return_to_end));
    ASSERT_EQ(s.solve(), 1) << return_to_end;
    const Result r = s.get_result();
    std::set<int64_t> seen;
    for (int k = 0; k < 2; ++k) {
      const auto& path = r.paths.at(k);
      EXPECT_EQ(path.front(), 0);
      if (return_to_end) EXPECT_EQ(path.back(), 5);
      seen.insert(path.begin(), path.end());
    }
    // Without return-to-end the shared end node needs no visit.
    EXPECT_EQ(seen.size(), return_to_end ? 6u : 5u) << return_to_end;
  }
}

TEST(SolverSearch, SecondSolveSearchesAfresh) {
  Solver s(LineProblem(6, 2), MakeOptions());
  ASSERT_EQ(s.solve(), 1);
  const Result first = s.get_result();
  const size_t log = s.get_result_process().size();
  ASSERT_EQ(s.solve(), 1);
  const Result second = s.get_result();
  EXPECT_EQ(first.paths, second.paths);
  EXPECT_EQ(first.times, second.times);
  EXPECT_EQ(first.n_generated, second.n_generated);
  EXPECT_EQ(first.n_expanded, second.n_expanded);
  EXPECT_EQ(log, s.get_result_process().size());
}

TEST(SolverSearch, WeightDropsToOneWithoutIncumbent) {
  // No agent may serve node 2: the first iteration ends without a goal.
  Problem p = LineProblem(3, 1);
  AssignmentConstraint ac;
  ac.set_assignment(0, {"truck"});
  ac.set_assignment(1, {"truck"});
  ac.set_assignment(2, {});
  p.set_assignment_constraint(ac);
  Solver s(p, MakeOptions());
  testing::internal::CaptureStdout();
  EXPECT_EQ(s.solve(), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(s.get_result().timeout);
  EXPECT_EQ(s.weights().front(), 100.0);
}

TEST(SolverSearch, PathDumpOnlyWithAnInstanceName) {
  const auto dir = std::filesystem::temp_directory_path() / "kvt_solver_dump_test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);

  Solver plain(LineProblem(3, 1), MakeOptions());
  ASSERT_EQ(plain.solve(), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "paths"));

  Solver named(LineProblem(3, 1), MakeOptions());
  named.set_instance_name("line");
  testing::internal::CaptureStdout();
  ASSERT_EQ(named.solve(), 1);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Saved to paths/paths_astar/line_astar.json\n"), std::string::npos);
  std::ifstream in(dir / "paths/paths_astar/line_astar.json");
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::current_path(cwd);
  const auto doc = nlohmann::json::parse(text.str());
  const Result r = named.get_result();
  std::vector<int64_t> without_last(r.paths.at(0).begin(), r.paths.at(0).end() - 1);
  EXPECT_EQ(doc.at("num_agents"), 1);
  EXPECT_EQ(doc.at("starts"), nlohmann::json::array({0}));
  EXPECT_EQ(doc.at("goals"), nlohmann::json::array({0}));
  EXPECT_EQ(doc.at("paths").at("0"), nlohmann::json(without_last));
  EXPECT_EQ(doc.at("total_costs"), nlohmann::json::array({r.times.at(0)}));
  EXPECT_EQ(text.str().substr(0, 20), "{\n  \"goals\": [\n    0");
  std::filesystem::remove_all(dir);
}

TEST(SolverSetNodes, RefusesTypeListsOtherThanZeroOrZeroOne) {
  Solver s(LineProblem(2, 1), MakeOptions());
  SolverNode good;
  good.types = {0, 1};
  SolverNode bad;
  bad.types = {1};
  EXPECT_NO_THROW(s.SetNodes({good}));
  const std::string text = ThrownText([&] { s.SetNodes({good, bad}); });
  EXPECT_NE(text.find("Wrong Point type"), std::string::npos);
}

TEST(SolverSolveOn, SolvesACallerGraphWithoutReturnToEnd) {
  SparseGraph g;
  g.ChangeCostDim(1, 9999.0);
  for (uint64_t i = 0; i < 4; ++i)
    for (uint64_t j = 0; j < 4; ++j)
      if (i != j) g.AddArc(i, j, {static_cast<double>(i > j ? i - j : j - i)});
  std::vector<SolverNode> nodes(4);
  for (auto& n : nodes) n.types = {0};
  std::vector<SolverAgent> agents(1);
  Solver s(LineProblem(2, 1), MakeOptions());
  EXPECT_EQ(s.SolveOn(&g, nodes, agents, {0}, {0}, "", 5.0), 1);
  const Result r = s.get_result();
  // Without return-to-end the closing move back to the start is free.
  EXPECT_DOUBLE_EQ(r.times.at(0), 3.0);
}

TEST(SolverMemory, RunningOutOfStorageEndsTheSearchLikeATimeout) {
  // Forty random points and three agents keep the search busy well past a few
  // megabytes; the first solution comes long before that.
  Problem p = LineProblem(40, 3);
  Matrix m(40, std::vector<double>(40));
  uint64_t seed = 12345;
  std::vector<std::pair<double, double>> pts;
  for (int i = 0; i < 40; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    const double x = static_cast<double>(seed >> 40) / 16777216.0 * 100.0;
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    pts.emplace_back(x, static_cast<double>(seed >> 40) / 16777216.0 * 100.0);
  }
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 40; ++j) m[i][j] = std::hypot(pts[i].first - pts[j].first, pts[i].second - pts[j].second);
  p.set_cost_matrix("truck", m);
  Solver s(p, MakeOptions(ObjectiveType::MinMax, 600.0));
  s.set_memory_limit(size_t{8} << 20);
  EXPECT_EQ(s.solve(), 1);
  const Result r = s.get_result();
  EXPECT_TRUE(r.timeout);
  EXPECT_EQ(r.paths.size(), 3u);
  EXPECT_GT(s.SearchBytes(), size_t{8} << 20);
  EXPECT_LT(s.SearchBytes(), size_t{16} << 20);

  Solver tiny(LineProblem(5, 1), MakeOptions());
  tiny.set_memory_limit(1);
  EXPECT_EQ(tiny.solve(), 0);
  EXPECT_TRUE(tiny.get_result().timeout);
  EXPECT_GT(Solver::DefaultMemoryLimit(), size_t{0});
}
