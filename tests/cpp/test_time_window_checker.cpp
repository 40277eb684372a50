#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugins/time_window_constraint_checker.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using velmora_test::DenseTestGraph;

namespace {

const CheckResult kAccept{true, 0.0, false};
const CheckResult kReject{false, 0.0, false};

std::string Show(const CheckResult& r) {
  return "{" + std::string(r.ok ? "true" : "false") + ", " + std::to_string(r.value) + ", " +
         (r.has_value ? "true" : "false") + "}";
}

testing::AssertionResult Matches(const CheckResult& got, const CheckResult& want) {
  if (got.ok == want.ok && got.value == want.value && got.has_value == want.has_value)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "got " << Show(got) << " want " << Show(want);
}

#define EXPECT_RESULT(actual, ...) EXPECT_TRUE(Matches((actual), (__VA_ARGS__)))

SolverNode Node(std::vector<int64_t> types = {0}) {
  SolverNode n;
  n.types = std::move(types);
  return n;
}

SolverAgent Agent(int64_t type = 0) {
  SolverAgent a;
  a.type = type;
  return a;
}

// A small instance: graph, records and a checker wired in the solver's order.
struct Instance {
  DenseTestGraph graph;
  std::vector<SolverNode> nodes;
  std::vector<SolverAgent> agents;
  TimeWindowConstraintChecker checker;

  Instance(uint64_t n, std::vector<SolverAgent> a) : graph(n, 1), nodes(n, Node()), agents(std::move(a)) {}

  void Setup(const std::vector<uint64_t>& ends, const WindowTable& windows, const std::vector<uint64_t>& starts,
             bool return_to_end) {
    checker.Init(&graph, nodes, agents);
    checker.SetAgentEnds(ends);
    checker.SetTimeWindows(windows);
    checker.SetAgentStarts(starts);
    checker.SetReturnToEnd(return_to_end);
  }
};

// State as handed to CheckExtension: target already marked visited, the moving
// agent's cost already including the travel, agents still at their old nodes.
SearchState Move(int n_nodes, const std::vector<uint64_t>& visited, const std::vector<uint64_t>& positions,
                 const std::vector<double>& costs, const std::vector<uint8_t>& done) {
  SearchState s;
  s.n_nodes = n_nodes;
  for (uint64_t v : visited) s.visited.set(v);
  for (int i = n_nodes; i < NodeSet::kBits; ++i) s.visited.set(static_cast<uint64_t>(i));
  s.positions = positions;
  s.costs = costs;
  s.done = done;
  return s;
}

}  // namespace

// ------------------------------------------------------------ arrival window

struct ArrivalCase {
  double arrival;
  CheckResult expected;
};

class ArrivalWindowTest : public testing::TestWithParam<ArrivalCase> {};

