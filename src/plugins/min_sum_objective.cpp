#include "plugins/min_sum_objective.hpp"

namespace velmora {

std::string MinSumObjective::GetName() const { return "MinSumObjective"; }

void MinSumObjective::SetAgentEnds(const std::vector<uint64_t>& /*ends*/) {}

double MinSumObjective::RouteCost(const std::vector<double>& costs) const {
  double sum = 0.0;
  for (double c : costs) sum += c;
  return sum;
}

double MinSumObjective::Evaluate(const SearchState& state, int64_t /*agents_left*/, double h) const {
  return RouteCost(state.costs) + h;
}

}  // namespace velmora
