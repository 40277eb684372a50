#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "plugins/default_expansion.hpp"
#include "plugins/default_objective.hpp"
#include "plugins/min_sum_objective.hpp"

using namespace velmora;

namespace {

const double kMax = std::numeric_limits<double>::max();

SearchState MakeState(const std::vector<double>& costs, const std::vector<uint8_t>& done) {
  SearchState s;
  s.costs = costs;
  s.done = done;
  s.positions.assign(costs.size(), 0);
  return s;
}

DefaultExpansion MakeExpansion(size_t agents) {
  DefaultExpansion e;
  e.SetAgentEnds(std::vector<uint64_t>(agents, 0));
  return e;
}

}  // namespace

TEST(SearchPluginNames, AreFixed) {
  EXPECT_EQ(DefaultExpansion().GetName(), "DefaultExpansion");
  EXPECT_EQ(DefaultObjective().GetName(), "DefaultObjective");
  EXPECT_EQ(MinSumObjective().GetName(), "MinSumObjective");
}

struct SelectCase {
  const char* label;
  std::vector<double> costs;
  std::vector<uint8_t> done;
  int64_t expected;
};

class SelectAgentTest : public testing::TestWithParam<SelectCase> {};

TEST_P(SelectAgentTest, PicksCheapestOpenAgent) {
  const SelectCase& c = GetParam();
  EXPECT_EQ(MakeExpansion(c.costs.size()).SelectAgent(MakeState(c.costs, c.done)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectAgentTest,
                         testing::Values(SelectCase{"TieGoesToLowestIndex", {5, 3, 3}, {0, 0, 0}, 1},
                                         SelectCase{"AllDone", {1, 2}, {1, 1}, -1},
                                         SelectCase{"DoneAgentSkippedEvenIfCheapest", {0, 7, 4}, {1, 0, 0}, 2},
                                         SelectCase{"CostAtLargestDoubleNeverChosen", {kMax, kMax}, {0, 0}, -1},
                                         SelectCase{
                                             "CostAtLargestDoubleLosesToAnyOther", {kMax, 1e300}, {0, 0}, 1},
                                         SelectCase{"NegativeCostsCount", {0, -2}, {0, 0}, 1}),
                         [](const testing::TestParamInfo<SelectCase>& p) { return p.param.label; });

TEST(DefaultExpansion, NoAgentsUntilEndsAreSet) {
  DefaultExpansion e;
  EXPECT_EQ(e.SelectAgent(MakeState({1.0}, {0})), -1);
  e.SetAgentEnds({4});
  EXPECT_EQ(e.SelectAgent(MakeState({1.0}, {0})), 0);
}

TEST(DefaultExpansion, AgentsMissingFromTheStateAreNotRead) {
  // Three agents configured, state carries two.
  EXPECT_EQ(MakeExpansion(3).SelectAgent(MakeState({4.0, 2.0}, {0, 0})), 1);
}

TEST(DefaultObjective, RouteCostIsTheLargestCost) {
  DefaultObjective o;
  EXPECT_EQ(o.RouteCost({}), 0.0);
  EXPECT_EQ(o.RouteCost({3.0, 9.5, 2.0}), 9.5);
  EXPECT_EQ(o.RouteCost({-3.0, -1.0}), -1.0);  // not clipped at 0
}

struct EvalCase {
  const char* label;
  std::vector<double> costs;
  std::vector<uint8_t> done;
  int64_t agents_left;
  double h;
  double minmax;
  double minsum;
};

class ObjectiveEvaluateTest : public testing::TestWithParam<EvalCase> {};

TEST_P(ObjectiveEvaluateTest, GivesF) {
  const EvalCase& c = GetParam();
  const SearchState s = MakeState(c.costs, c.done);
  EXPECT_DOUBLE_EQ(DefaultObjective().Evaluate(s, c.agents_left, c.h), c.minmax);
  EXPECT_DOUBLE_EQ(MinSumObjective().Evaluate(s, c.agents_left, c.h), c.minsum);
}

INSTANTIATE_TEST_SUITE_P(Cases, ObjectiveEvaluateTest,
                         testing::Values(
                             // Longest route dominates the spread estimate.
                             EvalCase{"LongestRouteWins", {10, 2}, {1, 0}, 1, 4, 10, 16},
                             // Open route plus estimate exceeds it.
                             EvalCase{"SpreadEstimateWins", {10, 2}, {1, 0}, 1, 20, 22, 32},
                             // Two open routes share the estimate: (4 + 6 + 10) / 2 = 10.
                             EvalCase{"EstimateSharedByOpenAgents", {4, 6}, {0, 0}, 2, 10, 10, 20},
                             // No open agent: f is g.
                             EvalCase{"NoAgentsLeft", {3, 8}, {1, 1}, 0, 100, 8, 111},
                             EvalCase{"NegativeAgentsLeft", {3, 8}, {1, 1}, -1, 100, 8, 111},
                             // agents_left comes from the caller, not from the done flags.
                             EvalCase{"AgentsLeftTakenAsGiven", {4, 6}, {0, 0}, 4, 30, 10, 40}),
                         [](const testing::TestParamInfo<EvalCase>& p) { return p.param.label; });

TEST(DefaultObjective, EvaluateGoesThroughRouteCost) {
  // A subclass's RouteCost is what Evaluate compares against.
  struct Shifted : DefaultObjective {
    double RouteCost(const std::vector<double>&) const override { return 1000.0; }
  };
  EXPECT_EQ(Shifted().Evaluate(MakeState({10, 2}, {0, 0}), 2, 4), 1000.0);
  EXPECT_EQ(Shifted().Evaluate(MakeState({10, 2}, {0, 0}), 0, 4), 1000.0);
}

TEST(MinSumObjective, RouteCostSumsInOrder) {
  MinSumObjective o;
  EXPECT_EQ(o.RouteCost({}), 0.0);
  EXPECT_EQ(o.RouteCost({10.0, 2.0, 0.5}), 12.5);
  // Left-to-right addition: 1e16 + 1 + 1 rounds away both ones.
  EXPECT_EQ(o.RouteCost({1e16, 1.0, 1.0}), 1e16);
  o.SetAgentEnds({1, 2});  // accepted and ignored
  EXPECT_EQ(o.RouteCost({1.0}), 1.0);
}

TEST(MinSumObjective, EvaluateGoesThroughRouteCost) {
  struct Doubled : MinSumObjective {
    double RouteCost(const std::vector<double>& c) const override { return 2 * MinSumObjective::RouteCost(c); }
  };
  EXPECT_EQ(Doubled().Evaluate(MakeState({10, 2}, {0, 0}), 2, 4), 28.0);
}
