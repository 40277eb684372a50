// The units of the solver's set-up: the problem's tables, the complete graph
// built from a context, and the unreachable-depot rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/constants.hpp"
#include "core/routing_context.hpp"
#include "graph/graph_tables.hpp"
#include "solver/problem_tables.hpp"
#include "solver/search_preparation.hpp"

using namespace velmora;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Three nodes with ids 7, 8, 9; a truck (7 -> 9) and a drone (8 -> 8); a 2 x 3
// truck matrix and a 1 x 2 drone matrix; node 9 without an assignment, a window
// on node 8 and one on the unknown id 42.
Problem SmallProblem() {
  Problem p;
  for (uint64_t id : {7u, 8u, 9u}) {
    Node node;
    node.id = id;
    node.position = Position{id + 0.9, -0.5, 0.0};
    p.add_node(node);
  }
  Agent truck;
  truck.id = 0;
  truck.type = "truck";
  truck.start_node = 7;
  truck.end_node = 9;
  truck.time_limit = 40.0;
  p.add_agent(truck, 0);
  Agent drone;
  drone.id = 1;
  drone.type = "drone";
  drone.start_node = 8;
  drone.end_node = 8;
  p.add_agent(drone, 1);
  p.set_cost_matrix("truck", {{0, 1, 2}, {3, 0, 4}});
  p.set_cost_matrix("drone", {{0, 5}});
  AssignmentConstraint assignment;
  assignment.set_assignment(7, {"truck", "drone", "truck"});
  assignment.set_assignment(8, {"drone", "bike"});
  p.set_assignment_constraint(assignment);
  TimeWindowConstraint windows;
  windows.set_timewindow(8, 1.0, 6.0);
  windows.set_timewindow(42, 0.0, 1.0);
  p.set_timewindow_constraint(windows);
  return p;
}