TEST_P(ArrivalWindowTest, WaitsOrRejects) {
  // Depot 0, target 1 with window [5, 8], nothing else open.
  Instance in(2, {Agent()});
  in.graph.Link(0, 1, 3.0);
  in.Setup({0}, {{1, {5.0, 8.0}}}, {0}, true);
  const ArrivalCase& c = GetParam();
  EXPECT_RESULT(in.checker.CheckExtension(Move(2, {0, 1}, {0}, {c.arrival}, {0}), 0, 1), c.expected);

  // Before Init only the arrival window applies.
  TimeWindowConstraintChecker bare;
  bare.SetTimeWindows({{1, {5.0, 8.0}}});
  EXPECT_RESULT(bare.CheckExtension(Move(2, {0, 1}, {0}, {c.arrival}, {0}), 0, 1), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ArrivalWindowTest,
                         testing::Values(ArrivalCase{3.0, {true, 5.0, true}}, ArrivalCase{9.0, kReject},
                                         ArrivalCase{6.0, kAccept}, ArrivalCase{5.0, kAccept},
                                         ArrivalCase{8.0, kAccept}, ArrivalCase{8.0000001, kReject},
                                         ArrivalCase{-1.0, {true, 5.0, true}}));

TEST(TimeWindowChecker, WithoutGraphOnlyTheArrivalMatters) {
  // No Init: an open node nobody may serve does not reject.
  TimeWindowConstraintChecker bare;
  EXPECT_RESULT(bare.CheckExtension(Move(3, {0, 1}, {0}, {4.0}, {0}), 0, 1), kAccept);
}

// -------------------------------------------------------------- dominance

namespace {

// Depot 0, nodes 1 and 2. Going 0 -> 1 costs 10 but 0 -> 2 -> 1 costs 5.
Instance Triangle(std::vector<SolverAgent> agents = {Agent()}) {
  Instance in(3, std::move(agents));
  in.graph.Link(0, 1, 10.0);
  in.graph.Link(0, 2, 2.0);
  in.graph.Link(1, 2, 3.0);
  return in;
}

}  // namespace

TEST(TimeWindowDominance, OpenNodeOnTheWayRejectsTheLongMove) {
  Instance in = Triangle();
  in.Setup({0}, {}, {0}, true);
  // To 1 at time 10: the detour through 2 reaches 1 at 5, and 2 after 1 only at 13.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1), kReject);
  // To 2 at time 2: the detour through 1 reaches 2 at 13.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 2}, {0}, {2.0}, {0}), 0, 2), kAccept);
  // With 2 already visited there is nothing to dominate.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1, 2}, {0}, {10.0}, {0}), 0, 1), kAccept);
}

TEST(TimeWindowDominance, OnlyNodesTheAgentMayServeCount) {
  // Node 2 is for type 1 only; agent 1 (type 1) stays open to serve it.
  Instance in = Triangle({Agent(0), Agent(1)});
  in.nodes[2] = Node({1});
  in.Setup({0, 0}, {}, {0, 0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0, 0}, {10.0, 0.0}, {0, 0}), 0, 1), kAccept);
}

TEST(TimeWindowDominance, WindowOfTheDetourNodeDelaysTheDetour) {
  Instance in = Triangle();
  // Detour waits at 2 until 20, reaching 1 at 23 > 10: no dominance. Coverage:
  // 2 is reached from 1 at 13 <= 30.
  in.Setup({0}, {{2, {20.0, 30.0}}}, {0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1), kAccept);
}

namespace {

// Depot 0, targets 1 and 2, metric (no path through a target is shorter than
// the direct arc): 0 -> 1 costs 10, 0 -> 2 -> 1 also 10, and serving 2 right
// after 1 costs `one_two`. Optional depot 3 one unit from 2.
Instance MetricDetour(double one_two, bool depot3 = false) {
  Instance in(depot3 ? 4 : 3,
              depot3 ? std::vector<SolverAgent>{Agent(), Agent()} : std::vector<SolverAgent>{Agent()});
  in.graph.FillFromMatrix(depot3 ? std::vector<std::vector<double>>{{0, 10, 5, 6},
                                                                    {5, 0, one_two, 1 + one_two},
                                                                    {5, 5, 0, 1},
                                                                    {6, 6, 1, 0}}
                                 : std::vector<std::vector<double>>{{0, 10, 5}, {5, 0, one_two}, {5, 5, 0}});
  return in;
}

}  // namespace

TEST(TimeWindowDominance, DetourEquallyLateIsToleratedOnlyWhenServingAfterIsFree) {
  // Target 1 opens at 12, so arriving at 10 waits until 12, and the detour
  // 0 -> 2 -> 1 (arriving at 10) also waits until 12. With 1 -> 2 free,
  // serving 2 right after 1 is also at 12: o = u, accepted with the wait.
  Instance free_after = MetricDetour(0.0);
  free_after.Setup({0}, {{1, {12.0, 40.0}}}, {0}, true);
  EXPECT_RESULT(free_after.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1),
                (CheckResult{true, 12.0, true}));

  // With the arc 1 -> 2 costing 3, serving 2 after 1 takes until 15 > 12.
  Instance in = MetricDetour(3.0);
  in.Setup({0}, {{1, {12.0, 40.0}}}, {0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1), kReject);
}

