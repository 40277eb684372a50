#include <cmath>
#include <vector>

#include "core/constants.hpp"
#include "improve/improvement_engine.hpp"

namespace velmora {

bool CheckSolution(const RoutingContext& context, const EngineSolution& solution) {
  const size_t m = context.AgentCount();
  const size_t n = context.NodeCount();
  if (solution.paths.size() != m || solution.costs.size() != m) return false;
  std::vector<uint8_t> served(n, 0);
  // Where and when each target is served, for the pairs.
  std::vector<size_t> route_of(n, m), pos_of(n, 0);
  std::vector<double> time_of(n, 0.0);
  for (size_t k = 0; k < m; ++k) {
    const std::vector<uint64_t>& path = solution.paths[k];
    if (path.size() < 2 || path.front() != context.Start(k) || !context.ClosesAt(k, path.back())) return false;
    double t = 0.0;
    double load = 0.0;
    for (size_t p = 0; p < path.size(); ++p) {
      const uint64_t v = path[p];
      if (v >= n) return false;
      const bool last = p + 1 == path.size();
      if (p > 0 && !last) {
        if (!context.IsTarget(v) || !context.MayVisit(k, v) || served[v]) return false;
        served[v] = 1;
        load += context.Demand(v);
      }
      if (p > 0) t += context.RouteLeg(k, path[p - 1], v);
      if (!context.Arrive(v, t)) return false;
      if (p > 0 && !context.WithinLimit(k, t)) return false;
      if (p > 0 && !last) {
        route_of[v] = k;
        pos_of[v] = p;
        time_of[v] = t;
      }
    }
    if (!context.WithinCapacity(k, load)) return false;
    const double reported = solution.costs[k];
    if (!(std::fabs(reported - t) <= kCostAgreementTolerance * std::max(1.0, std::fabs(t)))) return false;
  }
  for (uint64_t v = 0; v < n; ++v) {
    if (context.IsTarget(v) && !served[v]) return false;
  }
  for (const PrecedencePair& pair : context.Pairs()) {
    const size_t b = pair.before, a = pair.after;
    const bool same_route = route_of[b] == route_of[a];
    if (pair.kind == PairKind::kSame) {
      if (!same_route || pos_of[b] >= pos_of[a]) return false;
    } else if ((pair.kind == PairKind::kDiff && same_route) || !RoutingContext::InOrder(time_of[b], time_of[a])) {
      return false;
    }
  }
  return true;
}

}  // namespace velmora
