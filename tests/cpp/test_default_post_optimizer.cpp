#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "postopt/default_post_optimizer.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using namespace velmora::testing_support;

namespace {

using Hand = HandInstance<DefaultPostOptimizer>;

// Agent 0 runs [0, 4, 1] (cost 10, or 7 without node 4); agent 1 runs [2, 3]
// (cost 4); moving node 4 into agent 1 gives [2, 4, 3] of cost 2->4 + 4->3.
Hand MoveInstance(double into, double out_of) {
  Hand h(5, 1, 100.0);
  h.g.Set(0, 4, 5.0);
  h.g.Set(4, 1, 5.0);
  h.g.Set(0, 1, 7.0);
  h.g.Set(2, 3, 4.0);
  h.g.Set(2, 4, into);
  h.g.Set(4, 3, out_of);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0)};
  h.Configure({0, 2}, {1, 3});
  h.result.paths = {{0, {0, 4, 1}}, {1, {2, 3}}};
  return h;
}

}  // namespace

TEST(DefaultPostOptimizer, Name) { EXPECT_EQ(DefaultPostOptimizer().GetName(), "DefaultPostOptimizer"); }

struct GainCase {
  double receiver_cost;  // cost of [2, 4, 3]
  bool moves;
};

class RelocationGain : public ::testing::TestWithParam<GainCase> {};

// Costs 10 and 4 become 7 and X: the move needs 10 - max(7, X) > 0.
TEST_P(RelocationGain, TakenOnlyWithPositiveGain) {
  Hand h = MoveInstance(4.5, GetParam().receiver_cost - 4.5);
  EXPECT_EQ(h.Run(), "");
  if (GetParam().moves) {
    EXPECT_EQ(h.result.paths, (std::map<int64_t, std::vector<int64_t>>{{0, {0, 1}}, {1, {2, 4, 3}}}));
    EXPECT_EQ(h.result.times.at(0), 7.0);
    EXPECT_DOUBLE_EQ(h.result.times.at(1), GetParam().receiver_cost);
  } else {
    EXPECT_EQ(h.result.paths, (std::map<int64_t, std::vector<int64_t>>{{0, {0, 4, 1}}, {1, {2, 3}}}));
    EXPECT_EQ(h.result.times, (std::map<int64_t, double>{{0, 10.0}, {1, 4.0}}));
  }
}

INSTANTIATE_TEST_SUITE_P(All, RelocationGain,
                         ::testing::Values(GainCase{9.0, true}, GainCase{10.0, false}, GainCase{10.0 - 1e-6, true},
                                           GainCase{11.0, false}));

TEST(DefaultPostOptimizer, EqualGainsKeepTheFirstCandidate) {
  // Donor [0, 4, 5, 1] costs 12; dropping node 4 or node 5 both leave 8 and
  // both insertions into [2, 3] give 6. Its reversal also costs 12 (kept).
  Hand h(6, 1, 50.0);
  for (auto arc : {std::make_pair(0, 4), {4, 5}, {5, 1}, {0, 5}, {5, 4}, {4, 1}})
    h.g.Set(arc.first, arc.second, 4.0);
  h.g.Set(2, 3, 2.0);
  for (auto arc : {std::make_pair(2, 4), {4, 3}, {2, 5}, {5, 3}}) h.g.Set(arc.first, arc.second, 3.0);
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 0)};
  h.Configure({0, 2}, {1, 3});
  h.result.paths = {{0, {0, 4, 5, 1}}, {1, {2, 3}}};
  h.Run();
  EXPECT_EQ(h.result.paths.at(0), (Route{0, 5, 1}));
  EXPECT_EQ(h.result.paths.at(1), (Route{2, 4, 3}));
  EXPECT_EQ(h.result.times, (std::map<int64_t, double>{{0, 8.0}, {1, 6.0}}));
}

struct ReceiverCase {
  WindowTable windows;
  double receiver_limit;
  bool moves;
  double donor_cost;     // expected afterwards
  double receiver_cost;  // expected afterwards
};

class ReceiverConstraints : public ::testing::TestWithParam<ReceiverCase> {};

// Node 4 is reached at time 5 in [0, 4, 1] and at time 6 in [2, 4, 3].
TEST_P(ReceiverConstraints, WindowsAndLimitsDecideTheMove) {
  const ReceiverCase& c = GetParam();
  Hand h = MoveInstance(6.0, 3.0);
  h.agents[1].time_limit = c.receiver_limit;
  h.Configure({0, 2}, {1, 3}, c.windows);
  h.Run();
  EXPECT_EQ(h.result.paths.at(0), c.moves ? (Route{0, 1}) : (Route{0, 4, 1}));
  EXPECT_EQ(h.result.paths.at(1), c.moves ? (Route{2, 4, 3}) : (Route{2, 3}));
  EXPECT_DOUBLE_EQ(h.result.times.at(0), c.donor_cost);
  EXPECT_DOUBLE_EQ(h.result.times.at(1), c.receiver_cost);
}

