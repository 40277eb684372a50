// The solver's routing context: built from its own dense tables, it must read
// exactly like a context read back from its graph; its console lines go to the
// sink it was given.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/routing_context.hpp"
#include "graph/graph_tables.hpp"
#include "solver/solver.hpp"

using namespace velmora;

namespace {

// Random instance: two agent types, some missing matrix cells, some nodes
// without an assignment, windows and limits.
Problem RandomProblem(std::mt19937_64& rng, int n, int agents) {
  std::bernoulli_distribution sometimes(0.2);
  std::uniform_real_distribution<double> cost(1.0, 30.0);
  Problem p;
  for (int i = 0; i < n; ++i) {
    Node node;
    node.id = static_cast<uint64_t>(10 + i);
    p.add_node(node);
  }
  const std::vector<std::string> types = {"truck", "drone"};
  for (int k = 0; k < agents; ++k) {
    Agent a;
    a.id = static_cast<uint64_t>(k);
    a.type = types[static_cast<size_t>(k % 2)];
    a.start_node = 10 + static_cast<uint64_t>(std::uniform_int_distribution<int>(0, n - 1)(rng));
    a.end_node = sometimes(rng) ? a.start_node
                                : 10 + static_cast<uint64_t>(std::uniform_int_distribution<int>(0, n - 1)(rng));
    a.time_limit = sometimes(rng) ? 80.0 : 0.0;
    p.add_agent(a, a.id);
  }
  for (const std::string& type : types) {
    Matrix m(static_cast<size_t>(n - 1), std::vector<double>(static_cast<size_t>(n)));  // the last row is missing
    for (auto& row : m)
      for (double& c : row) c = std::round(cost(rng));
    p.set_cost_matrix(type, m);
  }
  AssignmentConstraint assignment;
  for (int i = 0; i < n; ++i) {
    if (sometimes(rng)) continue;
    assignment.set_assignment(static_cast<uint64_t>(10 + i), i % 3 == 0
                                                                 ? std::vector<std::string>{"truck"}
                                                                 : std::vector<std::string>{"truck", "drone"});
  }
  p.set_assignment_constraint(assignment);
  TimeWindowConstraint windows;
  for (int i = 0; i < n; ++i) {
    if (sometimes(rng)) windows.set_timewindow(static_cast<uint64_t>(10 + i), 5.0 * i, 5.0 * i + 40.0);
  }
  p.set_timewindow_constraint(windows);
  return p;
}

bool SameCost(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

class SolverContext : public testing::TestWithParam<std::pair<uint64_t, bool>> {};

TEST_P(SolverContext, OwnTablesReadLikeTheGraph) {
  std::mt19937_64 rng(GetParam().first);
  const bool return_to_end = GetParam().second;
  const Problem problem = RandomProblem(rng, 9, 3);
  Options options;
  options.return_to_end = return_to_end;
  options.time_limit = 0.1;
  std::vector<std::string> lines;
  const Solver solver(problem, options,
                      [&lines](DiagnosticStream, const std::string& line) { lines.push_back(line); });
  const RoutingContext& own = solver.context();
  const RoutingContext read(TablesFromGraph(solver.graph(), solver.nodes(), solver.agents(), solver.starts(),
                                            solver.ends(), solver.windows(), return_to_end));
  ASSERT_EQ(own.NodeCount(), read.NodeCount());
  ASSERT_EQ(own.TypeCount(), read.TypeCount());
  ASSERT_EQ(own.AgentCount(), read.AgentCount());
  EXPECT_EQ(own.ReturnToEnd(), return_to_end);
  EXPECT_EQ(own.HasWindows(), read.HasWindows());
  EXPECT_EQ(own.HasTimeLimits(), read.HasTimeLimits());
  const uint64_t n = own.NodeCount();
  for (int64_t t = 0; t < static_cast<int64_t>(own.TypeCount()); ++t)
    for (uint64_t u = 0; u < n; ++u)
      for (uint64_t v = 0; v < n; ++v) {
        ASSERT_TRUE(SameCost(own.Cost(t, u, v), read.Cost(t, u, v))) << t << " " << u << " " << v;
        // The graph's own look-up is the reference of both.
        ASSERT_TRUE(SameCost(own.Cost(t, u, v), solver.graph()->GetArcCostComponent(
                                                    u, v, t, std::numeric_limits<double>::quiet_NaN())));
      }
  // 9999 where the matrix has no cell: the last row.
  EXPECT_EQ(own.Cost(0, n - 1, 0), kMissingCost);
  for (uint64_t k = 0; k < own.AgentCount(); ++k) {
    EXPECT_EQ(own.Start(k), read.Start(k));
    EXPECT_EQ(own.End(k), read.End(k));
    EXPECT_EQ(own.AgentType(k), read.AgentType(k));
    EXPECT_EQ(own.TimeLimit(k), read.TimeLimit(k));
    for (uint64_t v = 0; v < n; ++v) {
      EXPECT_EQ(own.SearchMayEnter(k, v), read.SearchMayEnter(k, v));
      EXPECT_EQ(own.MayVisit(k, v), read.MayVisit(k, v));
      EXPECT_EQ(own.MayServe(k, v), read.MayServe(k, v));
    }
  }
  for (uint64_t v = 0; v < n; ++v) {
    EXPECT_EQ(own.NodeTypes(v), read.NodeTypes(v));
    EXPECT_EQ(own.HasWindow(v), read.HasWindow(v));
    if (own.HasWindow(v)) {
      EXPECT_EQ(own.WindowOpen(v), read.WindowOpen(v));
      EXPECT_EQ(own.WindowClose(v), read.WindowClose(v));
    }
  }
  EXPECT_EQ(own.Edges().size(), solver.edges().size());
  // Nodes without an assignment were reported to the sink, not to the console.
  int unassigned = 0;
  for (const std::string& line : lines) {
    if (line.rfind("[warning] node ", 0) == 0) ++unassigned;
  }
  int expected = 0;
  for (const Node& node : problem.nodes())
    expected += problem.assignment_constraint().assignments.count(node.id) ? 0 : 1;
  EXPECT_EQ(unassigned, expected);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SolverContext,
                         testing::Values(std::make_pair(1u, true), std::make_pair(2u, false),
                                         std::make_pair(3u, true), std::make_pair(4u, false),
                                         std::make_pair(5u, true)));

// The search's depot rules, stated literally: with return-to-end an agent
// never moves back onto its start (unless it is also its end) nor onto another
// end node; without, onto neither another agent's start nor another end node.
TEST(RoutingContextRules, SearchMayEnterAndFreeArrival) {
  RoutingTables tables;
  tables.nodes = 5;
  tables.types = 1;
  tables.costs.assign(25, 1.0);
  tables.node_types.assign(5, {0});
  tables.agent_type = {0, 0};
  tables.time_limit = {0.0, 0.0};
  tables.starts = {0, 1};
  tables.ends = {2, 1};
  for (bool rte : {true, false}) {
    tables.return_to_end = rte;
    const RoutingContext ctx(tables);
    for (uint64_t k = 0; k < 2; ++k) {
      const uint64_t s = tables.starts[k];
      const uint64_t e = tables.ends[k];
      for (uint64_t v = 0; v < 5; ++v) {
        const bool is_start = v == 0 || v == 1;
        const bool is_end = v == 2 || v == 1;
        bool want = true;
        if (rte) {
          if (v == s && v != e) want = false;
          if (v != e && is_end) want = false;
        } else {
          if (v != s && is_start) want = false;
          if (v != e && is_end) want = false;
        }
        EXPECT_EQ(ctx.SearchMayEnter(k, v), want) << rte << " " << k << " " << v;
        EXPECT_EQ(ctx.FreeArrival(k, v), !rte && (v == s || v == e)) << rte << " " << k << " " << v;
        EXPECT_EQ(ctx.ClosesAt(k, v), v == e || (!rte && v == s)) << rte << " " << k << " " << v;
        EXPECT_EQ(ctx.WindowTravel(k, 3, v),
                  v == s || (!rte && v == e) ? 0.0 : 1.0);  // the table has a 1.0 diagonal
      }
    }
  }
}

// A context may leave an agent without a start or an end (kNone), as a
// standalone plugin's set-up does.
TEST(RoutingContextRules, AbsentDepotsHaveNoRole) {
  RoutingTables tables;
  tables.nodes = 3;
  tables.types = 1;
  tables.costs.assign(9, 2.0);
  tables.node_types.assign(3, {0});
  tables.agent_type = {0};
  tables.time_limit = {0.0};
  tables.starts = {RoutingContext::kNone};
  tables.ends = {1};
  const RoutingContext ctx(tables);
  for (uint64_t v = 0; v < 3; ++v) EXPECT_FALSE(ctx.InStartSet(v));
  EXPECT_TRUE(ctx.InEndSet(1));
  EXPECT_EQ(ctx.WindowTravel(0, 0, 2), 2.0);
  tables.starts = {3};
  EXPECT_THROW(RoutingContext{tables}, std::invalid_argument);
}

}  // namespace
