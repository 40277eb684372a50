#pragma once

#include <string>

#include "plugins/focal_comparator_plugin.hpp"

namespace velmora {

// Deeper states first (more visited nodes), then smaller f, then smaller total cost.
class DefaultFocalComparator : public FocalComparatorPlugin {
 public:
  std::string GetName() const override;
  bool Compare(const FocalEntry& a, const FocalEntry& b) const override;
};

}  // namespace velmora
