#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/objective_plugin.hpp"

namespace velmora {

// MinSum objective: g is the sum of the routes, f = g + h.
class MinSumObjective : public ObjectivePlugin {
 public:
  std::string GetName() const override;
  void SetAgentEnds(const std::vector<uint64_t>& ends) override;
  // Sum from first to last; 0 for an empty list.
  double RouteCost(const std::vector<double>& costs) const override;
  double Evaluate(const SearchState& state, int64_t agents_left, double h) const override;
};

}  // namespace velmora