TEST(ProblemTables, RecordsAndRoutingTablesByDenseIndex) {
  std::vector<std::pair<DiagnosticStream, std::string>> lines;
  const Diagnostics diagnostics(
      [&lines](DiagnosticStream stream, const std::string& line) { lines.emplace_back(stream, line); });
  const ProblemTables t = TablesFromProblem(SmallProblem(), false, diagnostics);

  ASSERT_EQ(t.nodes.size(), 3u);
  EXPECT_EQ(t.nodes[1].id, 8);
  EXPECT_EQ(t.nodes[1].x, 8);
  EXPECT_EQ(t.nodes[1].y, 0);
  EXPECT_EQ(t.nodes[0].types, (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(t.nodes[1].types, (std::vector<int64_t>{1}));
  EXPECT_EQ(t.nodes[2].types, (std::vector<int64_t>{0, 1}));
  ASSERT_EQ(t.agents.size(), 2u);
  EXPECT_EQ(t.agents[0].type, 0);
  EXPECT_EQ(t.agents[1].type, 1);
  EXPECT_EQ(t.agents[0].time_limit, 40.0);
  EXPECT_EQ(t.starts, (std::vector<uint64_t>{0, 1}));
  EXPECT_EQ(t.ends, (std::vector<uint64_t>{2, 1}));
  ASSERT_EQ(t.windows.size(), 1u);
  EXPECT_EQ(t.windows.at(1), std::make_pair(1.0, 6.0));
  EXPECT_EQ(lines,
            (std::vector<std::pair<DiagnosticStream, std::string>>{
                {DiagnosticStream::kStderr, "[warning] node 9 has no assignment constraint; allowing all types"},
                {DiagnosticStream::kStderr, "[warning] time window node id 42 not found in nodes"}}));

  const RoutingTables& r = t.routing;
  EXPECT_EQ(r.nodes, 3u);
  EXPECT_EQ(r.types, 2u);
  EXPECT_FALSE(r.return_to_end);
  EXPECT_EQ(r.starts, t.starts);
  EXPECT_EQ(r.ends, t.ends);
  EXPECT_EQ(r.agent_type, (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(r.time_limit, (std::vector<double>{40.0, 0.0}));
  EXPECT_EQ(r.node_types[1], (std::vector<int64_t>{1}));
  ASSERT_EQ(r.windows.size(), 1u);
  EXPECT_EQ(r.windows[0].first, 1u);
  // [(type * n + u) * n + v]: the cells, 9999 where no matrix gives one, NaN on the diagonal.
  const double m = kMissingCost;
  const std::vector<double> expected = {kNaN, 1, 2, 3, kNaN, 4, m, m, kNaN,   // truck
                                        kNaN, 5, m, m, kNaN, m, m, m, kNaN};  // drone
  ASSERT_EQ(r.costs.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(r.costs[i])) << i;
    } else {
      EXPECT_EQ(r.costs[i], expected[i]) << i;
    }
  }
}

TEST(ProblemTables, ARepeatedNodeIdNamesItsLastPosition) {
  Problem p = SmallProblem();
  Node again;
  again.id = 7;
  p.add_node(again);
  const ProblemTables t = TablesFromProblem(p, true, Diagnostics());
  EXPECT_EQ(t.starts[0], 3u);
  EXPECT_EQ(t.nodes.size(), 4u);
}

// The complete graph of a context has every arc but the loops, with the
// context's costs per type.
TEST(CompleteGraph, ReadsLikeItsContext) {
  const ProblemTables t = TablesFromProblem(SmallProblem(), true, Diagnostics());
  const RoutingContext context(t.routing);
  const auto graph = CompleteGraph(context, nullptr);
  EXPECT_EQ(graph->NumVertex(), 3u);
  EXPECT_EQ(graph->GetCostDim(), 2u);
  EXPECT_EQ(graph->NumArc(), 2u * 3u * 2u);
  for (uint64_t u = 0; u < 3; ++u) {
    EXPECT_FALSE(graph->HasArc(u, u));
    for (uint64_t v = 0; v < 3; ++v) {
      if (u == v) continue;
      EXPECT_EQ(graph->GetArcCost(u, v), (CostVector{context.Cost(0, u, v), context.Cost(1, u, v)})) << u << v;
    }
  }
  EXPECT_EQ(graph->GetArcCost(1, 2), (CostVector{4.0, kMissingCost}));
}

// --- the unreachable-depot rule ------------------------------------------------------------------

struct ReachCase {
  const char* name;
  std::vector<double> row0;  // type 0 costs from node 0 (the diagonal entry is ignored)
  uint64_t start0;           // agent 0's start; its end is node 2
  uint64_t nodes;            // the solver's node count
  std::vector<uint64_t> unreachable;
};

class UnreachableDepotsRule : public testing::TestWithParam<ReachCase> {};

TEST_P(UnreachableDepotsRule, ADepotWhoseCheapestArcIsTheMissingCost) {
  const ReachCase& c = GetParam();
  RoutingTables tables;
  tables.nodes = 3;
  tables.types = 2;
  tables.costs.assign(2 * 9, 1.0);
  for (uint64_t v = 0; v < 3; ++v) tables.costs[v] = c.row0[v];
  tables.node_types.assign(3, {0});
  tables.agent_type = {0};
  tables.time_limit = {0.0};
  tables.starts = {c.start0};
  tables.ends = {2};
  const RoutingContext context(tables);
  std::vector<std::string> lines;
  const Diagnostics diagnostics([&lines](DiagnosticStream stream, const std::string& line) {
    EXPECT_EQ(stream, DiagnosticStream::kStderr);
    lines.push_back(line);
  });
  EXPECT_EQ(UnreachableDepots(context, c.nodes, diagnostics), c.unreachable);
  std::vector<std::string> expected;
  for (uint64_t v : c.unreachable) expected.push_back("point: " + std::to_string(v) + " can't be reached");
  EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreachableDepotsRule,
    testing::Values(ReachCase{"all_missing", {0, kMissingCost, kMissingCost}, 0, 3, {0}},
                    ReachCase{"no_arc_counts_as_largest", {0, kNaN, kMissingCost}, 0, 3, {0}},
                    ReachCase{"one_usable_arc", {0, kMissingCost, 5.0}, 0, 3, {}},
                    ReachCase{"dearer_than_missing", {0, 12000.0, 12000.0}, 0, 3, {}},
                    ReachCase{"no_arc_at_all", {0, kNaN, kNaN}, 0, 3, {}},
                    ReachCase{"targets_are_not_examined", {0, kMissingCost, kMissingCost}, 1, 3, {}},
                    ReachCase{"only_nodes_below_the_count", {0, kMissingCost, kMissingCost}, 0, 0, {}}),
    [](const testing::TestParamInfo<ReachCase>& info) { return std::string(info.param.name); });

}  // namespace
