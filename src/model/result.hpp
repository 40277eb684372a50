#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace velmora {

// Routes and costs of one solution, keyed by agent index; paths hold node indices.
struct Result {
  std::map<int64_t, std::vector<int64_t>> paths;
  std::map<int64_t, double> times;
  int64_t n_generated = 0;
  int64_t n_expanded = 0;
  bool timeout = false;
  double last_update_time = 0.0;
  double search_time = 0.0;  // written by the solver only
  int64_t end_marker = 0;    // written by the solver only
};

}  // namespace velmora
