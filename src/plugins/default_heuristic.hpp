#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/constants.hpp"
#include "core/weighted_pair.hpp"
#include "plugins/heuristic_plugin.hpp"

namespace velmora {

// Spanning-tree estimate of the cost still needed to connect the open nodes
// to the tree of visited nodes and agent positions.
class DefaultHeuristic : public HeuristicPlugin {
 public:
  // Returned when the open nodes cannot be connected: largest finite double / 16.
  static constexpr double kUnconnected = 1.1235582092889473e307;
  // Edge weights at or above this stand for missing arcs.
  static constexpr double kMissingArc = kMissingCost;

  std::string GetName() const override;
  // The agents' ends and the context's edge list.
  void Configure(const RoutingContext& context) override;
  void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
            const std::vector<SolverAgent>& agents) override;
  double Estimate(const SearchState& state) const override;

  void SetAgentEnds(const std::vector<uint64_t>& ends);
  // Edge list sorted by weight (smallest first). Among crossing edges the tree
  // always takes the one listed first.
  void SetEdges(const std::vector<WeightedPair>& edges);

 private:
  static constexpr uint16_t kNoEdge = 0xFFFF;

  const PlannerGraph* graph_ = nullptr;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  uint64_t agent_count_ = 0;
  std::vector<uint64_t> ends_;
  std::vector<WeightedPair> edges_;

  // Dense dim_ x dim_ matrix of list ranks: rank_[u * dim_ + v] is the position,
  // among the usable edges in list order, of the first usable edge joining u
  // and v (kNoEdge when none). Smaller rank = listed earlier.
  uint64_t dim_ = 0;
  std::vector<uint16_t> rank_;
  std::vector<double> rank_weight_;  // weight of the edge with each rank
};

}  // namespace velmora
