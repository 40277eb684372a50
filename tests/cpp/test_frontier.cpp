#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <vector>

#include "solver/frontier.hpp"

using namespace velmora;

namespace {

SearchState MakeState(double g, std::vector<double> costs, std::initializer_list<uint64_t> visited) {
  SearchState s;
  s.g = g;
  s.costs = std::move(costs);
  for (uint64_t i : visited) s.visited.set(i);
  return s;
}

}  // namespace

TEST(Frontier, EmptyArchiveDominatesNothing) {
  Frontier f;
  EXPECT_FALSE(f.IsDominated(MakeState(0.0, {}, {})));
  EXPECT_EQ(f.size(), 0u);
}

TEST(Frontier, InsertedStateDominatesItsCopy) {
  Frontier f;
  const SearchState s = MakeState(5.0, {2.0, 3.0}, {0, 4});
  EXPECT_EQ(f.Insert(s), 0u);
  EXPECT_EQ(f.size(), 1u);
  EXPECT_TRUE(f.IsDominated(s));
}

struct DominanceCase {
  const char* name;
  SearchState candidate;
  bool dominated;
};

class FrontierDominance : public testing::TestWithParam<DominanceCase> {};

// Archived: g 10, costs (4, 6), visited {0, 1, 255}.
TEST_P(FrontierDominance, AgainstOneArchivedState) {
  Frontier f;
  f.Insert(MakeState(10.0, {4.0, 6.0}, {0, 1, 255}));
  EXPECT_EQ(f.IsDominated(GetParam().candidate), GetParam().dominated);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrontierDominance,
    testing::Values(DominanceCase{"ExactTie", MakeState(10.0, {4.0, 6.0}, {0, 1, 255}), true},
                    DominanceCase{"WorseEverywhere", MakeState(11.0, {5.0, 7.0}, {0, 1}), true},
                    DominanceCase{"FewerVisited", MakeState(10.0, {4.0, 6.0}, {1}), true},
                    DominanceCase{"LowerG", MakeState(9.5, {4.0, 6.0}, {0, 1, 255}), false},
                    DominanceCase{"LowerFirstCost", MakeState(10.0, {3.0, 6.0}, {0, 1, 255}), false},
                    DominanceCase{"LowerLastCost", MakeState(12.0, {5.0, 5.5}, {0, 1}), false},
                    DominanceCase{"ExtraNodeLowBit", MakeState(10.0, {4.0, 6.0}, {0, 1, 2, 255}), false},
                    DominanceCase{"ExtraNodeInLastWord", MakeState(20.0, {9.0, 9.0}, {0, 1, 200, 255}), false},
                    DominanceCase{"DisjointVisited", MakeState(20.0, {9.0, 9.0}, {2}), false}),
    [](const testing::TestParamInfo<DominanceCase>& param_info) { return std::string(param_info.param.name); });

TEST(Frontier, MoreVisitedStateReplacesArchivedOne) {
  Frontier f;
  const SearchState old = MakeState(7.0, {3.0, 4.0}, {0, 2});
  f.Insert(old);
  const SearchState better = MakeState(7.0, {3.0, 4.0}, {0, 2, 3});
  EXPECT_EQ(f.Insert(better), 1u);
  EXPECT_EQ(f.size(), 1u);
  EXPECT_TRUE(f.IsDominated(old));
  EXPECT_TRUE(f.IsDominated(better));
}

TEST(Frontier, TieReplacesArchivedCopy) {
  Frontier f;
  const SearchState s = MakeState(7.0, {3.0}, {1});
  f.Insert(s);
  EXPECT_EQ(f.Insert(s), 1u);
  EXPECT_EQ(f.size(), 1u);
}

TEST(Frontier, IncomparableStatesAreBothKept) {
  Frontier f;
  const SearchState a = MakeState(10.0, {4.0, 6.0}, {0});
  const SearchState b = MakeState(8.0, {4.0, 7.0}, {0});  // lower g, higher cost of agent 1
  EXPECT_EQ(f.Insert(a), 0u);
  EXPECT_FALSE(f.IsDominated(b));
  EXPECT_EQ(f.Insert(b), 0u);
  EXPECT_EQ(f.size(), 2u);
  EXPECT_TRUE(f.IsDominated(a));
  EXPECT_TRUE(f.IsDominated(b));
  // Only a covers this one (cost of agent 1 below b's); only b covers the next.
  EXPECT_TRUE(f.IsDominated(MakeState(10.0, {4.0, 6.5}, {0})));
  EXPECT_TRUE(f.IsDominated(MakeState(9.0, {4.0, 7.0}, {0})));
  EXPECT_FALSE(f.IsDominated(MakeState(9.0, {4.0, 6.5}, {0})));
}

