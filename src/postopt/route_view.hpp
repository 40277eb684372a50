#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

using Route = std::vector<int64_t>;

// A route as it reads after one edit of a base route. Positions map onto the
// base by index arithmetic, so candidate routes are evaluated without copying.
// The base must outlive the view and stay unchanged while the view is used.
class RouteView {
 public:
  enum class Edit { kNone, kReverse, kRemove, kInsert };

  // The base route itself.
  static RouteView Of(const Route& base);
  // Positions i..j (inclusive) in reverse order; requires i <= j < size.
  static RouteView Reversed(const Route& base, size_t i, size_t j);
  // The base without position i; requires i < size.
  static RouteView Removed(const Route& base, size_t i);
  // `node` inserted before position j; requires j <= size (j == size appends).
  static RouteView Inserted(const Route& base, int64_t node, size_t j);

  const Route& base() const { return *base_; }
  Edit edit() const { return edit_; }
  // First position whose node may differ from the base (size for kNone).
  size_t FirstChanged() const { return edit_ == Edit::kNone ? size_ : i_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  int64_t at(size_t p) const {
    const Route& b = *base_;
    switch (edit_) {
      case Edit::kReverse:
        return (p >= i_ && p <= j_) ? b[i_ + j_ - p] : b[p];
      case Edit::kRemove:
        return p < i_ ? b[p] : b[p + 1];
      case Edit::kInsert:
        return p < i_ ? b[p] : (p == i_ ? node_ : b[p - 1]);
      case Edit::kNone:
      default:
        return b[p];
    }
  }

  // The edited route as a list of its own.
  Route Materialise() const;

  // Edit parameters: reversal bounds (first, second), removal position (first),
  // insertion position (first) and inserted node.
  size_t first() const { return i_; }
  size_t second() const { return j_; }
  int64_t node() const { return node_; }

 private:
  RouteView(const Route& base, Edit edit, size_t i, size_t j, int64_t node, size_t size)
      : base_(&base), edit_(edit), i_(i), j_(j), node_(node), size_(size) {}

  const Route* base_;
  Edit edit_;
  size_t i_;
  size_t j_;
  int64_t node_;
  size_t size_;
};

}  // namespace velmora
