#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>

namespace velmora {

// Time windows by node index: index -> (start, end).
using WindowTable = std::unordered_map<uint64_t, std::pair<double, double>>;

}  // namespace velmora
