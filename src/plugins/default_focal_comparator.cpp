#include "plugins/default_focal_comparator.hpp"

namespace velmora {

std::string DefaultFocalComparator::GetName() const { return "DefaultFocalComparator"; }

bool DefaultFocalComparator::Compare(const FocalEntry& a, const FocalEntry& b) const {
  if (a.visited_count != b.visited_count) return a.visited_count > b.visited_count;
  if (a.f != b.f) return a.f < b.f;
  return a.total_cost < b.total_cost;
}

}  // namespace velmora
