#include "postopt/segment_reversal.hpp"

#include <algorithm>

#include "core/constants.hpp"

namespace velmora {

void ReverseSegments(const RouteEvaluator& evaluator, const PlannerGraph* graph,
                     const std::vector<SolverNode>& nodes, const std::vector<SolverAgent>& agents, Route& route,
                     double& cost, uint64_t agent) {
  const size_t n = route.size();
  if (n < 4) return;
  RouteProfile profile;
  evaluator.BuildProfile(graph, nodes, agents, route, agent, profile);
  bool improved = true;
  while (improved) {
    improved = false;
    for (size_t i = 1; i + 3 <= n && !improved; ++i) {
      for (size_t j = i + 1; j + 2 <= n; ++j) {
        // A candidate whose cost exceeds `cost` can never be taken, so it may be cut.
        const RouteCost rc =
            evaluator.EvaluateRoute(graph, nodes, agents, RouteView::Reversed(route, i, j), agent, &profile, cost);
        if (rc.valid && rc.cost + kImprovementTolerance < cost) {
          std::reverse(route.begin() + static_cast<std::ptrdiff_t>(i),
                       route.begin() + static_cast<std::ptrdiff_t>(j) + 1);
          cost = rc.cost;
          evaluator.BuildProfile(graph, nodes, agents, route, agent, profile);
          improved = true;
          break;
        }
      }
    }
  }
}

}  // namespace velmora
