#pragma once

#include "model/result.hpp"

namespace velmora {

// A recorded solution: processor seconds since the solve started and the
// result at that moment.
struct AnytimeEntry {
  double time = 0.0;
  Result result;
};

}  // namespace velmora
