#include "plugins/default_heuristic.hpp"

#include <algorithm>

#include "core/node_set.hpp"
#include "core/routing_context.hpp"

namespace velmora {

std::string DefaultHeuristic::GetName() const { return "DefaultHeuristic"; }

void DefaultHeuristic::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                            const std::vector<SolverAgent>& agents) {
  graph_ = graph;
  nodes_ = nodes;
  agents_ = agents;
  agent_count_ = agents_.size();
}

void DefaultHeuristic::Configure(const RoutingContext& context) {
  graph_ = nullptr;
  nodes_.clear();
  agents_.clear();
  agent_count_ = context.AgentCount();
  SetAgentEnds(context.Ends());
  SetEdges(context.Edges());
}

void DefaultHeuristic::SetAgentEnds(const std::vector<uint64_t>& ends) { ends_ = ends; }

void DefaultHeuristic::SetEdges(const std::vector<WeightedPair>& edges) {
  edges_ = edges;
  constexpr uint64_t kMaxNodes = NodeSet::kBits;

  // An edge can be taken only when its weight is below the missing-arc mark and
  // its endpoints are distinct representable nodes; anything else never crosses.
  auto usable = [](const WeightedPair& e) {
    return e.weight < kMissingArc && e.u < kMaxNodes && e.v < kMaxNodes && e.u != e.v;
  };

  dim_ = 0;
  for (const WeightedPair& e : edges_) {
    if (usable(e)) dim_ = std::max<uint64_t>(dim_, std::max(e.u, e.v) + 1);
  }
  rank_.assign(dim_ * dim_, kNoEdge);
  rank_weight_.clear();
  for (const WeightedPair& e : edges_) {
    if (!usable(e)) continue;
    uint16_t& cell = rank_[e.u * dim_ + e.v];
    // A repeated pair never wins over its first usable occurrence.
    if (cell != kNoEdge) continue;
    const uint16_t r = static_cast<uint16_t>(rank_weight_.size());
    rank_weight_.push_back(e.weight);
    cell = r;
    rank_[e.v * dim_ + e.u] = r;
  }
}

double DefaultHeuristic::Estimate(const SearchState& state) const {
  constexpr int kMaxNodes = NodeSet::kBits;

  // T: visited nodes plus every agent's position. X: visited nodes where no
  // unfinished agent stands; they are in T but may not carry tree edges.
  NodeSet in_tree = state.visited;
  NodeSet closed = state.visited;
  const uint64_t agents = std::min<uint64_t>(agent_count_, state.positions.size());
  for (uint64_t i = 0; i < agents; ++i) {
    const uint64_t p = state.positions[i];
    if (p >= static_cast<uint64_t>(kMaxNodes)) continue;
    in_tree.set(p);
    if (i < state.done.size() && state.done[i] == 0) closed.reset(p);
  }

  if (state.n_nodes < 1) return 0.0;
  const int required = std::min<int>(state.n_nodes, kMaxNodes);
  int remaining = 0;
  for (int i = 0; i < required; ++i) {
    if (!in_tree.test(static_cast<uint64_t>(i))) ++remaining;
  }
  if (remaining == 0) return 0.0;

  // A required node that no usable edge touches can never join the tree.
  for (int i = static_cast<int>(dim_); i < required; ++i) {
    if (!in_tree.test(static_cast<uint64_t>(i))) return kUnconnected;
  }

  // Multi-source Prim keyed by list rank. The cheapest crossing edge is always
  // the usable crossing edge listed first, so picking the smallest rank takes
  // exactly the edge a front-to-back scan of the sorted list would take, in the
  // same order, and the sum is accumulated identically.
  const uint64_t dim = dim_;
  uint16_t key[kMaxNodes];
  uint16_t open[kMaxNodes];  // nodes outside the tree, in no particular order
  int n_open = 0;
  for (uint64_t v = 0; v < dim; ++v) {
    if (in_tree.test(v)) continue;
    key[v] = kNoEdge;
    open[n_open++] = static_cast<uint16_t>(v);
  }
  // Tree nodes outside X are agent positions: T \ X holds the open agents'
  // positions and any unvisited position of a finished agent.
  for (uint64_t i = 0; i < agents; ++i) {
    const uint64_t u = state.positions[i];
    if (u >= dim || closed.test(u)) continue;
    const uint16_t* row = rank_.data() + u * dim;
    for (int k = 0; k < n_open; ++k) key[open[k]] = std::min(key[open[k]], row[open[k]]);
  }

  double sum = 0.0;
  for (;;) {
    int pick = -1;
    uint16_t best = kNoEdge;
    for (int k = 0; k < n_open; ++k) {
      if (key[open[k]] < best) {
        best = key[open[k]];
        pick = k;
      }
    }
    // No usable edge leaves the tree while some required node is outside it.
    if (pick < 0) return kUnconnected;
    const uint64_t next = open[pick];
    open[pick] = open[--n_open];
    sum += rank_weight_[best];
    if (next < static_cast<uint64_t>(required) && --remaining == 0) return sum;
    // A node added to the tree was outside T, so it is never in X.
    const uint16_t* row = rank_.data() + next * dim;
    for (int k = 0; k < n_open; ++k) key[open[k]] = std::min(key[open[k]], row[open[k]]);
  }
}

}  // namespace velmora
