#pragma once

#include <cstdint>

namespace velmora {

struct FocalEntry {
  int64_t id = 0;
  int64_t visited_count = 0;
  int64_t agents_left = 0;
  double f = 0.0;
  double total_cost = 0.0;
};

}  // namespace velmora
