#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/diagnostics.hpp"
#include "graph/planner_graph.hpp"

namespace velmora {

// Adjacency-list graph: per vertex a successor list and a predecessor list,
// each with a parallel list of cost vectors. Every ordered pair additionally
// has an O(1) position index (first occurrence in the list), so arc look-ups
// do not scan.
//
// Failures print their message on stdout and throw std::runtime_error.
class SparseGraph : public PlannerGraph {
 public:
  SparseGraph() = default;
  ~SparseGraph() override = default;

  bool HasVertex(uint64_t v) const override;
  // False when u is not a vertex.
  bool HasArc(uint64_t u, uint64_t v) const override;
  std::vector<uint64_t> GetSuccs(uint64_t v) const override;
  std::vector<uint64_t> GetPreds(uint64_t v) const override;
  // Copy of the first u->v arc's cost; empty when there is none (or u is not a vertex).
  CostVector GetArcCost(uint64_t u, uint64_t v) const override;
  std::vector<CostVector> GetSuccCosts(uint64_t v) const override;
  std::vector<CostVector> GetPredCosts(uint64_t v) const override;
  uint64_t NumVertex() const override;
  // Counts both list entries of every arc: twice the number of distinct arcs.
  uint64_t NumArc() const override;
  uint64_t NumEdge() const override;
  uint64_t GetCostDim() const override;
  std::vector<uint64_t> GetAllVertices() const override;
  // Makes every id up to v a vertex; never shrinks the graph.
  void AddVertex(uint64_t v) override;
  void AddEdge(uint64_t u, uint64_t v, const CostVector& cost) override;
  // Adds u->v or overwrites its cost. Missing endpoints are created first,
  // even when the cost length check then fails.
  void AddArc(uint64_t u, uint64_t v, const CostVector& cost) override;
  // Rebuild from parallel lists without duplicate or length checks; the arc
  // counter and the cost dimension are kept.
  void CreateFromEdges(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                       const std::vector<CostVector>& costs) override;
  void CreateFromArcs(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                      const std::vector<CostVector>& costs) override;
  // Resizes every stored cost vector to dim, padding with fill.
  void ChangeCostDim(uint64_t dim, double fill) override;
  bool SetArcCost(uint64_t u, uint64_t v, const CostVector& cost) override;
  std::string ToStr() const override;

  double GetArcCostComponent(uint64_t u, uint64_t v, int64_t type, double absent) const override;

  // Where the echo of a failure goes (standard output by default); not owned.
  void SetDiagnostics(const Diagnostics* diagnostics) {
    diagnostics_ = diagnostics != nullptr ? diagnostics : &Diagnostics::Console();
  }

 private:
  static constexpr int32_t kNoPos = -1;

  // Position of `head` in the list indexed by `index`, or kNoPos.
  static int32_t Lookup(const std::vector<int32_t>& index, uint64_t head);
  // Records `pos` for `head` unless an earlier occurrence is already indexed.
  static void Remember(std::vector<int32_t>& index, uint64_t head, size_t pos);
  // Grows the per-vertex tables so that v is a vertex; never shrinks.
  void GrowToInclude(uint64_t v);
  void Rebuild(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
               const std::vector<CostVector>& costs, bool both_directions);
  void AppendArc(uint64_t u, uint64_t v, const CostVector& cost);
  [[noreturn]] void Fail(const std::string& printed, const std::string& thrown) const;

  const Diagnostics* diagnostics_ = &Diagnostics::Console();

  std::vector<std::vector<uint64_t>> succs_;
  std::vector<std::vector<CostVector>> succ_costs_;
  std::vector<std::vector<uint64_t>> preds_;
  std::vector<std::vector<CostVector>> pred_costs_;
  uint64_t arc_entries_ = 0;
  uint64_t cost_dim_ = 0;

  // succ_pos_[u][v]: position of v in succs_[u]; pred_pos_[v][u]: position of
  // u in preds_[v]. Each inner table is sized lazily to the largest id seen.
  std::vector<std::vector<int32_t>> succ_pos_;
  std::vector<std::vector<int32_t>> pred_pos_;
};

}  // namespace velmora
