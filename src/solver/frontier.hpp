#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/node_set.hpp"
#include "core/search_state.hpp"

namespace velmora {

// Dominance archive of the expanded states that share one combination of
// agent positions. A dominates B when A.g <= B.g, A.costs[k] <= B.costs[k]
// for every agent k and B.visited is a subset of A.visited; ties dominate.
class Frontier {
 public:
  Frontier() = default;
  virtual ~Frontier() = default;

  // True when some archived state dominates `state` (costs compared over the
  // archived state's cost list).
  virtual bool IsDominated(const SearchState& state) const;
  // Drops every archived state that `state` dominates (costs compared over
  // `state`'s cost list), archives a copy of `state` and returns how many
  // were dropped. Does not check whether `state` itself is dominated.
  virtual uint32_t Insert(const SearchState& state);

  // Insert for a state whose costs live elsewhere and outlive the archive (the
  // solver's state arena): the entry refers to `costs` instead of copying them.
  uint32_t InsertShared(const NodeSet& visited, double g, const double* costs, size_t count);

  size_t size() const { return archive_.size(); }

 private:
  // The part of a state that dominance looks at.
  struct Entry {
    NodeSet visited;
    double g = 0.0;
    const double* costs = nullptr;
    size_t count = 0;
    std::unique_ptr<double[]> owned;  // set when the entry holds its own copy
  };

  uint32_t DropDominatedBy(const NodeSet& visited, double g, const double* costs, size_t count);

  std::vector<Entry> archive_;
};

}  // namespace velmora
