#pragma once

#include <cstdint>

namespace velmora {

enum class ObjectiveType : int32_t { MinMax = 0, MinSum = 1 };

struct Options {
  bool return_to_end = true;
  ObjectiveType objective = ObjectiveType::MinSum;
  double time_limit = 60.0;  // processor seconds of one solve
  // After the focal search's first solution, spend the rest of the budget
  // improving the routes.
  bool improve = false;
  uint64_t seed = 0;                // random generator of the improvement
  int64_t improve_iterations = 0;   // improvement iterations; 0 or less: no cap
  // Improvement searches working on one instance together, one thread each;
  // 0: one per processor the process may run on. Without `improve`, no effect.
  uint32_t threads = 1;
  // Rules the improvement engine makes the routes obey (both need `improve`):
  // agent capacities over the node demands, and the precedence pairs.
  bool enforce_capacity = false;
  bool enforce_precedence = false;
};

}  // namespace velmora
