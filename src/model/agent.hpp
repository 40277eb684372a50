#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// One agent of the fleet. `type` names its cost matrix and is what assignment
// constraints list; `time_limit` bounds its route cost (0 or less: unlimited).
struct Agent {
  uint64_t id = 0;
  std::string type;
  uint64_t start_node = 0;
  uint64_t end_node = 0;
  double capacity_limit = 0.0;
  double time_limit = 0.0;
};

}  // namespace velmora
