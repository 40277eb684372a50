#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

// A node as the solver sees it: truncated coordinates, id and the allowed
// agent-type indices (ascending, no duplicates).
struct SolverNode {
  int64_t x = 0;
  int64_t y = 0;
  int64_t z = 0;
  int64_t id = 0;
  std::vector<int64_t> types;
};

}  // namespace velmora
