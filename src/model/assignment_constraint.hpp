#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velmora {

// Which agent types may serve a node: node id -> type names, in the order given.
struct AssignmentConstraint {
  std::map<uint64_t, std::vector<std::string>> assignments;

  void set_assignment(uint64_t node, const std::vector<std::string>& types) { assignments[node] = types; }
};

}  // namespace velmora