INSTANTIATE_TEST_SUITE_P(All, ReceiverConstraints,
                         ::testing::Values(ReceiverCase{{}, 0.0, true, 7.0, 9.0},
                                           ReceiverCase{{{4, {0.0, 5.5}}}, 0.0, false, 10.0, 4.0},   // closes
                                           ReceiverCase{{{4, {6.5, 10.0}}}, 0.0, true, 7.0, 9.5},    // waits
                                           ReceiverCase{{}, 8.5, false, 10.0, 4.0},  // over limit
                                           ReceiverCase{{}, 9.0, true, 7.0, 9.0}));

class CrossGroup : public ::testing::TestWithParam<bool> {};

// Agent 0 (type 0) runs [0, 4, 1] at cost 10; agent 1 (type 1) runs [2, 3] at
// cost 4. Node 4 moves across only when type 1 may serve it, and does not come
// back (that would cost 10 again).
TEST_P(CrossGroup, MovesAcrossTypesWhenAllowed) {
  const bool allowed = GetParam();
  Hand h(5, 2, 100.0, {0, 1});
  h.nodes[4].types = allowed ? std::vector<int64_t>{0, 1} : std::vector<int64_t>{0};
  h.g.Set(0, 4, {5.0, 100.0});
  h.g.Set(4, 1, {5.0, 100.0});
  h.g.Set(0, 1, {7.0, 100.0});
  h.g.Set(2, 3, {100.0, 4.0});
  h.g.Set(2, 4, {100.0, 4.5});
  h.g.Set(4, 3, {100.0, 4.5});
  h.agents = {MakeAgent(0, 0), MakeAgent(1, 1)};
  h.Configure({0, 2}, {1, 3});
  h.result.paths = {{0, {0, 4, 1}}, {1, {2, 3}}};
  h.Run();
  EXPECT_EQ(h.opt.GroupOrder(), (std::vector<int64_t>{0, 1}));
  if (allowed) {
    EXPECT_EQ(h.result.paths.at(0), (Route{0, 1}));
    EXPECT_EQ(h.result.paths.at(1), (Route{2, 4, 3}));
    EXPECT_EQ(h.result.times, (std::map<int64_t, double>{{0, 7.0}, {1, 9.0}}));
  } else {
    EXPECT_EQ(h.result.paths.at(0), (Route{0, 4, 1}));
    EXPECT_EQ(h.result.times, (std::map<int64_t, double>{{0, 10.0}, {1, 4.0}}));
  }
}

INSTANTIATE_TEST_SUITE_P(All, CrossGroup, ::testing::Bool());

TEST(DefaultPostOptimizer, InvalidRouteKeptWithCostZeroAndReported) {
  Hand h = MoveInstance(4.5, 4.5);
  h.result.paths[0] = {4, 1};  // does not start at agent 0's start
  EXPECT_EQ(h.Run(),
            "[post-opt] invalid path for agent 0, skip optimize\n"
            "[post-opt] invalid path for agent 0, skip optimize\n");
  EXPECT_EQ(h.result.paths.at(0), (Route{4, 1}));
  EXPECT_EQ(h.result.paths.at(1), (Route{2, 3}));
  EXPECT_EQ(h.result.times, (std::map<int64_t, double>{{0, 0.0}, {1, 4.0}}));
}

TEST(DefaultPostOptimizer, NonFiniteCostIsReported) {
  Hand h(2, 1, std::numeric_limits<double>::infinity());
  h.agents = {MakeAgent(0, 0)};
  h.Configure({0}, {1});
  h.result.paths = {{0, {0, 1}}};
  EXPECT_EQ(h.Run(), "[post-opt] path invalid or over capacity, skip agent 0\n");
  EXPECT_EQ(h.result.times.at(0), std::numeric_limits<double>::infinity());
}

TEST(DefaultPostOptimizer, WriteBackHasExactlyOneEntryPerAgent) {
  Hand h = MoveInstance(4.5, 4.5);
  h.result.paths = {{1, {2, 3}}, {7, {1, 2}}};  // agent 0 absent, 7 unknown
  h.result.times = {{7, 3.0}};
  h.result.n_generated = 42;
  EXPECT_EQ(h.Run(), "");
  EXPECT_EQ(h.result.paths, (std::map<int64_t, std::vector<int64_t>>{{0, {}}, {1, {2, 3}}}));
  EXPECT_EQ(h.result.times, (std::map<int64_t, double>{{0, 0.0}, {1, 4.0}}));
  EXPECT_EQ(h.result.n_generated, 42);

  h.agents.clear();
  h.Run();
  EXPECT_TRUE(h.result.paths.empty());
  EXPECT_TRUE(h.result.times.empty());
}

TEST(DefaultPostOptimizer, StraightensRoutesInsideGroups) {
  Hand h(5, 1, 0.0);
  h.g = EuclideanGraph({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}});
  h.nodes = MakeNodes(5);
  h.agents = {MakeAgent(0, 0)};
  h.Configure({0}, {4});
  h.result.paths = {{0, {0, 3, 1, 2, 4}}};
  h.Run();
  EXPECT_EQ(h.result.paths.at(0), (Route{0, 1, 2, 3, 4}));
  EXPECT_EQ(h.result.times.at(0), 4.0);
}

