#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "graph/sparse_graph.hpp"

using namespace velmora;

namespace {

using Ids = std::vector<uint64_t>;
using Costs = std::vector<CostVector>;

const char kAddArcMsg[] = "[ERROR] SparseGraph::AddArc cdim does not match";
const char kDimMsg[] =
    "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe call ChangeCostDim() at first.";
const char kVertexMsg[] = "[ERROR] SparseGraph::SetArcCost vertex does not exist!";
const char kArcMsg[] = "[ERROR] SparseGraph::SetArcCost arc does not exist!";

// Runs `fn`, expects a runtime_error with text `thrown` and returns what went to stdout.
template <typename Fn>
std::string ExpectFailure(Fn fn, const std::string& thrown) {
  testing::internal::CaptureStdout();
  std::string what = "<no exception>";
  try {
    fn();
  } catch (const std::runtime_error& e) {
    what = e.what();
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(what, thrown);
  return out;
}

}  // namespace

TEST(SparseGraph, NewGraphIsEmpty) {
  SparseGraph g;
  EXPECT_EQ(g.NumVertex(), 0u);
  EXPECT_EQ(g.NumArc(), 0u);
  EXPECT_EQ(g.NumEdge(), 0u);
  EXPECT_EQ(g.GetCostDim(), 0u);
  EXPECT_TRUE(g.GetAllVertices().empty());
  EXPECT_FALSE(g.HasVertex(0));
  EXPECT_FALSE(g.HasArc(0, 0));
  EXPECT_TRUE(g.GetArcCost(0, 0).empty());
  EXPECT_EQ(g.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 0 outgoing edges \n incoming edges \n=== SparseGraph End ===");
}

TEST(SparseGraph, AddArcCreatesEndpointsAndFixesDimension) {
  SparseGraph g;
  g.AddArc(3, 5, {1.0, 2.0});
  EXPECT_EQ(g.NumVertex(), 6u);
  EXPECT_EQ(g.GetAllVertices(), (Ids{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(g.GetCostDim(), 2u);
  EXPECT_EQ(g.NumArc(), 2u);
  EXPECT_EQ(g.NumEdge(), 1u);
  EXPECT_TRUE(g.HasArc(3, 5));
  EXPECT_FALSE(g.HasArc(5, 3));
  EXPECT_EQ(g.GetSuccs(3), Ids{5});
  EXPECT_EQ(g.GetPreds(5), Ids{3});
  EXPECT_TRUE(g.GetSuccs(5).empty());
  EXPECT_EQ(g.GetArcCost(3, 5), (CostVector{1.0, 2.0}));
  EXPECT_EQ(g.GetPredCosts(5), (Costs{{1.0, 2.0}}));
}

TEST(SparseGraph, ReAddingAnArcOnlyReplacesItsCost) {
  SparseGraph g;
  g.AddArc(0, 1, {1.0});
  g.AddArc(0, 2, {2.0});
  g.AddArc(0, 1, {7.0});
  EXPECT_EQ(g.NumArc(), 4u);
  EXPECT_EQ(g.GetSuccs(0), (Ids{1, 2}));
  EXPECT_EQ(g.GetSuccCosts(0), (Costs{{7.0}, {2.0}}));
  EXPECT_EQ(g.GetPredCosts(1), (Costs{{7.0}}));
}

TEST(SparseGraph, AddEdgeAddsBothDirections) {
  SparseGraph g;
  g.AddEdge(0, 2, {4.0});
  EXPECT_EQ(g.NumArc(), 4u);
  EXPECT_EQ(g.NumEdge(), 2u);
  EXPECT_EQ(g.GetArcCost(2, 0), CostVector{4.0});
  EXPECT_EQ(g.GetPreds(0), Ids{2});

  SparseGraph loop;
  loop.AddEdge(1, 1, {4.0});
  EXPECT_EQ(loop.NumArc(), 2u);
  EXPECT_EQ(loop.NumEdge(), 1u);
  EXPECT_EQ(loop.GetSuccs(1), Ids{1});
  EXPECT_EQ(loop.GetPreds(1), Ids{1});
}

TEST(SparseGraph, AddArcWithWrongLengthThrowsAfterCreatingVertices) {
  SparseGraph g;
  g.AddArc(0, 1, {1.0, 2.0});
  const std::string out = ExpectFailure([&] { g.AddArc(4, 7, {1.0, 2.0, 3.0}); }, kAddArcMsg);
  EXPECT_EQ(out, std::string(kAddArcMsg) + ": 2 != 3\n");
  EXPECT_EQ(g.NumVertex(), 8u);
  EXPECT_EQ(g.NumArc(), 2u);
  EXPECT_FALSE(g.HasArc(4, 7));
  EXPECT_EQ(g.GetCostDim(), 2u);
}

TEST(SparseGraph, EmptyCostKeepsDimensionOpen) {
  SparseGraph g;
  g.AddArc(0, 1, {});
  EXPECT_EQ(g.GetCostDim(), 0u);
  g.AddArc(1, 0, {3.0});  // dimension still 0, so this one fixes it
  EXPECT_EQ(g.GetCostDim(), 1u);
  EXPECT_EQ(g.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 2 outgoing edges \n -- 0:[1([]),]\n -- 1:[0([3.000000]),]\n"
            " incoming edges \n -- 0:[1([3.000000]),]\n -- 1:[0([]),]\n=== SparseGraph End ===");
}

struct SetArcCostCase {
  const char* name;
  uint64_t u, v;
  CostVector cost;
  const char* message;
};

class SparseGraphSetArcCostFailure : public testing::TestWithParam<SetArcCostCase> {};

TEST_P(SparseGraphSetArcCostFailure, PrintsAndThrows) {
  const SetArcCostCase& c = GetParam();
  SparseGraph g;
  g.AddArc(0, 1, {1.0, 2.0});
  g.AddArc(2, 1, {3.0, 4.0});
  const std::string out = ExpectFailure([&] { g.SetArcCost(c.u, c.v, c.cost); }, c.message);
  EXPECT_EQ(out, std::string(c.message) + "\n");
  EXPECT_EQ(g.GetArcCost(0, 1), (CostVector{1.0, 2.0}));
  EXPECT_EQ(g.GetPredCosts(1), (Costs{{1.0, 2.0}, {3.0, 4.0}}));
  EXPECT_EQ(g.NumArc(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SparseGraphSetArcCostFailure,
                         testing::Values(SetArcCostCase{"WrongLength", 0, 1, {5.0}, kDimMsg},
                                         SetArcCostCase{"LengthCheckedBeforeVertices", 9, 9, {5.0}, kDimMsg},
                                         SetArcCostCase{"MissingTail", 3, 1, {5.0, 6.0}, kVertexMsg},
                                         SetArcCostCase{"MissingHead", 0, 3, {5.0, 6.0}, kVertexMsg},
                                         SetArcCostCase{"ReverseOfAnArc", 1, 0, {5.0, 6.0}, kArcMsg},
                                         SetArcCostCase{"NoArc", 0, 2, {5.0, 6.0}, kArcMsg}),
                         [](const testing::TestParamInfo<SetArcCostCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(SparseGraph, SetArcCostOverwritesBothCopies) {
  SparseGraph g;
  g.AddArc(0, 1, {1.0, 2.0});
  g.AddArc(2, 1, {3.0, 4.0});
  EXPECT_TRUE(g.SetArcCost(2, 1, {8.0, 9.0}));
  EXPECT_EQ(g.GetArcCost(2, 1), (CostVector{8.0, 9.0}));
  EXPECT_EQ(g.GetPredCosts(1), (Costs{{1.0, 2.0}, {8.0, 9.0}}));
  EXPECT_EQ(g.NumArc(), 4u);
}

TEST(SparseGraph, SetArcCostOnEmptyGraphReportsMissingVertex) {
  SparseGraph g;  // dimension 0 accepts the empty vector
  EXPECT_EQ(ExpectFailure([&] { g.SetArcCost(0, 0, {}); }, kVertexMsg), std::string(kVertexMsg) + "\n");
}

TEST(SparseGraph, ChangeCostDimPadsAndTruncates) {
  SparseGraph g;
  g.AddArc(0, 1, {1.5});
  g.ChangeCostDim(3, 9999.0);
  EXPECT_EQ(g.GetCostDim(), 3u);
  EXPECT_EQ(g.GetArcCost(0, 1), (CostVector{1.5, 9999.0, 9999.0}));
  EXPECT_EQ(g.GetPredCosts(1), (Costs{{1.5, 9999.0, 9999.0}}));
  EXPECT_EQ(g.GetArcCostComponent(0, 1, 2, -1.0), 9999.0);

  g.ChangeCostDim(1, 0.0);
  EXPECT_EQ(g.GetArcCost(0, 1), CostVector{1.5});
  EXPECT_EQ(ExpectFailure([&] { g.AddArc(1, 0, {1.0, 2.0}); }, kAddArcMsg),
            std::string(kAddArcMsg) + ": 1 != 2\n");

  SparseGraph empty;
  empty.ChangeCostDim(2, 9999.0);
  EXPECT_EQ(empty.GetCostDim(), 2u);
  EXPECT_EQ(empty.NumVertex(), 0u);
}

TEST(SparseGraph, CreateFromArcsWithEmptyListsLeavesOneVertex) {
  SparseGraph g;
  g.AddArc(0, 3, {1.0});
  g.CreateFromArcs({}, {}, {});
  EXPECT_EQ(g.NumVertex(), 1u);
  EXPECT_EQ(g.NumArc(), 2u);  // counter untouched
  EXPECT_EQ(g.GetCostDim(), 1u);
  EXPECT_TRUE(g.GetSuccs(0).empty());
  EXPECT_FALSE(g.HasArc(0, 3));
  EXPECT_TRUE(g.GetArcCost(0, 3).empty());
}

TEST(SparseGraph, CreateFromArcsKeepsDuplicatesAndUsesFirstOccurrence) {
  SparseGraph g;
  g.CreateFromArcs({0, 0, 2}, {1, 1, 0}, {{1.0}, {2.0}, {3.0}});
  EXPECT_EQ(g.NumVertex(), 3u);
  EXPECT_EQ(g.NumArc(), 0u);
  EXPECT_EQ(g.GetCostDim(), 0u);
  EXPECT_EQ(g.GetSuccs(0), (Ids{1, 1}));
  EXPECT_EQ(g.GetPreds(1), (Ids{0, 0}));
  EXPECT_EQ(g.GetArcCost(0, 1), CostVector{1.0});
  EXPECT_EQ(g.GetArcCostComponent(0, 1, 0, -1.0), 1.0);

  g.ChangeCostDim(1, 0.0);
  EXPECT_TRUE(g.SetArcCost(0, 1, {5.0}));
  EXPECT_EQ(g.GetSuccCosts(0), (Costs{{5.0}, {2.0}}));
  EXPECT_EQ(g.GetPredCosts(1), (Costs{{5.0}, {2.0}}));
  g.AddArc(0, 1, {6.0});
  EXPECT_EQ(g.GetSuccCosts(0), (Costs{{6.0}, {2.0}}));
  EXPECT_EQ(g.NumArc(), 0u);
}

TEST(SparseGraph, CreateFromEdgesAddsReverseEntries) {
  SparseGraph g;
  g.CreateFromEdges({0, 1}, {2, 1}, {{4.0}, {5.0}});
  EXPECT_EQ(g.NumVertex(), 3u);
  EXPECT_EQ(g.GetSuccs(0), Ids{2});
  EXPECT_EQ(g.GetSuccs(2), Ids{0});
  EXPECT_EQ(g.GetPreds(0), Ids{2});
  EXPECT_EQ(g.GetPreds(2), Ids{0});
  EXPECT_EQ(g.GetSuccs(1), (Ids{1, 1}));  // a self-loop edge appears twice
  EXPECT_EQ(g.GetArcCost(2, 0), CostVector{4.0});
  EXPECT_EQ(g.NumArc(), 0u);
}

TEST(SparseGraph, CreateFromListsOfUnequalLengthReadsOnlyCompleteEntries) {
  SparseGraph g;
  g.CreateFromArcs({0, 1, 2}, {1, 4}, {{1.0}, {2.0}, {3.0}});
  EXPECT_EQ(g.NumVertex(), 5u);  // the largest id of both lists
  EXPECT_EQ(g.GetSuccs(1), Ids{4});
  EXPECT_TRUE(g.GetSuccs(2).empty());
  g.CreateFromEdges({0, 1}, {1, 2}, {{1.0}});
  EXPECT_EQ(g.NumVertex(), 3u);
  EXPECT_TRUE(g.GetSuccs(2).empty());
  EXPECT_EQ(g.GetSuccs(1), Ids{0});
}

TEST(SparseGraph, ReadsOfMissingVerticesAndArcsAreEmpty) {
  SparseGraph g;
  g.AddArc(0, 1, {1.0, 2.0});
  const uint64_t n = g.NumVertex();
  EXPECT_TRUE(g.GetSuccs(n).empty());
  EXPECT_TRUE(g.GetPreds(n).empty());
  EXPECT_TRUE(g.GetSuccCosts(n).empty());
  EXPECT_TRUE(g.GetPredCosts(n).empty());
  EXPECT_TRUE(g.GetArcCost(1, 0).empty());
  EXPECT_TRUE(g.GetArcCost(0, 99).empty());
  EXPECT_TRUE(g.GetArcCost(99, 0).empty());
  EXPECT_FALSE(g.HasArc(99, 0));
  EXPECT_FALSE(g.HasArc(~uint64_t{0}, 1));
  EXPECT_FALSE(g.HasArc(0, ~uint64_t{0}));
  EXPECT_FALSE(g.HasVertex(~uint64_t{0}));
}

TEST(SparseGraph, ArcCostComponent) {
  SparseGraph g;
  g.AddArc(0, 1, {1.0, 2.0});
  struct Case {
    uint64_t u, v;
    int64_t type;
    double expected;
  };
  for (const Case& c : {Case{0, 1, 0, 1.0}, Case{0, 1, 1, 2.0}, Case{0, 1, 2, -7.0}, Case{0, 1, -1, -7.0},
                        Case{1, 0, 0, -7.0}, Case{5, 1, 0, -7.0}, Case{0, 5, 0, -7.0}}) {
    EXPECT_EQ(g.GetArcCostComponent(c.u, c.v, c.type, -7.0), c.expected) << c.u << "->" << c.v << " " << c.type;
  }
}

TEST(SparseGraph, ToStrSevenLineExample) {
  SparseGraph g;
  g.AddArc(0, 1, {1.5});
  EXPECT_EQ(g.ToStr(),
            "=== SparseGraph Begin ===\n"
            " |V| = 2 outgoing edges \n"
            " -- 0:[1([1.500000]),]\n"
            " -- 1:[]\n"
            " incoming edges \n"
            " -- 0:[]\n"
            " -- 1:[0([1.500000]),]\n"
            "=== SparseGraph End ===");
}

TEST(SparseGraph, ToStrListsEveryEntryInOrder) {
  SparseGraph g;
  g.AddArc(0, 2, {1.0, -0.25});
  g.AddArc(0, 1, {1e6, 1.0 / 3.0});
  EXPECT_EQ(g.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 3 outgoing edges \n"
            " -- 0:[2([1.000000,-0.250000]),1([1000000.000000,0.333333]),]\n -- 1:[]\n -- 2:[]\n"
            " incoming edges \n -- 0:[]\n -- 1:[0([1000000.000000,0.333333]),]\n"
            " -- 2:[0([1.000000,-0.250000]),]\n=== SparseGraph End ===");
}

// ---- virtual dispatch -----------------------------------------------------

namespace {

// Records the calls AddArc/AddEdge route through the virtual interface.
class RecordingGraph : public SparseGraph {
 public:
  std::vector<uint64_t> added_vertices;
  std::vector<std::pair<uint64_t, uint64_t>> added_arcs;
  void AddVertex(uint64_t v) override {
    added_vertices.push_back(v);
    SparseGraph::AddVertex(v);
  }
  void AddArc(uint64_t u, uint64_t v, const CostVector& cost) override {
    added_arcs.emplace_back(u, v);
    CostVector doubled = cost;
    for (double& c : doubled) c *= 2.0;
    SparseGraph::AddArc(u, v, doubled);
  }
};

// Hides one vertex from every operation that asks HasVertex.
class HidingGraph : public SparseGraph {
 public:
  uint64_t hidden = 1;
  bool HasVertex(uint64_t v) const override { return v != hidden && SparseGraph::HasVertex(v); }
};

// Claims every id is a vertex and refuses to create any.
class LyingGraph : public SparseGraph {
 public:
  bool HasVertex(uint64_t) const override { return true; }
  void AddVertex(uint64_t) override {}
};

}  // namespace

TEST(SparseGraphDispatch, AddArcAndAddEdgeGoThroughOverrides) {
  RecordingGraph g;
  g.AddArc(3, 5, {1.0});
  EXPECT_EQ(g.added_vertices, (Ids{3, 5}));
  g.AddArc(1, 2, {1.0});
  EXPECT_EQ(g.added_vertices, (Ids{3, 5}));
  g.AddEdge(7, 0, {1.5});
  EXPECT_EQ(g.added_vertices, (Ids{3, 5, 7}));
  using Arc = std::pair<uint64_t, uint64_t>;
  EXPECT_EQ(g.added_arcs, (std::vector<Arc>{{3, 5}, {1, 2}, {7, 0}, {0, 7}}));
  EXPECT_EQ(g.GetArcCost(0, 7), CostVector{3.0});
  EXPECT_EQ(g.GetArcCost(7, 0), CostVector{3.0});
}

TEST(SparseGraphDispatch, HasVertexOverrideChangesReadsAndSetArcCost) {
  HidingGraph g;
  g.AddArc(1, 0, {1.0});
  g.AddArc(0, 2, {1.0});
  EXPECT_EQ(g.NumVertex(), 3u);
  EXPECT_TRUE(g.GetSuccs(1).empty());
  EXPECT_TRUE(g.GetSuccCosts(1).empty());
  EXPECT_TRUE(g.GetPreds(1).empty());
  EXPECT_TRUE(g.GetPredCosts(1).empty());
  EXPECT_EQ(g.GetPreds(0), Ids{1});
  EXPECT_EQ(ExpectFailure([&] { g.SetArcCost(1, 0, {2.0}); }, kVertexMsg), std::string(kVertexMsg) + "\n");
  EXPECT_TRUE(g.SetArcCost(0, 2, {2.0}));
}

TEST(SparseGraphDispatch, StorageStillCoversArcsWhenOverridesCreateNoVertex) {
  LyingGraph g;
  g.AddArc(4, 6, {1.0});
  EXPECT_EQ(g.NumVertex(), 7u);
  EXPECT_TRUE(g.HasArc(4, 6));
  EXPECT_EQ(g.GetPreds(6), Ids{4});
  EXPECT_TRUE(g.GetSuccs(100).empty());
  EXPECT_TRUE(g.GetPredCosts(100).empty());
  EXPECT_EQ(ExpectFailure([&] { g.SetArcCost(100, 4, {1.0}); }, kArcMsg), std::string(kArcMsg) + "\n");
}

// ---- randomised comparison with a naive model ------------------------------

namespace {

// Straightforward adjacency lists with front-to-back scans.
struct NaiveGraph {
  std::vector<Ids> succs, preds;
  std::vector<Costs> succ_costs, pred_costs;
  uint64_t arc_entries = 0, cost_dim = 0;

  uint64_t n() const { return succs.size(); }
  void Grow(uint64_t v) {
    if (v < n()) return;
    succs.resize(v + 1);
    preds.resize(v + 1);
    succ_costs.resize(v + 1);
    pred_costs.resize(v + 1);
  }
  static long Find(const Ids& list, uint64_t x) {
    for (size_t k = 0; k < list.size(); ++k)
      if (list[k] == x) return static_cast<long>(k);
    return -1;
  }
  CostVector Cost(uint64_t u, uint64_t v) const {
    if (u >= n()) return {};
    long k = Find(succs[u], v);
    return k < 0 ? CostVector{} : succ_costs[u][k];
  }
  void AddArc(uint64_t u, uint64_t v, const CostVector& c) {
    Grow(u);
    Grow(v);
    if (cost_dim == 0) cost_dim = c.size();
    else if (c.size() != cost_dim) throw std::runtime_error(kAddArcMsg);
    long k = Find(succs[u], v);
    if (k >= 0) succ_costs[u][k] = c;
    else succs[u].push_back(v), succ_costs[u].push_back(c), ++arc_entries;
    k = Find(preds[v], u);
    if (k >= 0) pred_costs[v][k] = c;
    else preds[v].push_back(u), pred_costs[v].push_back(c), ++arc_entries;
  }
  void SetArcCost(uint64_t u, uint64_t v, const CostVector& c) {
    if (c.size() != cost_dim) throw std::runtime_error(kDimMsg);
    if (u >= n() || v >= n()) throw std::runtime_error(kVertexMsg);
    long ks = Find(succs[u], v), kp = Find(preds[v], u);
    if (ks < 0 || kp < 0) throw std::runtime_error(kArcMsg);
    succ_costs[u][ks] = c;
    pred_costs[v][kp] = c;
  }
  void Create(const Ids& s, const Ids& t, const Costs& k, bool edges) {
    succs.clear(), preds.clear(), succ_costs.clear(), pred_costs.clear();
    uint64_t m = 0;
    for (uint64_t x : s) m = std::max(m, x);
    for (uint64_t x : t) m = std::max(m, x);
    Grow(m);
    for (size_t i = 0; i < s.size(); ++i) {
      succs[s[i]].push_back(t[i]), succ_costs[s[i]].push_back(k[i]);
      preds[t[i]].push_back(s[i]), pred_costs[t[i]].push_back(k[i]);
      if (edges) {
        succs[t[i]].push_back(s[i]), succ_costs[t[i]].push_back(k[i]);
        preds[s[i]].push_back(t[i]), pred_costs[s[i]].push_back(k[i]);
      }
    }
  }
  void ChangeCostDim(uint64_t dim, double fill) {
    for (auto* table : {&succ_costs, &pred_costs})
      for (auto& list : *table)
        for (auto& c : list) c.resize(dim, fill);
    cost_dim = dim;
  }
};

void ExpectSame(const SparseGraph& g, const NaiveGraph& ref, int step) {
  ASSERT_EQ(g.NumVertex(), ref.n()) << "step " << step;
  ASSERT_EQ(g.NumArc(), ref.arc_entries) << "step " << step;
  ASSERT_EQ(g.GetCostDim(), ref.cost_dim) << "step " << step;
  for (uint64_t u = 0; u < ref.n() + 2; ++u) {
    const bool in = u < ref.n();
    ASSERT_EQ(g.GetSuccs(u), in ? ref.succs[u] : Ids{}) << "step " << step;
    ASSERT_EQ(g.GetPreds(u), in ? ref.preds[u] : Ids{}) << "step " << step;
    ASSERT_EQ(g.GetSuccCosts(u), in ? ref.succ_costs[u] : Costs{}) << "step " << step;
    ASSERT_EQ(g.GetPredCosts(u), in ? ref.pred_costs[u] : Costs{}) << "step " << step;
    for (uint64_t v = 0; v < ref.n() + 2; ++v) {
      const CostVector c = ref.Cost(u, v);
      const bool arc = in && NaiveGraph::Find(ref.succs[u], v) >= 0;
      ASSERT_EQ(g.HasArc(u, v), arc) << "step " << step << " " << u << "->" << v;
      ASSERT_EQ(g.GetArcCost(u, v), c) << "step " << step << " " << u << "->" << v;
      for (int64_t t = -1; t <= static_cast<int64_t>(c.size()); ++t) {
        const double want = (arc && t >= 0 && t < static_cast<int64_t>(c.size())) ? c[t] : -1.0;
        ASSERT_EQ(g.GetArcCostComponent(u, v, t, -1.0), want) << "step " << step << " " << u << "->" << v;
      }
    }
  }
}

}  // namespace

class SparseGraphRandomised : public testing::TestWithParam<unsigned> {};

TEST_P(SparseGraphRandomised, IndexAgreesWithNaiveScans) {
  std::mt19937 rng(GetParam());
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  SparseGraph g;
  NaiveGraph ref;
  auto cost = [&](uint64_t len) {
    CostVector c(len);
    for (double& x : c) x = pick(0, 50) * 0.5;
    return c;
  };
  auto len = [&] { return pick(0, 9) == 0 ? static_cast<uint64_t>(pick(0, 3)) : ref.cost_dim; };

  for (int step = 0; step < 400; ++step) {
    const uint64_t u = pick(0, 11), v = pick(0, 11);
    std::string got = "ok", want = "ok";
    testing::internal::CaptureStdout();  // failing operations print
    switch (pick(0, 9)) {
      case 0:
        g.AddVertex(u);
        ref.Grow(u);
        break;
      case 1:
      case 2:
      case 3: {
        const CostVector c = cost(len());
        try {
          g.AddArc(u, v, c);
        } catch (const std::runtime_error& e) {
          got = e.what();
        }
        try {
          ref.AddArc(u, v, c);
        } catch (const std::runtime_error& e) {
          want = e.what();
        }
        break;
      }
      case 4: {
        const CostVector c = cost(len());
        try {
          g.AddEdge(u, v, c);
        } catch (const std::runtime_error& e) {
          got = e.what();
        }
        try {
          ref.AddArc(u, v, c), ref.AddArc(v, u, c);
        } catch (const std::runtime_error& e) {
          want = e.what();
        }
        break;
      }
      case 5:
      case 6: {
        const CostVector c = cost(len());
        try {
          g.SetArcCost(u, v, c);
        } catch (const std::runtime_error& e) {
          got = e.what();
        }
        try {
          ref.SetArcCost(u, v, c);
        } catch (const std::runtime_error& e) {
          want = e.what();
        }
        break;
      }
      case 7: {
        const uint64_t dim = pick(0, 3);
        g.ChangeCostDim(dim, 9999.0);
        ref.ChangeCostDim(dim, 9999.0);
        break;
      }
      default: {
        if (pick(0, 3) != 0) break;  // rebuilds are rarer
        Ids s, t;
        Costs k;
        const int m = pick(0, 12);
        for (int i = 0; i < m; ++i) {
          s.push_back(pick(0, 7));
          t.push_back(pick(0, 1) ? s.back() : pick(0, 7));  // many duplicates and loops
          k.push_back(cost(pick(0, 2)));
        }
        const bool edges = pick(0, 1) == 1;
        if (edges) g.CreateFromEdges(s, t, k);
        else g.CreateFromArcs(s, t, k);
        ref.Create(s, t, k, edges);
      }
    }
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(got, want) << "step " << step;
    ExpectSame(g, ref, step);
    if (HasFatalFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SparseGraphRandomised, testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));
