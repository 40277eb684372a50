#include "improve/string_removal.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

StringRemoval::StringRemoval(RandomSource& random, size_t routes, double average_removed, uint32_t longest_string)
    : random_(random), average_removed_(average_removed), longest_string_(longest_string) {
  touched_.assign(routes, 0);
  changed_.reserve(routes);
}

void StringRemoval::Ruin(RouteSet& routes, std::vector<uint32_t>& removed, uint32_t centre) {
  const RouteModel& model = routes.model();
  const size_t targets = model.Targets().size();
  if (targets == 0) return;
  uint32_t used = 0;
  for (uint32_t r = 0; r < routes.RouteCount(); ++r) used += routes.Size(r) > 0 ? 1 : 0;
  if (used == 0) return;
  const double average_route = static_cast<double>(targets) / used;
  const double string_cap = std::min<double>(longest_string_, average_route);
  const double strings_cap = 4.0 * average_removed_ / (1.0 + string_cap) - 1.0;
  const uint32_t strings = static_cast<uint32_t>(random_.Unit() * std::max(strings_cap, 0.0)) + 1;

  const uint32_t seed =
      centre != RouteSet::kUnrouted ? centre : model.Targets()[random_.Below(static_cast<uint32_t>(targets))];
  const uint32_t* near = model.Adjacency(seed);
  changed_.clear();
  for (size_t q = 0; q < model.AdjacencyLength() && changed_.size() < strings; ++q) {
    const uint32_t c = near[q];
    if (!routes.Routed(c)) continue;
    const uint32_t r = routes.RouteOf(c);
    if (touched_[r]) continue;
    const uint32_t n = routes.Size(r);
    const uint32_t cap = static_cast<uint32_t>(std::min<double>(n, string_cap));
    const uint32_t length = static_cast<uint32_t>(random_.Unit() * cap) + 1;
    const uint32_t pos = routes.PosOf(c);
    uint32_t kept = 0;
    if (length < n && random_.Unit() < 0.5) {
      kept = 1;
      while (length + kept < n && random_.Unit() < 0.5) ++kept;
    }
    const uint32_t span = length + kept;
    // A window of `span` positions that holds c.
    const uint32_t lo = pos >= span ? pos - span + 1 : 1;
    const uint32_t hi = std::min(pos, n - span + 1);
    const uint32_t first = lo + random_.Below(hi - lo + 1);
    uint32_t cut_from = first, cut_to = first + span - 1;
    if (kept > 0) {
      // Keep `kept` positions inside the window, removing what is around them.
      const uint32_t keep_at = first + random_.Below(length + 1);  // offset of the kept stretch
      const uint32_t keep_end = keep_at + kept - 1;
      for (uint32_t p = keep_end + 1; p <= cut_to; ++p) removed.push_back(routes.At(r, p));
      if (keep_end < cut_to) routes.Remove(r, keep_end + 1, cut_to);
      cut_to = keep_at - 1;
    }
    for (uint32_t p = cut_from; p <= cut_to; ++p) removed.push_back(routes.At(r, p));
    if (cut_from <= cut_to) routes.Remove(r, cut_from, cut_to);
    touched_[r] = 1;
    changed_.push_back(r);
  }
  for (uint32_t r : changed_) {
    touched_[r] = 0;
    routes.Refresh(r);
  }
  routes.RefreshValue();
}

}  // namespace velmora
