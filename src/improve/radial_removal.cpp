#include "improve/radial_removal.hpp"

#include <algorithm>
#include <functional>

namespace velmora {

RadialRemoval::RadialRemoval(RandomSource& random, double average_removed)
    : random_(random), average_removed_(average_removed) {}

void RadialRemoval::Ruin(RouteSet& routes, std::vector<uint32_t>& removed) {
  const RouteModel& model = routes.model();
  const size_t targets = model.Targets().size();
  if (targets == 0) return;
  const uint32_t cap = static_cast<uint32_t>(std::max(1.0, 2.0 * average_removed_));
  const uint32_t count = 1 + random_.Below(cap);
  const uint32_t seed = model.Targets()[random_.Below(static_cast<uint32_t>(targets))];
  cuts_.clear();
  if (routes.Routed(seed)) cuts_.emplace_back(routes.RouteOf(seed), routes.PosOf(seed));
  const uint32_t* near = model.Adjacency(seed);
  for (size_t q = 0; q < model.AdjacencyLength() && cuts_.size() < count; ++q) {
    const uint32_t c = near[q];
    if (c != seed && routes.Routed(c)) cuts_.emplace_back(routes.RouteOf(c), routes.PosOf(c));
  }
  // Later positions first, so that the earlier ones stay where they are.
  std::sort(cuts_.begin(), cuts_.end(), std::greater<std::pair<uint32_t, uint32_t>>());
  for (size_t i = 0; i < cuts_.size(); ++i) {
    const uint32_t r = cuts_[i].first, p = cuts_[i].second;
    removed.push_back(routes.At(r, p));
    routes.Remove(r, p, p);
    if (i + 1 == cuts_.size() || cuts_[i + 1].first != r) routes.Refresh(r);
  }
  routes.RefreshValue();
}

}  // namespace velmora
