#include <gtest/gtest.h>

#include "solver/frontier.hpp"
#include "solver/memory_guard.hpp"
#include "solver/state_arena.hpp"

using namespace velmora;

namespace {

SearchState MakeState(uint64_t seed, size_t agents) {
  SearchState s;
  s.n_nodes = 200;
  for (size_t k = 0; k < agents; ++k) {
    s.positions.push_back((seed * 7 + k * 13) % 256);
    s.costs.push_back(static_cast<double>(seed) + 0.25 * static_cast<double>(k));
    s.done.push_back(static_cast<uint8_t>((seed + k) % 2));
  }
  s.visited.set(seed % 256);
  s.visited.set(255);
  s.g = static_cast<double>(seed) * 2.0;
  s.h = 1.5;
  s.f = s.g + s.h;
  s.agents_left = static_cast<int64_t>(agents) - 1;
  s.last_agent = static_cast<int64_t>(seed % agents);
  return s;
}

}  // namespace

TEST(StateArena, LoadGivesBackWhatWasStoredAcrossChunks) {
  const size_t agents = 3;
  StateArena arena;
  arena.Reset(agents, 200);
  const uint64_t count = StateArena::kChunkStates * 2 + 5;
  for (uint64_t i = 0; i < count; ++i) {
    EXPECT_EQ(arena.Append(MakeState(i, agents), static_cast<int64_t>(i) - 1), i);
  }
  EXPECT_EQ(arena.size(), count);
  SearchState out;
  for (uint64_t i :
       {uint64_t{0}, uint64_t{1}, StateArena::kChunkStates - 1, StateArena::kChunkStates, count - 1}) {
    const SearchState in = MakeState(i, agents);
    arena.Load(i, out);
    EXPECT_EQ(out.id, static_cast<int64_t>(i));
    EXPECT_EQ(out.positions, in.positions);
    EXPECT_EQ(out.costs, in.costs);
    EXPECT_EQ(out.done, in.done);
    EXPECT_EQ(out.visited, in.visited);
    EXPECT_EQ(out.n_nodes, 200);
    EXPECT_EQ(out.g, in.g);
    EXPECT_EQ(out.h, in.h);
    EXPECT_EQ(out.f, in.f);
    EXPECT_EQ(out.agents_left, in.agents_left);
    EXPECT_EQ(out.last_agent, in.last_agent);
    EXPECT_TRUE(out.aux.empty());
    EXPECT_EQ(arena.Parent(i), static_cast<int64_t>(i) - 1);
    EXPECT_EQ(arena.F(i), in.f);
    EXPECT_EQ(arena.Position(i, 2), in.positions[2]);
  }
}

TEST(StateArena, StoredCostsStayInPlaceWhileTheArenaGrows) {
  StateArena arena;
  arena.Reset(2, 10);
  arena.Append(MakeState(9, 2), -1);
  const double* costs = arena.Costs(0);
  for (uint64_t i = 1; i < 3 * StateArena::kChunkStates; ++i) arena.Append(MakeState(i, 2), 0);
  EXPECT_EQ(arena.Costs(0), costs);
  EXPECT_EQ(costs[0], 9.0);
  EXPECT_EQ(costs[1], 9.25);
  EXPECT_EQ(arena.bytes() % StateArena::kChunkStates, 0u);
  arena.Reset(2, 10);
  EXPECT_EQ(arena.size(), 0u);
  EXPECT_EQ(arena.bytes(), 0u);
}

TEST(Frontier, SharedEntriesDominateLikeCopies) {
  StateArena arena;
  arena.Reset(2, 8);
  SearchState a = MakeState(4, 2);
  a.costs = {1.0, 2.0};
  a.g = 2.0;
  arena.Append(a, -1);
  Frontier shared, copied;
  shared.InsertShared(a.visited, a.g, arena.Costs(0), 2);
  copied.Insert(a);
  SearchState b = a;
  for (const auto& costs :
       {std::vector<double>{1.0, 2.0}, std::vector<double>{1.0, 1.5}, std::vector<double>{3.0, 2.0}}) {
    b.costs = costs;
    EXPECT_EQ(shared.IsDominated(b), copied.IsDominated(b));
  }
  b.costs = {0.5, 0.5};
  b.g = 0.5;
  EXPECT_EQ(shared.Insert(b), 1u);  // the cheaper state replaces the shared entry
  EXPECT_EQ(shared.size(), 1u);
}

TEST(MemoryGuard, CountsAllRunningSearchesOfTheProcess) {
  const size_t mib = size_t{1} << 20;
  const size_t before = MemoryGuard::ProcessTotal();
  {
    MemoryGuard a(100 * mib + before);
    EXPECT_FALSE(a.Exceeded(60 * mib, 0.0));
    {
      MemoryGuard b(100 * mib + before);
      EXPECT_TRUE(b.Exceeded(50 * mib, 0.0));  // 110 MiB together
      EXPECT_EQ(MemoryGuard::ProcessTotal(), before + 110 * mib);
    }
    EXPECT_EQ(MemoryGuard::ProcessTotal(), before + 60 * mib);
    EXPECT_FALSE(a.Exceeded(60 * mib + 1000, 0.0));  // below the reporting step
    EXPECT_EQ(MemoryGuard::ProcessTotal(), before + 60 * mib);
    EXPECT_FALSE(a.Exceeded(20 * mib, 0.0));
    EXPECT_EQ(MemoryGuard::ProcessTotal(), before + 20 * mib);
    EXPECT_TRUE(a.Exceeded(101 * mib + before, 0.0));
  }
  EXPECT_EQ(MemoryGuard::ProcessTotal(), before);
  EXPECT_GT(MemoryGuard::LowWater(), 0u);
  EXPECT_LE(MemoryGuard::LowWater(), 512 * mib);
}
