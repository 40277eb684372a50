#pragma once

#include <cstdint>
#include <vector>

#include "core/node_set.hpp"

namespace velmora {

// One node of the search: where every agent stands, what each route cost so
// far (under time windows: the agent's current time), which nodes need no
// further visit and which routes are closed.
struct SearchState {
  int64_t id = 0;
  std::vector<uint64_t> positions;
  std::vector<double> costs;
  std::vector<uint64_t> aux;
  NodeSet visited;
  int32_t n_nodes = 0;
  double h = 0.0;
  double g = 0.0;
  double f = 0.0;
  int64_t agents_left = 0;
  int64_t last_agent = 0;
  std::vector<uint8_t> done;
};

}  // namespace velmora
