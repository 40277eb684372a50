#include "postopt/route_view.hpp"

#include <stdexcept>

namespace velmora {

RouteView RouteView::Of(const Route& base) { return RouteView(base, Edit::kNone, 0, 0, 0, base.size()); }

RouteView RouteView::Reversed(const Route& base, size_t i, size_t j) {
  if (i > j || j >= base.size()) throw std::out_of_range("RouteView::Reversed: positions out of range");
  return RouteView(base, Edit::kReverse, i, j, 0, base.size());
}

RouteView RouteView::Removed(const Route& base, size_t i) {
  if (i >= base.size()) throw std::out_of_range("RouteView::Removed: position out of range");
  return RouteView(base, Edit::kRemove, i, i, 0, base.size() - 1);
}

RouteView RouteView::Inserted(const Route& base, int64_t node, size_t j) {
  if (j > base.size()) throw std::out_of_range("RouteView::Inserted: position out of range");
  return RouteView(base, Edit::kInsert, j, j, node, base.size() + 1);
}

Route RouteView::Materialise() const {
  Route out;
  out.reserve(size_);
  for (size_t p = 0; p < size_; ++p) out.push_back(at(p));
  return out;
}

}  // namespace velmora
