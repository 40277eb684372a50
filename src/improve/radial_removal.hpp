#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "improve/random_source.hpp"
#include "improve/route_set.hpp"

namespace velmora {

// The ruin step that removes a random target and its nearest routed targets,
// wherever they lie on their routes. Where string removals cut one stretch per
// route, this cuts a route in many places, which is what a long route (under
// min-sum often the only one) needs to change its shape.
class RadialRemoval {
 public:
  RadialRemoval(RandomSource& random, double average_removed);

  // Removes between 1 and twice the average number of targets, refreshes the
  // changed routes and appends the removed targets to `removed`.
  void Ruin(RouteSet& routes, std::vector<uint32_t>& removed);

 private:
  RandomSource& random_;
  double average_removed_;
  std::vector<std::pair<uint32_t, uint32_t>> cuts_;  // (route, position)
};

}  // namespace velmora
