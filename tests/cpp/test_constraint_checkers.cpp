#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "plugins/composite_constraint_checker.hpp"
#include "plugins/default_constraint_checker.hpp"
#include "plugins/time_limit_constraint_checker.hpp"
#include "plugins/time_window_constraint_checker.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using velmora_test::DenseTestGraph;

namespace {

SolverNode Node(std::vector<int64_t> types) {
  SolverNode n;
  n.types = std::move(types);
  return n;
}

SolverAgent Agent(int64_t type, double time_limit = 0.0) {
  SolverAgent a;
  a.type = type;
  a.time_limit = time_limit;
  return a;
}

SearchState State(int n_nodes, const std::vector<uint64_t>& visited, const std::vector<double>& costs,
                  const std::vector<uint8_t>& done) {
  SearchState s;
  s.n_nodes = n_nodes;
  for (uint64_t v : visited) s.visited.set(v);
  for (int i = n_nodes; i < NodeSet::kBits; ++i) s.visited.set(static_cast<uint64_t>(i));
  s.costs = costs;
  s.done = done;
  s.positions.assign(costs.size(), 0);
  return s;
}

bool Same(const CheckResult& a, const CheckResult& b) {
  return a.ok == b.ok && a.value == b.value && a.has_value == b.has_value;
}

const CheckResult kAccept{true, 0.0, false};
const CheckResult kReject{false, 0.0, false};

}  // namespace

TEST(ConstraintCheckerNames, AreFixed) {
  EXPECT_EQ(DefaultConstraintChecker().GetName(), "DefaultConstraintChecker");
  EXPECT_EQ(TimeLimitConstraintChecker().GetName(), "TimeLimitConstraintChecker");
  EXPECT_EQ(TimeWindowConstraintChecker().GetName(), "TimeConstraintChecker");
  EXPECT_EQ(CompositeConstraintChecker().GetName(), "CompositeConstraintChecker");
}

// The assignment rule is shared by the three concrete checkers.
template <typename T>
class AssignmentRuleTest : public testing::Test {};
using AssignmentCheckers =
    testing::Types<DefaultConstraintChecker, TimeLimitConstraintChecker, TimeWindowConstraintChecker>;
TYPED_TEST_SUITE(AssignmentRuleTest, AssignmentCheckers);

TYPED_TEST(AssignmentRuleTest, ForbidsByAllowedTypes) {
  DenseTestGraph g(4, 2);
  TypeParam c;
  EXPECT_TRUE(c.IsForbidden(0, 0));  // nothing known before Init
  c.Init(&g, {Node({}), Node({0}), Node({1}), Node({0, 1})}, {Agent(0), Agent(1)});
  // The time-window checker's ends feed its own window rules only: the
  // assignment it takes from its inner checker still holds at node 0.
  if constexpr (std::is_same_v<TypeParam, TimeWindowConstraintChecker>) c.SetAgentEnds({0, 0});
  const bool expected[2][4] = {{true, false, true, false}, {true, true, false, false}};
  for (uint64_t a = 0; a < 2; ++a)
    for (uint64_t n = 0; n < 4; ++n) EXPECT_EQ(c.IsForbidden(a, n), expected[a][n]) << a << "," << n;
  // Indices outside the lists are forbidden rather than read.
  EXPECT_TRUE(c.IsForbidden(2, 1));
  EXPECT_TRUE(c.IsForbidden(0, 4));
  EXPECT_TRUE(c.IsForbidden(~uint64_t{0}, ~uint64_t{0}));
}

TYPED_TEST(AssignmentRuleTest, UntypedAgentIsForbiddenEverywhere) {
  DenseTestGraph g(2, 1);
  TypeParam c;
  c.Init(&g, {Node({0}), Node({0})}, {Agent(-1)});
  EXPECT_TRUE(c.IsForbidden(0, 0));
  EXPECT_TRUE(c.IsForbidden(0, 1));
}

struct DeadEndCase {
  const char* label;
  std::vector<int64_t> agent_types;
  std::vector<uint8_t> done;
  std::vector<int64_t> node2_types;  // node 2 is the open node
  bool expected;
};

class DeadEndTest : public testing::TestWithParam<DeadEndCase> {};

