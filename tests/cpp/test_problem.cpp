#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "model/problem.hpp"
#include "model/result.hpp"

using namespace velmora;

namespace {

Agent MakeAgent(uint64_t id, const std::string& type, uint64_t start = 0, uint64_t end = 0) {
  Agent a;
  a.id = id;
  a.type = type;
  a.start_node = start;
  a.end_node = end;
  return a;
}

Node MakeNode(uint64_t id, double demand = 0.0) {
  Node n;
  n.id = id;
  n.demand = demand;
  return n;
}

}  // namespace

TEST(ProblemModel, DefaultsOfFreshValues) {
  Problem p;
  EXPECT_TRUE(p.nodes().empty());
  EXPECT_TRUE(p.agents().empty());
  EXPECT_TRUE(p.agents_ordered().empty());
  EXPECT_EQ(p.num_nodes(), 0u);
  EXPECT_EQ(p.num_agents(), 0u);
  EXPECT_TRUE(p.cost_matrices().empty());
  EXPECT_TRUE(p.assignment_constraint().assignments.empty());
  EXPECT_TRUE(p.timewindow_constraint().windows.empty());
  EXPECT_TRUE(p.precedence_lists().precedence.empty());
  EXPECT_TRUE(p.precedence_lists().precedence_same.empty());
  EXPECT_TRUE(p.precedence_lists().precedence_diff.empty());
  EXPECT_TRUE(p.agent_index().empty());
  EXPECT_TRUE(p.type_index().empty());
  EXPECT_TRUE(p.agent_types().empty());
  EXPECT_TRUE(p.agent_type_index().empty());
  EXPECT_TRUE(p.options().return_to_end);
  EXPECT_EQ(p.options().objective, ObjectiveType::MinSum);
  EXPECT_EQ(p.options().time_limit, 60.0);

  Node n;
  EXPECT_EQ(n.id, 0u);
  EXPECT_EQ(n.position.x, 0.0);
  EXPECT_EQ(n.position.y, 0.0);
  EXPECT_EQ(n.position.z, 0.0);
  EXPECT_EQ(n.type, NodeType::TARGET);
  EXPECT_EQ(n.demand, 0.0);

  Agent a;
  EXPECT_EQ(a.id, 0u);
  EXPECT_EQ(a.type, "");
  EXPECT_EQ(a.start_node, 0u);
  EXPECT_EQ(a.end_node, 0u);
  EXPECT_EQ(a.capacity_limit, 0.0);
  EXPECT_EQ(a.time_limit, 0.0);

  Result r;
  EXPECT_TRUE(r.paths.empty());
  EXPECT_TRUE(r.times.empty());
  EXPECT_EQ(r.n_generated, 0);
  EXPECT_EQ(r.n_expanded, 0);
  EXPECT_FALSE(r.timeout);
  EXPECT_EQ(r.last_update_time, 0.0);
  EXPECT_EQ(r.search_time, 0.0);
  EXPECT_EQ(r.end_marker, 0);
}

TEST(ProblemModel, EnumerationNumbers) {
  EXPECT_EQ(static_cast<int32_t>(ObjectiveType::MinMax), 0);
  EXPECT_EQ(static_cast<int32_t>(ObjectiveType::MinSum), 1);
  EXPECT_EQ(static_cast<int32_t>(NodeType::DEPOT), 0);
  EXPECT_EQ(static_cast<int32_t>(NodeType::TARGET), 1);
  EXPECT_EQ(sizeof(ObjectiveType), 4u);
  EXPECT_EQ(sizeof(NodeType), 4u);
}

// One add_agent sequence: (id, type) per call, and the expected lookup tables afterwards.
struct AddAgentCase {
  const char* name;
  std::vector<std::pair<uint64_t, std::string>> calls;
  std::vector<std::string> agent_types;
  std::vector<std::pair<uint64_t, uint64_t>> agent_type_index;  // id -> type index
  std::vector<std::pair<uint64_t, uint64_t>> agent_index;       // id -> position
  uint64_t num_agents;
};

class AddAgentTest : public testing::TestWithParam<AddAgentCase> {};