TEST(TimeWindowDominance, ServingAfterTooLateRejects) {
  // As above with 1 -> 2 free (o = u = 12), but node 2 closes at 11, so
  // serving it after 1 is impossible while the detour is not later: reject.
  // A second agent at depot 3 reaches node 2 at 1, so coverage holds.
  for (double close : {11.0, 20.0}) {
    Instance in = MetricDetour(0.0, true);
    in.Setup({0, 3}, {{1, {12.0, 40.0}}, {2, {0.0, close}}}, {0, 3}, true);
    const CheckResult r = in.checker.CheckExtension(Move(4, {0, 1, 3}, {0, 3}, {10.0, 0.0}, {0, 0}), 0, 1);
    if (close == 11.0) {
      EXPECT_RESULT(r, kReject);
    } else {
      EXPECT_RESULT(r, (CheckResult{true, 12.0, true}));
    }
  }
}

TEST(TimeWindowDominance, OffWhereADetourBeatsTheDirectArc) {
  // In the triangle 0 -> 2 -> 1 (5) beats 0 -> 1 (10). With windows, serving 2
  // first is no proof that the move to 1 is useless: a later leg may need 2 as
  // its shortcut. The test applies only to metric travel times.
  for (bool windows : {false, true}) {
    Instance in = Triangle();
    in.Setup({0}, windows ? WindowTable{{1, {0.0, 40.0}}} : WindowTable{}, {0}, true);
    EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1), windows ? kAccept : kReject);
  }
}

TEST(TimeWindowCoverage, ReadsShortestPathsWhereADetourBeatsTheDirectArc) {
  // Agent 1 at depot 3 reaches target 2 directly at 9, through target 1 at 4.
  // Agent 0 reaches 1 at 5 and could serve 2 only at 7. Node 2 closes at 6:
  // the detour keeps it coverable; closing at 3, nothing reaches it.
  for (double close : {6.0, 3.0}) {
    Instance in(4, {Agent(), Agent()});
    in.graph.FillFromMatrix({{0, 1, 50, 50}, {50, 0, 2, 50}, {50, 50, 0, 50}, {50, 2, 9, 0}});
    in.Setup({0, 3}, {{2, {0.0, close}}}, {0, 3}, true);
    const CheckResult r = in.checker.CheckExtension(Move(4, {0, 1, 3}, {0, 3}, {5.0, 0.0}, {0, 0}), 0, 1);
    EXPECT_RESULT(r, close == 6.0 ? kAccept : kReject);
  }
}

TEST(TimeWindowDominance, OwnEndNodeCountsOnlyWhenRoutesReturnToIt) {
  // Agent starts at 0 and ends at 2; 2 would be the shortcut to 1.
  for (bool return_to_end : {false, true}) {
    Instance in = Triangle();
    in.Setup({2}, {}, {0}, return_to_end);
    const CheckResult r = in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1);
    EXPECT_RESULT(r, return_to_end ? kReject : kAccept);
  }
}

TEST(TimeWindowDominance, OwnStartNodeNeverCounts) {
  // The agent stands at 1 having left its start 0, which is still unvisited;
  // 1 -> 0 -> 2 would be a shortcut to 2 (cost 2 against 10). End depot 3.
  auto build = [] {
    Instance in(4, {Agent()});
    in.graph.Link(1, 2, 10.0);
    in.graph.Link(1, 0, 1.0);
    in.graph.Link(0, 2, 1.0);
    in.graph.Link(1, 3, 20.0);
    in.graph.Link(2, 3, 5.0);
    in.graph.Link(0, 3, 5.0);
    return in;
  };
  const SearchState s = Move(4, {1, 2}, {1}, {10.0}, {0});
  Instance with_start = build();
  with_start.Setup({3}, {}, {0}, true);
  EXPECT_RESULT(with_start.checker.CheckExtension(s, 0, 2), kAccept);
  // Without a starts list node 0 is an ordinary open node and dominates.
  Instance no_starts = build();
  no_starts.Setup({3}, {}, {}, true);
  EXPECT_RESULT(no_starts.checker.CheckExtension(s, 0, 2), kReject);
}

