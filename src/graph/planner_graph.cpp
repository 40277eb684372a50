#include "graph/planner_graph.hpp"

namespace velmora {

double PlannerGraph::GetArcCostComponent(uint64_t u, uint64_t v, int64_t type, double absent) const {
  if (!HasVertex(u) || type < 0) return absent;
  const CostVector cost = GetArcCost(u, v);
  return static_cast<uint64_t>(type) < cost.size() ? cost[static_cast<size_t>(type)] : absent;
}

}  // namespace velmora
