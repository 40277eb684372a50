#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/objective_plugin.hpp"

namespace velmora {

// MinMax objective: g is the longest route; f also spreads the remaining
// estimate over the open routes.
class DefaultObjective : public ObjectivePlugin {
 public:
  std::string GetName() const override;
  void SetAgentEnds(const std::vector<uint64_t>& ends) override;
  // Largest cost (first of equal maxima); 0 for an empty list.
  double RouteCost(const std::vector<double>& costs) const override;
  double Evaluate(const SearchState& state, int64_t agents_left, double h) const override;

 private:
  std::vector<uint64_t> ends_;
};

}  // namespace velmora