TEST(Frontier, InsertRemovesEveryDominatedStateAndKeepsTheRest) {
  Frontier f;
  const SearchState a = MakeState(10.0, {5.0, 5.0}, {0});
  const SearchState b = MakeState(12.0, {2.0, 9.0}, {1});
  const SearchState c = MakeState(11.0, {6.0, 4.0}, {0});
  const SearchState d = MakeState(4.0, {9.0, 1.0}, {0});
  for (const SearchState& s : {a, b, c, d}) EXPECT_EQ(f.Insert(s), 0u);
  ASSERT_EQ(f.size(), 4u);

  // Dominates a and c, not b (agent 0) nor d (g).
  EXPECT_EQ(f.Insert(MakeState(10.0, {5.0, 4.0}, {0, 1})), 2u);
  EXPECT_EQ(f.size(), 3u);
  EXPECT_TRUE(f.IsDominated(b));
  EXPECT_TRUE(f.IsDominated(d));
  EXPECT_FALSE(f.IsDominated(MakeState(12.0, {2.0, 9.0}, {0, 1})));
}

TEST(Frontier, InsertDoesNotCheckWhetherTheNewStateIsDominated) {
  Frontier f;
  f.Insert(MakeState(1.0, {1.0}, {0, 1}));
  EXPECT_EQ(f.Insert(MakeState(2.0, {2.0}, {0})), 0u);
  EXPECT_EQ(f.size(), 2u);
}

TEST(Frontier, ArchiveHoldsIndependentCopies) {
  Frontier f;
  SearchState s = MakeState(5.0, {5.0}, {0});
  f.Insert(s);
  s.g = 1.0;
  s.costs[0] = 1.0;
  s.visited.set(9);
  EXPECT_FALSE(f.IsDominated(s));
}

TEST(Frontier, CostListsOfDifferentLengthsNeverReadPastTheShorterList) {
  Frontier f;
  f.Insert(MakeState(5.0, {1.0, 1.0}, {0}));
  // The archived state's second cost has no counterpart: not shown to dominate.
  EXPECT_FALSE(f.IsDominated(MakeState(9.0, {9.0}, {0})));
  // Compared over the archived list only.
  Frontier g;
  g.Insert(MakeState(5.0, {1.0}, {0}));
  EXPECT_TRUE(g.IsDominated(MakeState(9.0, {9.0, 0.0}, {0})));
  // Insert compares over the new state's list.
  EXPECT_EQ(g.Insert(MakeState(1.0, {0.5, 0.5}, {0})), 0u);
  EXPECT_EQ(g.Insert(MakeState(1.0, {0.5}, {0})), 2u);
  EXPECT_EQ(g.size(), 1u);
}

// Reference: archive of full copies, dominance written out as stated.
class FrontierRandomised : public testing::TestWithParam<unsigned> {};

TEST_P(FrontierRandomised, MatchesNaiveArchive) {
  std::mt19937 rng(GetParam());
  auto pick = [&](int hi) { return std::uniform_int_distribution<int>(0, hi)(rng); };
  auto dominates = [](const SearchState& a, const SearchState& b) {
    if (!(a.g <= b.g)) return false;
    for (size_t k = 0; k < a.costs.size(); ++k)
      if (!(a.costs[k] <= b.costs[k])) return false;
    for (uint64_t i = 0; i < 256; ++i)
      if (b.visited.test(i) && !a.visited.test(i)) return false;
    return true;
  };
  Frontier f;
  std::vector<SearchState> ref;
  for (int step = 0; step < 600; ++step) {
    SearchState s;
    s.g = pick(6);
    s.costs = {static_cast<double>(pick(4)), static_cast<double>(pick(4)), static_cast<double>(pick(4))};
    for (uint64_t i : {0, 1, 63, 64, 130, 255})
      if (pick(1)) s.visited.set(i);

    bool want = false;
    for (const SearchState& a : ref) want = want || dominates(a, s);
    ASSERT_EQ(f.IsDominated(s), want) << "step " << step;
    if (want && pick(3) != 0) continue;  // mostly archive only undominated states, as the search does

    uint32_t removed = 0;
    std::vector<SearchState> kept;
    for (const SearchState& a : ref) {
      if (dominates(s, a)) ++removed;
      else kept.push_back(a);
    }
    kept.push_back(s);
    ref.swap(kept);
    ASSERT_EQ(f.Insert(s), removed) << "step " << step;
    ASSERT_EQ(f.size(), ref.size()) << "step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, FrontierRandomised, testing::Values(11u, 12u, 13u, 14u));
