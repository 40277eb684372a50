#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/expansion_plugin.hpp"

namespace velmora {

// Moves the unfinished agent with the cheapest route so far (lowest index on ties).
class DefaultExpansion : public ExpansionPlugin {
 public:
  std::string GetName() const override;
  void SetAgentEnds(const std::vector<uint64_t>& ends) override;
  int64_t SelectAgent(const SearchState& state) const override;

 private:
  std::vector<uint64_t> ends_;
  uint64_t agent_count_ = 0;
};

}  // namespace velmora
