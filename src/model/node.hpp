#pragma once

#include <cstdint>

namespace velmora {

enum class NodeType : int32_t { DEPOT = 0, TARGET = 1 };

struct Position {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// One node of an instance; `id` is what agents and constraints name it by.
struct Node {
  uint64_t id = 0;
  Position position;
  NodeType type = NodeType::TARGET;
  double demand = 0.0;
};

}  // namespace velmora