TEST(TimeWindowDominance, OtherAgentsDepotsAreNotDominators) {
  // Node 2 is agent 1's depot: not admissible to agent 0.
  Instance in = Triangle({Agent(), Agent()});
  in.Setup({0, 2}, {}, {0, 2}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0, 2}, {10.0, 0.0}, {0, 0}), 0, 1), kAccept);
}

TEST(TimeWindowDominance, DetourReachingTheTargetLaterNeverRejects) {
  // 0 -> 1 costs 2, the detour 0 -> 2 -> 1 costs 3; serving 2 after 1 costs 10.
  Instance in(3, {Agent()});
  in.graph.Link(0, 1, 2.0);
  in.graph.Link(0, 2, 2.0);
  in.graph.AddArc(2, 1, {1.0});
  in.graph.AddArc(1, 2, {10.0});
  in.Setup({0}, {}, {0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {2.0}, {0}), 0, 1), kAccept);
}

TEST(TimeWindowDominance, DetourMissingTheWindowOfItsNodeIsSkipped) {
  // The detour would reach 2 at 2, after it closes at 1. A helper at depot 3
  // reaches 2 at 0.5, so coverage holds.
  Instance in(4, {Agent(), Agent()});
  in.graph.Link(0, 1, 10.0);
  in.graph.Link(0, 2, 2.0);
  in.graph.Link(1, 2, 3.0);
  in.graph.Link(3, 2, 0.5);
  in.Setup({0, 3}, {{2, {0.0, 1.0}}}, {0, 3}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(4, {0, 1, 3}, {0, 3}, {10.0, 0.0}, {0, 0}), 0, 1), kAccept);
}

TEST(TimeWindowDominance, CurrentNodeIsNotADetour) {
  // Without a starts list the agent's unvisited current node 0 is open, but
  // it is where the agent stands.
  Instance in = Triangle();
  in.Setup({}, {}, {}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {2}, {0}, {2.0}, {0}), 0, 2), kAccept);
}

struct DepotCase {
  const char* label;
  std::vector<uint64_t> starts;
  std::vector<uint64_t> ends;
};

class ForeignDepotTest : public testing::TestWithParam<DepotCase> {};

TEST_P(ForeignDepotTest, IsNotADominatorForOtherAgents) {
  // Node 2 is a depot of agent 1 only (its start, its end, or both).
  Instance in = Triangle({Agent(), Agent()});
  in.Setup(GetParam().ends, {}, GetParam().starts, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0, 2}, {10.0, 0.0}, {0, 0}), 0, 1), kAccept);
}

INSTANTIATE_TEST_SUITE_P(Cases, ForeignDepotTest,
                         testing::Values(DepotCase{"StartAndEnd", {0, 2}, {0, 2}},
                                         DepotCase{"EndOnly", {0, 0}, {0, 2}},
                                         DepotCase{"StartOnly", {0, 2}, {0, 0}}),
                         [](const testing::TestParamInfo<DepotCase>& p) { return p.param.label; });

struct ClosingCase {
  const char* label;
  uint64_t target;
  bool return_to_end;
  double time;
  CheckResult expected;
};

class ClosingMoveTest : public testing::TestWithParam<ClosingCase> {};

