#include "plugins/default_expansion.hpp"

#include <algorithm>
#include <limits>

namespace velmora {

std::string DefaultExpansion::GetName() const { return "DefaultExpansion"; }

void DefaultExpansion::SetAgentEnds(const std::vector<uint64_t>& ends) {
  ends_ = ends;
  agent_count_ = ends_.size();
}

int64_t DefaultExpansion::SelectAgent(const SearchState& state) const {
  if (agent_count_ == 0) return -1;
  double best = std::numeric_limits<double>::max();
  int64_t result = -1;
  // Agents without an entry in the state cannot be moved.
  const uint64_t count = std::min<uint64_t>(agent_count_, std::min(state.costs.size(), state.done.size()));
  for (uint64_t i = 0; i < count; ++i) {
    if (state.done[i] != 0) continue;
    if (state.costs[i] < best) {
      best = state.costs[i];
      result = static_cast<int64_t>(i);
    }
  }
  return result;
}

}  // namespace velmora
