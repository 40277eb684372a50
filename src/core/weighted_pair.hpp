#pragma once

#include <cstdint>

namespace velmora {

// One element of the heuristic's edge list; the solver builds it with u > v.
struct WeightedPair {
  uint64_t u = 0;
  uint64_t v = 0;
  double weight = 0.0;
};

}  // namespace velmora