TEST_P(ClosingMoveTest, TravelOntoOwnDepotIsFreeUnlessRoutesReturn) {
  // Start 0, end 3, agent at 1, node 2 still open. From 1 each depot costs 5,
  // via 2 only 2. A free closing move has nothing to gain from the detour; a
  // paid move to the end (return to end) is dominated by going through 2.
  const ClosingCase& c = GetParam();
  Instance in(4, {Agent()});
  in.graph.Link(1, 0, 5.0);
  in.graph.Link(1, 3, 5.0);
  in.graph.Link(1, 2, 1.0);
  in.graph.Link(2, 0, 1.0);
  in.graph.Link(2, 3, 1.0);
  in.graph.Link(0, 3, 5.0);
  in.Setup({3}, {}, {0}, c.return_to_end);
  // The agent is left open: marked done, nobody would remain for node 2.
  const SearchState s = Move(4, {1, c.target}, {1}, {c.time}, {0});
  EXPECT_RESULT(in.checker.CheckExtension(s, 0, c.target), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ClosingMoveTest,
                         testing::Values(ClosingCase{"ToStartWithoutReturn", 0, false, 4.0, kAccept},
                                         ClosingCase{"ToEndWithoutReturn", 3, false, 4.0, kAccept},
                                         ClosingCase{"ToEndWithReturn", 3, true, 9.0, kReject}),
                         [](const testing::TestParamInfo<ClosingCase>& p) { return p.param.label; });

// --------------------------------------------------------------- coverage

TEST(TimeWindowCoverage, NodeNobodyMayServeRejectsEveryMove) {
  Instance in = Triangle();
  in.nodes[2] = Node({1});
  in.Setup({0}, {}, {0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1), kReject);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1, 2}, {0}, {10.0}, {0}), 0, 1), kAccept);
  in.nodes[2] = Node({});
  in.Setup({0}, {}, {0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 0, 1), kReject);
}

TEST(TimeWindowCoverage, FinishedAgentsServeNothingWhenEndsAreKnown) {
  Instance with_ends = Triangle({Agent(0), Agent(1)});
  with_ends.nodes[2] = Node({1});
  with_ends.Setup({0, 0}, {}, {0, 0}, true);
  const SearchState s = Move(3, {0, 1}, {0, 0}, {10.0, 0.0}, {0, 1});
  EXPECT_RESULT(with_ends.checker.CheckExtension(s, 0, 1), kReject);

  // Without an ends list the done flags are not looked at.
  Instance no_ends = Triangle({Agent(0), Agent(1)});
  no_ends.nodes[2] = Node({1});
  no_ends.Setup({}, {}, {0, 0}, true);
  EXPECT_RESULT(no_ends.checker.CheckExtension(s, 0, 1), kAccept);
}

struct ReachCase {
  const char* label;
  double close;          // node 2's window end
  bool helper;           // a second agent standing at depot 3
  uint8_t helper_done;
  CheckResult expected;
};

class CoverageReachTest : public testing::TestWithParam<ReachCase> {};

TEST_P(CoverageReachTest, SomeAgentMustArriveBeforeTheWindowCloses) {
  // Agent 0 moves 0 -> 1 arriving at 1; from 1 it reaches 2 at 1 + 3 = 4.
  // The helper stands at its depot 3 at time 2 and reaches 2 at 3.
  const ReachCase& c = GetParam();
  Instance in(4, c.helper ? std::vector<SolverAgent>{Agent(), Agent()} : std::vector<SolverAgent>{Agent()});
  in.graph.Link(0, 1, 1.0);
  in.graph.Link(0, 2, 5.0);
  in.graph.Link(1, 2, 3.0);
  in.graph.Link(3, 2, 1.0);
  in.graph.Link(3, 0, 50.0);
  in.graph.Link(3, 1, 50.0);
  const std::vector<uint64_t> depots = c.helper ? std::vector<uint64_t>{0, 3} : std::vector<uint64_t>{0};
  in.Setup(depots, {{2, {0.0, c.close}}}, depots, true);
  const SearchState s =
      c.helper ? Move(4, {0, 1, 3}, {0, 3}, {1.0, 2.0}, {0, c.helper_done}) : Move(4, {0, 1, 3}, {0}, {1.0}, {0});
  EXPECT_RESULT(in.checker.CheckExtension(s, 0, 1), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CoverageReachTest,
                         testing::Values(ReachCase{"MoverReachesOnTheDot", 4.0, false, 0, kAccept},
                                         ReachCase{"MoverTooLate", 3.5, false, 0, kReject},
                                         ReachCase{"HelperInTime", 3.5, true, 0, kAccept},
                                         ReachCase{"HelperFinished", 3.5, true, 1, kReject},
                                         ReachCase{"EveryoneTooLate", 2.5, true, 0, kReject}),
                         [](const testing::TestParamInfo<ReachCase>& p) { return p.param.label; });

TEST(TimeWindowCoverage, MoverIsJudgedFromTheTargetAfterWaiting) {
  // Target 1 opens at 6: the mover leaves 1 at 6 and reaches 2 at 9.
  for (double close : {9.0, 8.5}) {
    Instance in(3, {Agent()});
    in.graph.Link(0, 1, 1.0);
    in.graph.Link(0, 2, 8.0);
    in.graph.Link(1, 2, 3.0);
    in.Setup({0}, {{1, {6.0, 10.0}}, {2, {0.0, close}}}, {0}, true);
    const CheckResult r = in.checker.CheckExtension(Move(3, {0, 1}, {0}, {1.0}, {0}), 0, 1);
    EXPECT_RESULT(r, close == 9.0 ? CheckResult{true, 6.0, true} : kReject);
  }
}

TEST(TimeWindowCoverage, NodesWithoutWindowNeedOnlyAnEligibleAgent) {
  // A window elsewhere in the table does not time node 2, however far it is.
  Instance in(3, {Agent()});
  in.graph.Link(0, 1, 1.0);
  in.graph.Link(0, 2, 1000.0);
  in.graph.Link(1, 2, 1000.0);
  in.Setup({0}, {{1, {0.0, 100.0}}}, {0}, true);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {1.0}, {0}), 0, 1), kAccept);
}

