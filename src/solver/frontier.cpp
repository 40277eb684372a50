#include "solver/frontier.hpp"

#include <utility>

namespace velmora {

namespace {

// Every cost of `lower` (over lower's own list) is at most the matching cost
// of `higher`. A cost with no counterpart in `higher` cannot be shown to be
// no worse, so such pairs do not dominate.
bool CostsNoWorse(const std::vector<double>& lower, const std::vector<double>& higher) {
  if (lower.size() > higher.size()) return false;
  for (size_t k = 0; k < lower.size(); ++k) {
    if (!(lower[k] <= higher[k])) return false;
  }
  return true;
}

}  // namespace

bool Frontier::IsDominated(const SearchState& state) const {
  for (const Entry& e : archive_) {
    // Visited subset and g reject most candidates; costs last.
    if (state.visited.subset_of(e.visited) && e.g <= state.g && CostsNoWorse(e.costs, state.costs)) return true;
  }
  return false;
}

uint32_t Frontier::Insert(const SearchState& state) {
  // Walk back to front, moving each dominated entry behind the survivors.
  size_t keep = archive_.size();
  for (size_t i = archive_.size(); i-- > 0;) {
    Entry& e = archive_[i];
    if (e.visited.subset_of(state.visited) && state.g <= e.g && CostsNoWorse(state.costs, e.costs)) {
      --keep;
      if (i != keep) std::swap(archive_[i], archive_[keep]);
    }
  }
  const uint32_t removed = static_cast<uint32_t>(archive_.size() - keep);

  if (removed > 0) {
    // Reuse the first dropped slot (and its cost buffer) for the new copy.
    archive_.resize(keep + 1);
    Entry& slot = archive_[keep];
    slot.visited = state.visited;
    slot.g = state.g;
    slot.costs.assign(state.costs.begin(), state.costs.end());
  } else {
    archive_.push_back(Entry{state.visited, state.g, state.costs});
  }
  return removed;
}

}  // namespace velmora