TEST_P(AddAgentTest, FillsLookupTables) {
  const AddAgentCase& c = GetParam();
  Problem p;
  for (const auto& [id, type] : c.calls) {
    p.add_agent(MakeAgent(id, type), id);
    EXPECT_EQ(p.num_agents(), p.agents().size());
  }
  EXPECT_EQ(p.agent_types(), c.agent_types);
  ASSERT_EQ(p.type_index().size(), c.agent_types.size());
  for (size_t k = 0; k < c.agent_types.size(); ++k) EXPECT_EQ(p.type_index().at(c.agent_types[k]), k);
  EXPECT_EQ(p.agent_type_index().size(), c.agent_type_index.size());
  for (const auto& [id, t] : c.agent_type_index) EXPECT_EQ(p.agent_type_index().at(id), t) << "id " << id;
  EXPECT_EQ(p.agent_index().size(), c.agent_index.size());
  for (const auto& [id, pos] : c.agent_index) EXPECT_EQ(p.agent_index().at(id), pos) << "id " << id;
  EXPECT_EQ(p.num_agents(), c.num_agents);
  ASSERT_EQ(p.agents_ordered().size(), c.calls.size());
  for (size_t k = 0; k < c.calls.size(); ++k) {
    EXPECT_EQ(p.agents_ordered()[k].id, c.calls[k].first);
    EXPECT_EQ(p.agents_ordered()[k].type, c.calls[k].second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, AddAgentTest,
    testing::Values(
        AddAgentCase{"TruckDroneTruck",
                     {{0, "truck"}, {1, "drone"}, {2, "truck"}},
                     {"truck", "drone"},
                     {{0, 0}, {1, 1}, {2, 0}},
                     {{0, 0}, {1, 1}, {2, 2}},
                     3},
        AddAgentCase{
            "RepeatedIdKeepsBothEntries", {{7, "truck"}, {7, "drone"}}, {"truck", "drone"}, {{7, 1}}, {{7, 1}}, 1},
        AddAgentCase{"EmptyTypeNameIsAType",
                     {{4, ""}, {5, "x"}, {6, ""}},
                     {"", "x"},
                     {{4, 0}, {5, 1}, {6, 0}},
                     {{4, 0}, {5, 1}, {6, 2}},
                     3},
        AddAgentCase{"IdRepeatedAfterOthers",
                     {{1, "a"}, {2, "b"}, {1, "c"}, {3, "b"}},
                     {"a", "b", "c"},
                     {{1, 2}, {2, 1}, {3, 1}},
                     {{1, 2}, {2, 1}, {3, 3}},
                     3},
        AddAgentCase{"LargestId",
                     {{UINT64_MAX, "t"}, {0, "t"}},
                     {"t"},
                     {{UINT64_MAX, 0}, {0, 0}},
                     {{UINT64_MAX, 0}, {0, 1}},
                     2}),
    [](const testing::TestParamInfo<AddAgentCase>& param_info) { return std::string(param_info.param.name); });

TEST(ProblemModel, AddAgentFilesUnderGivenIdAndOverwritesEveryField) {
  Problem p;
  Agent first = MakeAgent(100, "truck", 1, 2);
  first.capacity_limit = 5.0;
  first.time_limit = 9.0;
  p.add_agent(first, 3);
  EXPECT_EQ(p.agents().count(100), 0u);
  ASSERT_EQ(p.agents().count(3), 1u);
  EXPECT_EQ(p.agents().at(3).id, 100u);  // the agent keeps its own id field

  Agent second = MakeAgent(200, "drone", 4, 5);
  p.add_agent(second, 3);
  const Agent& stored = p.agents().at(3);
  EXPECT_EQ(stored.id, 200u);
  EXPECT_EQ(stored.type, "drone");
  EXPECT_EQ(stored.start_node, 4u);
  EXPECT_EQ(stored.end_node, 5u);
  EXPECT_EQ(stored.capacity_limit, 0.0);
  EXPECT_EQ(stored.time_limit, 0.0);
  EXPECT_EQ(p.num_agents(), 1u);
  ASSERT_EQ(p.agents_ordered().size(), 2u);
  EXPECT_EQ(p.agents_ordered()[0].capacity_limit, 5.0);
  EXPECT_EQ(p.agents_ordered()[0].time_limit, 9.0);
  EXPECT_EQ(p.agents_ordered()[1].id, 200u);
}

TEST(ProblemModel, AddNodeKeepsDuplicatesAndCounts) {
  Problem p;
  const std::vector<uint64_t> ids = {5, 5, 0, 5};
  for (size_t k = 0; k < ids.size(); ++k) {
    p.add_node(MakeNode(ids[k], static_cast<double>(k)));
    EXPECT_EQ(p.num_nodes(), k + 1);
  }
  ASSERT_EQ(p.nodes().size(), ids.size());
  for (size_t k = 0; k < ids.size(); ++k) {
    EXPECT_EQ(p.nodes()[k].id, ids[k]);
    EXPECT_EQ(p.nodes()[k].demand, static_cast<double>(k));
  }
}

TEST(ProblemModel, StoredRecordsKeepTheirAddressAcrossAppends) {
  // The bindings hand out references to stored nodes and agents; appends must not move them.
  Problem p;
  p.add_node(MakeNode(1));
  p.add_agent(MakeAgent(1, "t"), 1);
  Node* node = &p.nodes()[0];
  Agent* agent = &p.agents_ordered()[0];
  for (uint64_t k = 2; k < 2000; ++k) {
    p.add_node(MakeNode(k));
    p.add_agent(MakeAgent(k, "t"), k);
  }
  EXPECT_EQ(node, &p.nodes()[0]);
  EXPECT_EQ(agent, &p.agents_ordered()[0]);
  node->demand = 4.5;
  agent->type = "changed";
  EXPECT_EQ(p.nodes()[0].demand, 4.5);
  EXPECT_EQ(p.agents_ordered()[0].type, "changed");
  EXPECT_EQ(p.num_nodes(), 1999u);
  EXPECT_EQ(p.num_agents(), 1999u);
}

TEST(ProblemModel, SetCostMatrixReplacesAndStoresRaggedRows) {
  Problem p;
  p.set_cost_matrix("truck", {{0.0, 1.0}, {1.0, 0.0}});
  const Matrix ragged = {{0.0}, {1.0, 2.0, 3.0}, {}};
  p.set_cost_matrix("truck", ragged);
  p.set_cost_matrix("drone", {{7.5}});
  ASSERT_EQ(p.cost_matrices().size(), 2u);
  EXPECT_EQ(p.cost_matrices().at("truck"), ragged);
  EXPECT_EQ(p.cost_matrices().at("drone"), (Matrix{{7.5}}));
}

TEST(ProblemModel, ConstraintSettersInsertOrReplace) {
  AssignmentConstraint ac;
  ac.set_assignment(3, {"a", "b"});
  ac.set_assignment(3, {"c"});
  ac.set_assignment(UINT64_MAX, {"z", "a", "z"});
  ASSERT_EQ(ac.assignments.size(), 2u);
  EXPECT_EQ(ac.assignments.at(3), (std::vector<std::string>{"c"}));
  EXPECT_EQ(ac.assignments.at(UINT64_MAX), (std::vector<std::string>{"z", "a", "z"}));

  TimeWindowConstraint tw;
  tw.set_timewindow(1, 0.0, 10.0);
  tw.set_timewindow(1, 5.0, 2.0);  // start after end is stored as given
  tw.set_timewindow(2, -1.0, -1.0);
  ASSERT_EQ(tw.windows.size(), 2u);
  EXPECT_EQ(tw.windows.at(1), std::make_pair(5.0, 2.0));
  EXPECT_EQ(tw.windows.at(2), std::make_pair(-1.0, -1.0));
}

TEST(ProblemModel, ConstraintTablesAreReplacedWholesaleByCopies) {
  Problem p;
  AssignmentConstraint first;
  first.set_assignment(1, {"a"});
  first.set_assignment(2, {"b"});
  p.set_assignment_constraint(first);
  AssignmentConstraint second;
  second.set_assignment(3, {"c"});
  p.set_assignment_constraint(second);
  second.set_assignment(4, {"d"});  // later changes to the argument do not reach the problem
  ASSERT_EQ(p.assignment_constraint().assignments.size(), 1u);
  EXPECT_EQ(p.assignment_constraint().assignments.at(3), (std::vector<std::string>{"c"}));
  p.set_assignment_constraint(AssignmentConstraint{});
  EXPECT_TRUE(p.assignment_constraint().assignments.empty());

  TimeWindowConstraint tw;
  tw.set_timewindow(1, 1.0, 2.0);
  p.set_timewindow_constraint(tw);
  tw.set_timewindow(2, 3.0, 4.0);
  ASSERT_EQ(p.timewindow_constraint().windows.size(), 1u);
  EXPECT_EQ(p.timewindow_constraint().windows.at(1), std::make_pair(1.0, 2.0));
  p.set_timewindow_constraint(TimeWindowConstraint{});
  EXPECT_TRUE(p.timewindow_constraint().windows.empty());
}

TEST(ProblemModel, CopyIsIndependent) {
  Problem p;
  p.add_node(MakeNode(1));
  p.add_agent(MakeAgent(1, "t"), 1);
  p.set_cost_matrix("t", {{0.0}});
  p.set_precedence_lists({{{1, 2}}, {{3, 4}}, {{5, 6}}});
  p.options().time_limit = 2.0;

  Problem copy = p;
  p.add_node(MakeNode(2));
  p.add_agent(MakeAgent(2, "u"), 2);
  p.nodes()[0].demand = 8.0;
  p.options().objective = ObjectiveType::MinMax;

  EXPECT_EQ(copy.num_nodes(), 1u);
  ASSERT_EQ(copy.nodes().size(), 1u);
  EXPECT_EQ(copy.nodes()[0].demand, 0.0);
  EXPECT_EQ(copy.num_agents(), 1u);
  EXPECT_EQ(copy.agent_types(), (std::vector<std::string>{"t"}));
  EXPECT_EQ(copy.options().time_limit, 2.0);
  EXPECT_EQ(copy.options().objective, ObjectiveType::MinSum);
  EXPECT_EQ(copy.cost_matrices().at("t"), (Matrix{{0.0}}));
  EXPECT_EQ(copy.precedence_lists().precedence, (std::vector<IdPair>{{1, 2}}));
  EXPECT_EQ(copy.precedence_lists().precedence_same, (std::vector<IdPair>{{3, 4}}));
  EXPECT_EQ(copy.precedence_lists().precedence_diff, (std::vector<IdPair>{{5, 6}}));
}