TEST(TimeWindowChecker, StayingPutCostsNoTravelEvenWithASelfArc) {
  // Dominance: the agent "moves" onto its own node 0, which has a self-arc of
  // 7. That arc is not travelled, so the detour through 1 (0 + 2 + 2) is later.
  Instance stay(2, {Agent()});
  stay.graph.Link(0, 1, 2.0);
  stay.graph.AddArc(0, 0, {7.0});
  stay.Setup({}, {}, {}, true);
  EXPECT_RESULT(stay.checker.CheckExtension(Move(2, {0}, {0}, {0.0}, {0}), 0, 0), kAccept);

  // Coverage: agent 1 stands on the open node 2 (self-arc 100) at time 3 and
  // serves it within [0, 5] without moving; the mover cannot.
  Instance cover(3, {Agent(), Agent()});
  cover.graph.Link(0, 1, 1.0);
  cover.graph.Link(1, 2, 50.0);
  cover.graph.Link(0, 2, 50.0);
  cover.graph.AddArc(2, 2, {100.0});
  cover.Setup({}, {{2, {0.0, 5.0}}}, {}, true);
  EXPECT_RESULT(cover.checker.CheckExtension(Move(3, {0, 1}, {0, 2}, {1.0, 3.0}, {0, 0}), 0, 1), kAccept);
}

// ----------------------------------------------------------- soundness

TEST(TimeWindowChecker, OutOfRangeIndicesDoNotReadPastTheTables) {
  Instance in = Triangle({Agent(), Agent()});
  in.Setup({0, 0}, {{2, {0.0, 100.0}}, {100, {5.0, 8.0}}, {4000, {0.0, 1.0}}}, {0, 0}, true);
  // Target beyond any visited set.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0}, {0, 0}, {1.0, 0.0}, {0, 0}), 0, 300), kReject);
  // Agent beyond the state's lists or the checker's agents.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0}, {10.0}, {0}), 1, 1), kReject);
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1}, {0, 0, 0}, {1.0, 1.0, 1.0}, {0, 0, 0}), 2, 1), kReject);
  // Another agent standing on a node the graph does not have: its travel is 0.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 2}, {0, 5000}, {2.0, 7.0}, {0, 0}), 0, 2), kAccept);
  // A target past the node list but inside the visited set still gets its window.
  EXPECT_RESULT(in.checker.CheckExtension(Move(3, {0, 1, 2}, {0, 0}, {3.0, 0.0}, {0, 0}), 0, 100),
                (CheckResult{true, 5.0, true}));
}

TEST(TimeWindowChecker, CheckAgentAlwaysTrue) {
  Instance in = Triangle();
  in.Setup({0}, {}, {0}, true);
  EXPECT_TRUE(in.checker.CheckAgent(Move(3, {0}, {0}, {1e300}, {0}), 0));
}
