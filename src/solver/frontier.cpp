#include "solver/frontier.hpp"

#include <algorithm>
#include <utility>

namespace velmora {

namespace {

// Every cost of `lower` (over lower's own list) is at most the matching cost
// of `higher`. A cost with no counterpart in `higher` cannot be shown to be
// no worse, so such pairs do not dominate.
bool CostsNoWorse(const double* lower, size_t lower_count, const double* higher, size_t higher_count) {
  if (lower_count > higher_count) return false;
  for (size_t k = 0; k < lower_count; ++k) {
    if (!(lower[k] <= higher[k])) return false;
  }
  return true;
}

}  // namespace

bool Frontier::IsDominated(const SearchState& state) const {
  const double* costs = state.costs.data();
  const size_t count = state.costs.size();
  for (const Entry& e : archive_) {
    // Visited subset and g reject most candidates; costs last.
    if (state.visited.subset_of(e.visited) && e.g <= state.g && CostsNoWorse(e.costs, e.count, costs, count)) {
      return true;
    }
  }
  return false;
}

uint32_t Frontier::DropDominatedBy(const NodeSet& visited, double g, const double* costs, size_t count) {
  // Walk back to front, moving each dominated entry behind the survivors.
  size_t keep = archive_.size();
  for (size_t i = archive_.size(); i-- > 0;) {
    Entry& e = archive_[i];
    if (e.visited.subset_of(visited) && g <= e.g && CostsNoWorse(costs, count, e.costs, e.count)) {
      --keep;
      if (i != keep) std::swap(archive_[i], archive_[keep]);
    }
  }
  const uint32_t removed = static_cast<uint32_t>(archive_.size() - keep);
  archive_.resize(keep);
  return removed;
}

uint32_t Frontier::Insert(const SearchState& state) {
  const size_t count = state.costs.size();
  const uint32_t removed = DropDominatedBy(state.visited, state.g, state.costs.data(), count);
  Entry entry;
  entry.visited = state.visited;
  entry.g = state.g;
  entry.owned = std::make_unique<double[]>(count);
  std::copy(state.costs.begin(), state.costs.end(), entry.owned.get());
  entry.costs = entry.owned.get();
  entry.count = count;
  archive_.push_back(std::move(entry));
  return removed;
}

uint32_t Frontier::InsertShared(const NodeSet& visited, double g, const double* costs, size_t count) {
  const uint32_t removed = DropDominatedBy(visited, g, costs, count);
  Entry entry;
  entry.visited = visited;
  entry.g = g;
  entry.costs = costs;
  entry.count = count;
  archive_.push_back(std::move(entry));
  return removed;
}

}  // namespace velmora
