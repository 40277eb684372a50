#pragma once

#include <cstdint>
#include <vector>

#include "plugins/plugin_base.hpp"
#include "solver/search_state.hpp"

namespace velmora {

// Chooses which agent moves next.
class ExpansionPlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual void SetAgentEnds(const std::vector<uint64_t>& ends) = 0;
  // Agent index to move, -1 when none can.
  virtual int64_t SelectAgent(const SearchState& state) const = 0;
};

}  // namespace velmora
