#include "plugins/default_objective.hpp"

#include <algorithm>

namespace velmora {

std::string DefaultObjective::GetName() const { return "DefaultObjective"; }

void DefaultObjective::SetAgentEnds(const std::vector<uint64_t>& ends) { ends_ = ends; }

double DefaultObjective::RouteCost(const std::vector<double>& costs) const {
  if (costs.empty()) return 0.0;
  double best = costs[0];
  for (size_t i = 1; i < costs.size(); ++i) {
    if (costs[i] > best) best = costs[i];
  }
  return best;
}

double DefaultObjective::Evaluate(const SearchState& state, int64_t agents_left, double h) const {
  const double g = RouteCost(state.costs);
  if (agents_left < 1) return g;
  double sum = 0.0;
  const size_t count = std::min(state.costs.size(), state.done.size());
  for (size_t i = 0; i < count; ++i) {
    if (state.done[i] == 0) sum += state.costs[i];
  }
  const double w = (sum + h) / static_cast<double>(agents_left);
  return w >= g ? w : g;
}

}  // namespace velmora
