#include <gtest/gtest.h>

#include "plugins/default_focal_comparator.hpp"

using namespace velmora;

namespace {

FocalEntry Entry(int64_t visited, double f, double total, int64_t id = 0, int64_t agents_left = 1) {
  FocalEntry e;
  e.id = id;
  e.visited_count = visited;
  e.agents_left = agents_left;
  e.f = f;
  e.total_cost = total;
  return e;
}

}  // namespace

TEST(DefaultFocalComparator, Name) { EXPECT_EQ(DefaultFocalComparator().GetName(), "DefaultFocalComparator"); }

TEST(DefaultFocalComparator, MoreVisitedGoesFirstWhateverF) {
  DefaultFocalComparator c;
  EXPECT_TRUE(c.Compare(Entry(5, 100.0, 100.0), Entry(4, 1.0, 1.0)));
  EXPECT_FALSE(c.Compare(Entry(4, 1.0, 1.0), Entry(5, 100.0, 100.0)));
  // Signed comparison.
  EXPECT_TRUE(c.Compare(Entry(0, 9.0, 9.0), Entry(-1, 1.0, 1.0)));
}

TEST(DefaultFocalComparator, ThenSmallerF) {
  DefaultFocalComparator c;
  EXPECT_TRUE(c.Compare(Entry(3, 2.0, 50.0), Entry(3, 2.5, 1.0)));
  EXPECT_FALSE(c.Compare(Entry(3, 2.5, 1.0), Entry(3, 2.0, 50.0)));
}

TEST(DefaultFocalComparator, ThenSmallerTotalCost) {
  DefaultFocalComparator c;
  EXPECT_TRUE(c.Compare(Entry(3, 2.0, 1.0), Entry(3, 2.0, 1.5)));
  EXPECT_FALSE(c.Compare(Entry(3, 2.0, 1.5), Entry(3, 2.0, 1.0)));
}

TEST(DefaultFocalComparator, IdAndAgentsLeftPlayNoPart) {
  DefaultFocalComparator c;
  const FocalEntry a = Entry(3, 2.0, 1.0, 1, 1);
  const FocalEntry b = Entry(3, 2.0, 1.0, 99, 7);
  EXPECT_FALSE(c.Compare(a, b));
  EXPECT_FALSE(c.Compare(b, a));
}
