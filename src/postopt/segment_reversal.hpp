#pragma once

#include <cstdint>
#include <vector>

#include "postopt/route_evaluator.hpp"

namespace velmora {

// First-improvement segment reversal: reverses positions i..j (first and last
// node fixed) whenever that lowers `cost` by more than kImprovementTolerance,
// restarting after every improvement. `cost` is the route's current cost on
// entry. Candidates are evaluated incrementally from the route's profile and
// cut as soon as they cannot beat `cost`.
void ReverseSegments(const RouteEvaluator& evaluator, const PlannerGraph* graph,
                     const std::vector<SolverNode>& nodes, const std::vector<SolverAgent>& agents, Route& route,
                     double& cost, uint64_t agent);

}  // namespace velmora
