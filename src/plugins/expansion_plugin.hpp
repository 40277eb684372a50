#pragma once

#include <cstdint>
#include <vector>

#include "core/plugin_base.hpp"
#include "core/routing_context.hpp"
#include "core/search_state.hpp"

namespace velmora {

// Chooses which agent moves next.
class ExpansionPlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual void SetAgentEnds(const std::vector<uint64_t>& ends) = 0;
  void Configure(const RoutingContext& context) override { SetAgentEnds(context.Ends()); }
  // Agent index to move, -1 when none can.
  virtual int64_t SelectAgent(const SearchState& state) const = 0;
};

}  // namespace velmora