TEST_P(DeadEndTest, TypeZeroRule) {
  const DeadEndCase& c = GetParam();
  DenseTestGraph g(3, 2);
  std::vector<SolverAgent> agents;
  for (int64_t t : c.agent_types) agents.push_back(Agent(t));
  const std::vector<SolverNode> nodes = {Node({0}), Node({0}), Node(c.node2_types)};
  const SearchState s = State(3, {0, 1}, std::vector<double>(agents.size(), 0.0), c.done);

  DefaultConstraintChecker d;
  d.Init(&g, nodes, agents);
  EXPECT_EQ(d.IsDeadEnd(s), c.expected);
  TimeLimitConstraintChecker tl;
  tl.Init(&g, nodes, agents);
  EXPECT_EQ(tl.IsDeadEnd(s), c.expected);
  TimeWindowConstraintChecker tw;
  tw.Init(&g, nodes, agents);
  EXPECT_EQ(tw.IsDeadEnd(s), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeadEndTest,
                         testing::Values(DeadEndCase{"OnlyTypeZeroAgentDone", {0, 1}, {1, 0}, {0}, true},
                                         DeadEndCase{"NodeAlsoServedByTypeOne", {0, 1}, {1, 0}, {0, 1}, false},
                                         DeadEndCase{"TypeZeroAgentStillOpen", {0, 0}, {1, 0}, {0}, false},
                                         DeadEndCase{"NoTypeZeroAgentAtAll", {1}, {0}, {0}, true},
                                         DeadEndCase{"TypeOneOnlyNodeIsNotConsidered", {0, 1}, {1, 1}, {1}, false},
                                         DeadEndCase{"EveryAgentDoneNodeEmptyTypes", {0}, {1}, {}, false}),
                         [](const testing::TestParamInfo<DeadEndCase>& p) { return p.param.label; });

TEST(DefaultConstraintChecker, DeadEndLooksOnlyAtGraphVertices) {
  // Node 2 is restricted to type 0 but the graph has only two vertices.
  DenseTestGraph g(2, 1);
  DefaultConstraintChecker d;
  d.Init(&g, {Node({0}), Node({0}), Node({0})}, {Agent(0)});
  const SearchState s = State(3, {0, 1}, {0.0}, {1});
  EXPECT_FALSE(d.IsDeadEnd(s));
  // The vertices are counted when the checker is initialised.
  g.AddVertex(2);
  EXPECT_FALSE(d.IsDeadEnd(s));
  d.Init(&g, {Node({0}), Node({0}), Node({0})}, {Agent(0)});
  EXPECT_TRUE(d.IsDeadEnd(s));
  // Visited nodes are fine.
  EXPECT_FALSE(d.IsDeadEnd(State(3, {0, 1, 2}, {0.0}, {1})));
  // A state without the agent's done flag treats it as open.
  EXPECT_FALSE(d.IsDeadEnd(State(3, {0, 1}, {}, {})));
}

TEST(DefaultConstraintChecker, AcceptsEveryExtensionAndAgent) {
  DenseTestGraph g(2, 1);
  DefaultConstraintChecker d;
  d.Init(&g, {Node({0}), Node({0})}, {Agent(0)});
  const SearchState s = State(2, {0, 1}, {1e9}, {0});
  EXPECT_TRUE(Same(d.CheckExtension(s, 0, 1), kAccept));
  EXPECT_TRUE(d.CheckAgent(s, 0));
}

struct LimitCase {
  double limit;
  double cost;
  bool expected;
};

class TimeLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(TimeLimitTest, ComparesCostWithLimit) {
  const LimitCase& c = GetParam();
  DenseTestGraph g(1, 1);
  TimeLimitConstraintChecker tl;
  tl.Init(&g, {Node({0})}, {Agent(0, 100.0), Agent(0, c.limit)});
  EXPECT_EQ(tl.CheckAgent(State(1, {0}, {0.0, c.cost}, {0, 0}), 1), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TimeLimitTest,
                         testing::Values(LimitCase{0.0, 1e12, true}, LimitCase{-5.0, 1e12, true},
                                         LimitCase{10.0, 10.0, true}, LimitCase{10.0, 10.5, false},
                                         LimitCase{10.0, -1.0, true}));

TEST(TimeLimitConstraintChecker, ExtensionAlwaysAcceptedAndUnknownAgentsUnlimited) {
  DenseTestGraph g(1, 1);
  TimeLimitConstraintChecker tl;
  tl.Init(&g, {Node({0})}, {Agent(0, 1.0)});
  const SearchState s = State(1, {0}, {50.0}, {0});
  EXPECT_TRUE(Same(tl.CheckExtension(s, 0, 0), kAccept));
  EXPECT_FALSE(tl.CheckAgent(s, 0));
  EXPECT_TRUE(tl.CheckAgent(s, 3));
  // Limited agent without a cost in the state cannot be shown within its limit.
  EXPECT_FALSE(tl.CheckAgent(State(1, {0}, {}, {}), 0));
}

// ---------------------------------------------------------------- composite

namespace {

// Scripted child: records the agent cost it sees and answers from a script.
struct Probe : ConstraintCheckerPlugin {
  std::string name;
  std::vector<std::string>* log;
  CheckResult answer{true, 0.0, false};
  bool forbidden = false;
  bool agent_ok = true;
  bool dead_end = false;
  mutable std::vector<double> seen_costs;

  Probe(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
  ~Probe() override { log->push_back("~" + name); }
  std::string GetName() const override { return name; }
  void Init(const PlannerGraph*, const std::vector<SolverNode>& nodes, const std::vector<SolverAgent>&) override {
    log->push_back("init " + name + " " + std::to_string(nodes.size()));
  }
  bool IsForbidden(uint64_t, uint64_t) const override {
    log->push_back("forbidden " + name);
    return forbidden;
  }
  CheckResult CheckExtension(const SearchState& s, uint64_t agent, uint64_t) const override {
    log->push_back("extension " + name);
    seen_costs.push_back(s.costs[agent]);
    return answer;
  }
  bool CheckAgent(const SearchState&, uint64_t) const override {
    log->push_back("agent " + name);
    return agent_ok;
  }
  bool IsDeadEnd(const SearchState&) const override {
    log->push_back("deadend " + name);
    return dead_end;
  }
};

struct ProbeSet {
  std::vector<std::string> log;
  CompositeConstraintChecker composite;
  std::vector<Probe*> probes;

  explicit ProbeSet(int n) {
    for (int i = 0; i < n; ++i) {
      auto p = std::make_unique<Probe>(std::string(1, static_cast<char>('A' + i)), &log);
      probes.push_back(p.get());
      composite.AddChild(std::move(p));
    }
  }
};

}  // namespace

TEST(CompositeConstraintChecker, NoChildrenAcceptsEverything) {
  CompositeConstraintChecker c;
  DenseTestGraph g(2, 1);
  c.Init(&g, {Node({}), Node({})}, {Agent(0)});
  const SearchState s = State(2, {0, 1}, {5.0}, {0});
  EXPECT_FALSE(c.IsForbidden(0, 1));
  EXPECT_FALSE(c.IsForbidden(7, 700));
  EXPECT_TRUE(Same(c.CheckExtension(s, 0, 1), kAccept));
  EXPECT_TRUE(c.CheckAgent(s, 0));
  EXPECT_FALSE(c.IsDeadEnd(s));
  EXPECT_TRUE(c.Children().empty());
}

TEST(CompositeConstraintChecker, ChildValueIsSeenByLaterChildrenAndReturned) {
  ProbeSet ps(3);
  ps.probes[0]->answer = {true, 7.0, true};
  ps.probes[1]->answer = {true, 9.0, true};
  const SearchState s = State(2, {0, 1}, {3.0, 1.0}, {0, 0});
  EXPECT_TRUE(Same(ps.composite.CheckExtension(s, 0, 1), CheckResult{true, 9.0, true}));
  EXPECT_EQ(ps.probes[0]->seen_costs, std::vector<double>{3.0});
  EXPECT_EQ(ps.probes[1]->seen_costs, std::vector<double>{7.0});
  EXPECT_EQ(ps.probes[2]->seen_costs, std::vector<double>{9.0});
  EXPECT_EQ(s.costs[0], 3.0);  // the caller's state is untouched

  // The private copy starts afresh from the caller's state on the next call.
  ps.probes[0]->answer = {true, 0.0, false};
  ps.probes[1]->answer = {true, 0.0, false};
  ps.probes[2]->answer = {true, 4.0, true};
  EXPECT_TRUE(Same(ps.composite.CheckExtension(s, 0, 1), CheckResult{true, 4.0, true}));
  EXPECT_EQ(ps.probes[1]->seen_costs.back(), 3.0);
  EXPECT_EQ(ps.probes[2]->seen_costs.back(), 3.0);
}

TEST(CompositeConstraintChecker, ValueEqualToCurrentCostStillCountsAsValue) {
  ProbeSet ps(2);
  ps.probes[1]->answer = {true, 3.0, true};
  const SearchState s = State(2, {0, 1}, {3.0}, {0});
  EXPECT_TRUE(Same(ps.composite.CheckExtension(s, 0, 1), CheckResult{true, 3.0, true}));
}

TEST(CompositeConstraintChecker, NoValuesGiveAcceptWithoutValue) {
  ProbeSet ps(2);
  EXPECT_TRUE(Same(ps.composite.CheckExtension(State(2, {0, 1}, {3.0}, {0}), 0, 1), kAccept));
}

TEST(CompositeConstraintChecker, RejectionStopsTheChainAndIsReturnedAsIs) {
  ProbeSet ps(3);
  ps.probes[0]->answer = {true, 7.0, true};
  ps.probes[1]->answer = {false, 0.0, false};
  EXPECT_TRUE(Same(ps.composite.CheckExtension(State(2, {0, 1}, {3.0}, {0}), 0, 1), kReject));
  EXPECT_TRUE(ps.probes[2]->seen_costs.empty());
}

TEST(CompositeConstraintChecker, ShortCircuitsInChildOrder) {
  ProbeSet ps(3);
  const SearchState s = State(2, {0, 1}, {3.0}, {0});
  ps.probes[1]->forbidden = true;
  ps.probes[1]->agent_ok = false;
  ps.probes[1]->dead_end = true;
  ps.log.clear();
  EXPECT_TRUE(ps.composite.IsForbidden(0, 1));
  EXPECT_FALSE(ps.composite.CheckAgent(s, 0));
  EXPECT_TRUE(ps.composite.IsDeadEnd(s));
  EXPECT_EQ(ps.log, (std::vector<std::string>{"forbidden A", "forbidden B", "agent A", "agent B", "deadend A",
                                              "deadend B"}));
  ps.probes[1]->forbidden = false;
  ps.probes[1]->agent_ok = true;
  ps.probes[1]->dead_end = false;
  EXPECT_FALSE(ps.composite.IsForbidden(0, 1));
  EXPECT_TRUE(ps.composite.CheckAgent(s, 0));
  EXPECT_FALSE(ps.composite.IsDeadEnd(s));
}

TEST(CompositeConstraintChecker, InitInOrderAndDestroyLastToFirst) {
  std::vector<std::string> log;
  {
    CompositeConstraintChecker c;
    for (const char* n : {"A", "B", "C"}) c.AddChild(std::make_unique<Probe>(n, &log));
    ASSERT_EQ(c.Children().size(), 3u);
    EXPECT_EQ(c.Children()[0]->GetName(), "A");
    EXPECT_EQ(c.Children()[2]->GetName(), "C");
    DenseTestGraph g(2, 1);
    c.Init(&g, {Node({0}), Node({0})}, {});
  }
  EXPECT_EQ(log, (std::vector<std::string>{"init A 2", "init B 2", "init C 2", "~C", "~B", "~A"}));
}

TEST(CompositeConstraintChecker, TimeLimitSeesTheTimeAfterWaiting) {
  // The solver's sequence for one move: CheckExtension, write the returned
  // value into the state, then CheckAgent. Arrival 3 at window [5, 8] waits to 5.
  DenseTestGraph g(2, 1);
  g.Link(0, 1, 3.0);
  const std::vector<SolverNode> nodes = {Node({0}), Node({0})};
  for (double limit : {4.0, 5.0}) {
    CompositeConstraintChecker c;
    c.AddChild(std::make_unique<DefaultConstraintChecker>());
    c.AddChild(std::make_unique<TimeWindowConstraintChecker>());
    c.AddChild(std::make_unique<TimeLimitConstraintChecker>());
    c.Init(&g, nodes, {Agent(0, limit)});
    auto* tw = dynamic_cast<TimeWindowConstraintChecker*>(c.Children()[1].get());
    tw->SetAgentEnds({0});
    tw->SetTimeWindows({{1, {5.0, 8.0}}});
    tw->SetAgentStarts({0});
    tw->SetReturnToEnd(true);

    SearchState w = State(2, {0, 1}, {3.0}, {0});
    const CheckResult r = c.CheckExtension(w, 0, 1);
    ASSERT_TRUE(Same(r, CheckResult{true, 5.0, true}));
    // Before waiting the limit of 4 would pass.
    EXPECT_TRUE(c.CheckAgent(w, 0));
    w.costs[0] = r.value;
    EXPECT_EQ(c.CheckAgent(w, 0), limit >= 5.0) << limit;
  }
}
