#pragma once

#include <cstdint>

namespace velmora {

// An agent as the solver sees it; `type` indexes every arc's cost vector.
struct SolverAgent {
  int64_t id = 0;
  int64_t type = 0;
  double capacity_limit = 0.0;
  double time_limit = 0.0;  // 0 or less: unlimited
};

}  // namespace velmora
