#pragma once

// Minimal complete-matrix PlannerGraph for plugin tests: arcs live in an n x n
// table of optional cost vectors.

#include <cstdint>
#include <string>
#include <vector>

#include "graph/planner_graph.hpp"

namespace velmora_test {

using velmora::CostVector;

class DenseTestGraph : public velmora::PlannerGraph {
 public:
  explicit DenseTestGraph(uint64_t n = 0, uint64_t dim = 1) : dim_(dim) { Resize(n); }

  // Both directions with the same single-type cost.
  void Link(uint64_t u, uint64_t v, double cost) {
    AddArc(u, v, CostVector(dim_, cost));
    AddArc(v, u, CostVector(dim_, cost));
  }
  // Arcs between every ordered pair from a square matrix (diagonal ignored).
  void FillFromMatrix(const std::vector<std::vector<double>>& m) {
    for (uint64_t i = 0; i < m.size(); ++i)
      for (uint64_t j = 0; j < m[i].size(); ++j)
        if (i != j) AddArc(i, j, CostVector(dim_, m[i][j]));
  }

  bool HasVertex(uint64_t v) const override { return v < n_; }
  bool HasArc(uint64_t u, uint64_t v) const override { return u < n_ && v < n_ && present_[u * n_ + v]; }
  std::vector<uint64_t> GetSuccs(uint64_t v) const override {
    std::vector<uint64_t> out;
    for (uint64_t w = 0; v < n_ && w < n_; ++w)
      if (present_[v * n_ + w]) out.push_back(w);
    return out;
  }
  std::vector<uint64_t> GetPreds(uint64_t v) const override {
    std::vector<uint64_t> out;
    for (uint64_t w = 0; v < n_ && w < n_; ++w)
      if (present_[w * n_ + v]) out.push_back(w);
    return out;
  }
  CostVector GetArcCost(uint64_t u, uint64_t v) const override {
    return HasArc(u, v) ? cost_[u * n_ + v] : CostVector{};
  }
  std::vector<CostVector> GetSuccCosts(uint64_t v) const override {
    std::vector<CostVector> out;
    for (uint64_t w : GetSuccs(v)) out.push_back(cost_[v * n_ + w]);
    return out;
  }
  std::vector<CostVector> GetPredCosts(uint64_t v) const override {
    std::vector<CostVector> out;
    for (uint64_t w : GetPreds(v)) out.push_back(cost_[w * n_ + v]);
    return out;
  }
  uint64_t NumVertex() const override { return n_; }
  uint64_t NumArc() const override { return 2 * arcs_; }
  uint64_t NumEdge() const override { return arcs_; }
  uint64_t GetCostDim() const override { return dim_; }
  std::vector<uint64_t> GetAllVertices() const override {
    std::vector<uint64_t> out;
    for (uint64_t v = 0; v < n_; ++v) out.push_back(v);
    return out;
  }
  void AddVertex(uint64_t v) override {
    if (v >= n_) Resize(v + 1);
  }
  void AddEdge(uint64_t u, uint64_t v, const CostVector& cost) override {
    AddArc(u, v, cost);
    AddArc(v, u, cost);
  }
  void AddArc(uint64_t u, uint64_t v, const CostVector& cost) override {
    AddVertex(u);
    AddVertex(v);
    if (!present_[u * n_ + v]) ++arcs_;
    present_[u * n_ + v] = 1;
    cost_[u * n_ + v] = cost;
  }
  void CreateFromEdges(const std::vector<uint64_t>& s, const std::vector<uint64_t>& t,
                       const std::vector<CostVector>& c) override {
    for (size_t i = 0; i < s.size(); ++i) AddEdge(s[i], t[i], c[i]);
  }
  void CreateFromArcs(const std::vector<uint64_t>& s, const std::vector<uint64_t>& t,
                      const std::vector<CostVector>& c) override {
    for (size_t i = 0; i < s.size(); ++i) AddArc(s[i], t[i], c[i]);
  }
  void ChangeCostDim(uint64_t dim, double fill) override {
    for (CostVector& c : cost_)
      if (!c.empty()) c.resize(dim, fill);
    dim_ = dim;
  }
  bool SetArcCost(uint64_t u, uint64_t v, const CostVector& cost) override {
    if (!HasArc(u, v)) return false;
    cost_[u * n_ + v] = cost;
    return true;
  }
  std::string ToStr() const override { return "DenseTestGraph"; }

 private:
  void Resize(uint64_t n) {
    std::vector<uint8_t> present(n * n, 0);
    std::vector<CostVector> cost(n * n);
    for (uint64_t u = 0; u < n_; ++u)
      for (uint64_t v = 0; v < n_; ++v) {
        present[u * n + v] = present_[u * n_ + v];
        cost[u * n + v] = cost_[u * n_ + v];
      }
    present_.swap(present);
    cost_.swap(cost);
    n_ = n;
  }

  uint64_t n_ = 0;
  uint64_t dim_ = 1;
  uint64_t arcs_ = 0;
  std::vector<uint8_t> present_;
  std::vector<CostVector> cost_;
};

}  // namespace velmora_test
