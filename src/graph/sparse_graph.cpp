#include "graph/sparse_graph.hpp"

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace velmora {

namespace {

const char kAddArcDimMismatch[] = "[ERROR] SparseGraph::AddArc cdim does not match";
const char kSetArcCostDimMismatch[] =
    "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! Maybe call ChangeCostDim() at first.";
const char kSetArcCostNoVertex[] = "[ERROR] SparseGraph::SetArcCost vertex does not exist!";
const char kSetArcCostNoArc[] = "[ERROR] SparseGraph::SetArcCost arc does not exist!";
const char kNumEdgeOdd[] = "[ERROR] SparseGraph::NumEdge is not an integer but a fraction";

void AppendCostVector(std::string& out, const CostVector& cost) {
  out += '[';
  for (size_t i = 0; i < cost.size(); ++i) {
    if (i > 0) out += ',';
    out += std::to_string(cost[i]);
  }
  out += ']';
}

void AppendAdjacency(std::string& out, const std::vector<std::vector<uint64_t>>& heads,
                     const std::vector<std::vector<CostVector>>& costs) {
  for (size_t v = 0; v < heads.size(); ++v) {
    out += " -- ";
    out += std::to_string(v);
    out += ":[";
    for (size_t k = 0; k < heads[v].size(); ++k) {
      out += std::to_string(heads[v][k]);
      out += '(';
      AppendCostVector(out, costs[v][k]);
      out += "),";
    }
    out += "]\n";
  }
}

}  // namespace

void SparseGraph::Fail(const std::string& printed, const std::string& thrown) const {
  diagnostics_->Out(printed);
  throw std::runtime_error(thrown);
}

int32_t SparseGraph::Lookup(const std::vector<int32_t>& index, uint64_t head) {
  return head < index.size() ? index[head] : kNoPos;
}

void SparseGraph::Remember(std::vector<int32_t>& index, uint64_t head, size_t pos) {
  if (head >= index.size()) index.resize(head + 1, kNoPos);
  if (index[head] == kNoPos) index[head] = static_cast<int32_t>(pos);
}

void SparseGraph::GrowToInclude(uint64_t v) {
  if (v < succs_.size()) return;
  if (v >= succs_.max_size()) throw std::length_error("SparseGraph: vertex id too large");
  const size_t count = static_cast<size_t>(v) + 1;
  succs_.resize(count);
  succ_costs_.resize(count);
  preds_.resize(count);
  pred_costs_.resize(count);
  succ_pos_.resize(count);
  pred_pos_.resize(count);
}

bool SparseGraph::HasVertex(uint64_t v) const { return v < succs_.size(); }

bool SparseGraph::HasArc(uint64_t u, uint64_t v) const {
  return u < succ_pos_.size() && Lookup(succ_pos_[u], v) != kNoPos;
}

std::vector<uint64_t> SparseGraph::GetSuccs(uint64_t v) const {
  if (!HasVertex(v) || v >= succs_.size()) return {};
  return succs_[v];
}

std::vector<uint64_t> SparseGraph::GetPreds(uint64_t v) const {
  if (!HasVertex(v) || v >= preds_.size()) return {};
  return preds_[v];
}

CostVector SparseGraph::GetArcCost(uint64_t u, uint64_t v) const {
  if (u >= succ_pos_.size()) return {};
  const int32_t k = Lookup(succ_pos_[u], v);
  if (k == kNoPos) return {};
  return succ_costs_[u][static_cast<size_t>(k)];
}

std::vector<CostVector> SparseGraph::GetSuccCosts(uint64_t v) const {
  if (!HasVertex(v) || v >= succ_costs_.size()) return {};
  return succ_costs_[v];
}

std::vector<CostVector> SparseGraph::GetPredCosts(uint64_t v) const {
  if (!HasVertex(v) || v >= pred_costs_.size()) return {};
  return pred_costs_[v];
}

uint64_t SparseGraph::NumVertex() const { return succs_.size(); }

uint64_t SparseGraph::NumArc() const { return arc_entries_; }

uint64_t SparseGraph::NumEdge() const {
  if (arc_entries_ % 2 != 0) Fail(kNumEdgeOdd, kNumEdgeOdd);
  return arc_entries_ / 2;
}

uint64_t SparseGraph::GetCostDim() const { return cost_dim_; }

std::vector<uint64_t> SparseGraph::GetAllVertices() const {
  std::vector<uint64_t> all(succs_.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  return all;
}

void SparseGraph::AddVertex(uint64_t v) {
  if (HasVertex(v)) return;
  GrowToInclude(v);
}

void SparseGraph::AddEdge(uint64_t u, uint64_t v, const CostVector& cost) {
  AddArc(u, v, cost);
  AddArc(v, u, cost);
}

void SparseGraph::AddArc(uint64_t u, uint64_t v, const CostVector& cost) {
  if (!HasVertex(u)) AddVertex(u);
  if (!HasVertex(v)) AddVertex(v);
  // An overriding HasVertex/AddVertex may leave the storage short; the lists
  // must still cover both endpoints before they are touched.
  GrowToInclude(std::max(u, v));

  if (cost_dim_ == 0) {
    cost_dim_ = cost.size();
  } else if (cost.size() != cost_dim_) {
    Fail(std::string(kAddArcDimMismatch) + ": " + std::to_string(cost_dim_) + " != " + std::to_string(cost.size()),
         kAddArcDimMismatch);
  }

  const int32_t ks = Lookup(succ_pos_[u], v);
  if (ks != kNoPos) {
    succ_costs_[u][static_cast<size_t>(ks)] = cost;
  } else {
    Remember(succ_pos_[u], v, succs_[u].size());
    succs_[u].push_back(v);
    succ_costs_[u].push_back(cost);
    ++arc_entries_;
  }

  const int32_t kp = Lookup(pred_pos_[v], u);
  if (kp != kNoPos) {
    pred_costs_[v][static_cast<size_t>(kp)] = cost;
  } else {
    Remember(pred_pos_[v], u, preds_[v].size());
    preds_[v].push_back(u);
    pred_costs_[v].push_back(cost);
    ++arc_entries_;
  }
}

void SparseGraph::AppendArc(uint64_t u, uint64_t v, const CostVector& cost) {
  Remember(succ_pos_[u], v, succs_[u].size());
  succs_[u].push_back(v);
  succ_costs_[u].push_back(cost);
  Remember(pred_pos_[v], u, preds_[v].size());
  preds_[v].push_back(u);
  pred_costs_[v].push_back(cost);
}

void SparseGraph::Rebuild(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                          const std::vector<CostVector>& costs, bool both_directions) {
  succs_.clear();
  succ_costs_.clear();
  preds_.clear();
  pred_costs_.clear();
  succ_pos_.clear();
  pred_pos_.clear();

  uint64_t m = 0;
  for (uint64_t s : sources) m = std::max(m, s);
  for (uint64_t t : targets) m = std::max(m, t);
  GrowToInclude(m);

  // Entries missing from a shorter target or cost list are not read.
  const size_t count = std::min({sources.size(), targets.size(), costs.size()});
  for (size_t i = 0; i < count; ++i) {
    AppendArc(sources[i], targets[i], costs[i]);
    if (both_directions) AppendArc(targets[i], sources[i], costs[i]);
  }
}

void SparseGraph::CreateFromEdges(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                                  const std::vector<CostVector>& costs) {
  Rebuild(sources, targets, costs, true);
}

void SparseGraph::CreateFromArcs(const std::vector<uint64_t>& sources, const std::vector<uint64_t>& targets,
                                 const std::vector<CostVector>& costs) {
  Rebuild(sources, targets, costs, false);
}

void SparseGraph::ChangeCostDim(uint64_t dim, double fill) {
  for (auto* table : {&succ_costs_, &pred_costs_}) {
    for (auto& list : *table) {
      for (auto& cost : list) cost.resize(dim, fill);
    }
  }
  cost_dim_ = dim;
}

bool SparseGraph::SetArcCost(uint64_t u, uint64_t v, const CostVector& cost) {
  if (cost.size() != cost_dim_) Fail(kSetArcCostDimMismatch, kSetArcCostDimMismatch);
  if (!HasVertex(u) || !HasVertex(v)) Fail(kSetArcCostNoVertex, kSetArcCostNoVertex);
  const int32_t ks = u < succ_pos_.size() ? Lookup(succ_pos_[u], v) : kNoPos;
  const int32_t kp = v < pred_pos_.size() ? Lookup(pred_pos_[v], u) : kNoPos;
  if (ks == kNoPos || kp == kNoPos) Fail(kSetArcCostNoArc, kSetArcCostNoArc);
  succ_costs_[u][static_cast<size_t>(ks)] = cost;
  pred_costs_[v][static_cast<size_t>(kp)] = cost;
  return true;
}

std::string SparseGraph::ToStr() const {
  std::string out = "=== SparseGraph Begin ===\n |V| = ";
  out += std::to_string(succs_.size());
  out += " outgoing edges \n";
  AppendAdjacency(out, succs_, succ_costs_);
  out += " incoming edges \n";
  AppendAdjacency(out, preds_, pred_costs_);
  out += "=== SparseGraph End ===";
  return out;
}

double SparseGraph::GetArcCostComponent(uint64_t u, uint64_t v, int64_t type, double absent) const {
  if (type < 0 || u >= succ_pos_.size()) return absent;
  const int32_t k = Lookup(succ_pos_[u], v);
  if (k == kNoPos) return absent;
  const CostVector& cost = succ_costs_[u][static_cast<size_t>(k)];
  return static_cast<uint64_t>(type) < cost.size() ? cost[static_cast<size_t>(type)] : absent;
}

}  // namespace velmora
