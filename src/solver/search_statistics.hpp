#pragma once

#include <cstdint>

namespace velmora {

struct SearchStatistics {
  int32_t found = 0;
  int32_t node_count = -1;
  int32_t agent_count = -1;
  int32_t type1_agents = -1;
  int32_t type0_agents = -1;
  int32_t nodes_types01 = -1;  // nodes whose type list is exactly [0, 1]
  int32_t nodes_type0 = -1;    // nodes whose type list is exactly [0]
  double sum_cost = -1.0;
  double max_cost = -1.0;
  double last_improvement_time = -1.0;
  double cost_ratio = -1.0;
};

}  // namespace velmora
