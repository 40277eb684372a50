#pragma once

#include <cstdint>
#include <vector>

#include "improve/random_source.hpp"
#include "improve/route_set.hpp"

namespace velmora {

// The ruin step of slack induction by string removals: strings of consecutive
// targets are cut from the routes nearest to a random seed target, at most one
// string per route; a string may keep a stretch of its middle in place.
class StringRemoval {
 public:
  StringRemoval(RandomSource& random, size_t routes, double average_removed, uint32_t longest_string);

  // Removes the strings, refreshes the changed routes and appends the removed
  // targets to `removed`. The strings are cut near `centre` (a target, routed
  // or not), or near a random target when it is kUnrouted.
  void Ruin(RouteSet& routes, std::vector<uint32_t>& removed, uint32_t centre = RouteSet::kUnrouted);

  void set_average_removed(double value) { average_removed_ = value; }

 private:
  RandomSource& random_;
  double average_removed_;
  uint32_t longest_string_;
  std::vector<uint8_t> touched_;
  std::vector<uint32_t> changed_;
};

}  // namespace velmora