TEST(DefaultPostOptimizer, ApplyRelocationChecksIndices) {
  Hand h = MoveInstance(4.5, 5.5);
  h.Run();  // gain 0: nothing moved, state loaded
  const RouteRecord donor{0, 10.0, {0, 4, 1}};
  const RouteRecord receiver{1, 4.0, {2, 3}};
  for (auto ij : {std::make_pair(0, 1), {-1, 1}, {2, 1}, {1, 0}, {1, 2}, {1, -3}}) {
    RouteRecord d = donor;
    RouteRecord r = receiver;
    ::testing::internal::CaptureStderr();
    h.opt.ApplyRelocation(d, r, ij.first, ij.second);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Invalid indices.\n") << ij.first << "," << ij.second;
    EXPECT_EQ(d.route, donor.route);
    EXPECT_EQ(r.route, receiver.route);
  }
  RouteRecord tiny{0, 0.0, {0}};
  RouteRecord r = receiver;
  ::testing::internal::CaptureStderr();
  h.opt.ApplyRelocation(tiny, r, 5, 5);  // too short: silently nothing
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  // A valid move is applied whatever its gain.
  RouteRecord d = donor;
  h.opt.ApplyRelocation(d, r, 1, 1);
  EXPECT_EQ(d.route, (Route{0, 1}));
  EXPECT_EQ(d.cost, 7.0);
  EXPECT_EQ(r.route, (Route{2, 4, 3}));
  EXPECT_EQ(r.cost, 10.0);
}

namespace {

double Longest(const RandomInstance& inst, const Result& r) {
  double top = 0.0;
  for (const auto& entry : r.paths) {
    const RefCost rc = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, entry.second,
                                         static_cast<uint64_t>(entry.first));
    if (rc.valid) top = std::max(top, rc.cost);
  }
  return top;
}

// FindRelocation spelled out on materialised copies.
Relocation NaiveRelocation(const DefaultPostOptimizer& opt, const RandomInstance& inst, int64_t A, int64_t B) {
  Relocation best;
  const auto& ga = opt.Groups().at(A);
  const auto& gb = opt.Groups().at(B);
  const RouteRecord& a = opt.Records()[ga.costliest];
  const RouteRecord& b = opt.Records()[gb.cheapest];
  if (ga.costliest == gb.cheapest || a.route.size() < 2 || b.route.size() < 2) return best;
  for (size_t i = 1; i + 2 <= a.route.size(); ++i) {
    const int64_t v = a.route[i];
    const auto& types = inst.nodes[v].types;
    if (A != B && std::find(types.begin(), types.end(), gb.type) == types.end()) continue;
    for (size_t j = 1; j < b.route.size(); ++j) {
      Route ra = a.route;
      ra.erase(ra.begin() + i);
      Route rb = b.route;
      rb.insert(rb.begin() + j, v);
      const RefCost ca = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, ra, a.agent);
      const RefCost cb = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, rb, b.agent);
      if (!ca.valid || !cb.valid) continue;
      const double gain = a.cost - std::max(ca.cost, cb.cost);
      if (gain > best.gain) {
        best.gain = gain;
        best.donor_position = static_cast<int64_t>(i);
        best.receiver_position = static_cast<int64_t>(j);
      }
    }
  }
  return best;
}

}  // namespace

TEST(DefaultPostOptimizer, RandomInstancesWriteBackEvaluatedCosts) {
  std::mt19937 rng(5);
  int changed = 0;
  int positive = 0;
  for (int round = 0; round < 300; ++round) {
    RandomInstance inst = RandomInstance::Make(rng, round % 4 == 0);
    DefaultPostOptimizer opt;
    ConfigureFrom(opt, inst.cfg);
    Result out = inst.result;
    ::testing::internal::CaptureStderr();
    opt.Optimize(&inst.graph, inst.nodes, inst.agents, out);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(out.paths.size(), inst.agents.size());
    ExpectConsistentWriteBack(inst, out);
    ASSERT_EQ(AllNodes(out), AllNodes(inst.result));
    if (round % 4 != 0) {
      ASSERT_LE(Longest(inst, out), Longest(inst, inst.result));
    }
    if (out.paths != inst.result.paths) ++changed;
    // The optimised relocation search agrees with the literal one.
    for (int64_t A : opt.GroupOrder())
      for (int64_t B : opt.GroupOrder()) {
        const Relocation fast = opt.FindRelocation(A, B);
        const Relocation slow = NaiveRelocation(opt, inst, A, B);
        ASSERT_EQ(fast.donor_position, slow.donor_position);
        ASSERT_EQ(fast.receiver_position, slow.receiver_position);
        ASSERT_EQ(fast.gain, slow.gain);
        if (fast.gain > 0) ++positive;
      }
  }
  EXPECT_GT(changed, 30);
  EXPECT_GT(positive, 30);  // the comparison covers moves that help
}
