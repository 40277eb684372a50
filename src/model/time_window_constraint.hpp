#pragma once

#include <cstdint>
#include <map>
#include <utility>

namespace velmora {

// Time windows: node id -> (start, end). Nothing is validated here.
struct TimeWindowConstraint {
  std::map<uint64_t, std::pair<double, double>> windows;

  void set_timewindow(uint64_t node, double start, double end) { windows[node] = {start, end}; }
};

}  // namespace velmora
