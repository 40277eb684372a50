#pragma once

#include <cstdint>
#include <vector>

#include "core/plugin_base.hpp"
#include "core/routing_context.hpp"
#include "core/search_state.hpp"

namespace velmora {

// Turns per-agent costs into the search values g and f.
class ObjectivePlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual void SetAgentEnds(const std::vector<uint64_t>& ends) = 0;
  void Configure(const RoutingContext& context) override { SetAgentEnds(context.Ends()); }
  virtual double RouteCost(const std::vector<double>& costs) const = 0;
  virtual double Evaluate(const SearchState& state, int64_t agents_left, double h) const = 0;
};

}  // namespace velmora
