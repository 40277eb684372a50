#include "improve/route_model.hpp"

#include <algorithm>
#include <numeric>

namespace velmora {

RouteModel::RouteModel(const RoutingContext& context, size_t neighbours)
    : context_(context),
      n_(context.NodeCount()),
      agents_(context.AgentCount()),
      return_to_end_(context.ReturnToEnd()) {
  rank_.assign(n_, 0);
  for (uint32_t v = 0; v < n_; ++v) {
    if (context.IsTarget(v)) {
      rank_[v] = static_cast<uint32_t>(targets_.size());
      targets_.push_back(v);
    }
  }

  // One leg table per distinct agent type; a type the tables do not know
  // costs nothing on every leg (the route evaluation reads such cells as 0).
  agent_slot_.assign(agents_, 0);
  for (uint32_t k = 0; k < agents_; ++k) {
    const int64_t type = context.AgentType(k);
    auto it = std::find(slot_type_.begin(), slot_type_.end(), type);
    agent_slot_[k] = static_cast<uint32_t>(it - slot_type_.begin());
    if (it == slot_type_.end()) slot_type_.push_back(type);
  }
  slots_ = slot_type_.size();
  legs_.assign(slots_ * n_ * n_, 0.0);
  for (uint32_t s = 0; s < slots_; ++s) {
    const int64_t type = slot_type_[s];
    if (type < 0 || static_cast<uint64_t>(type) >= context.TypeCount()) continue;
    for (uint32_t u = 0; u < n_; ++u) {
      const double* row = context.CostRow(type, u);
      double* out = legs_.data() + (s * n_ + u) * n_;
      for (uint32_t v = 0; v < n_; ++v) {
        const double c = row[v];
        out[v] = (u == v || c != c) ? 0.0 : c;
        // Closing legs of open routes are free and never read from this table.
        if (out[v] < 0.0) literal_ = true;
      }
    }
  }

  open_.assign(n_, -kInf);
  close_.assign(n_, kInf);
  for (uint32_t v : targets_) {
    if (!context.HasWindow(v)) continue;
    open_[v] = context.WindowOpen(v);
    close_[v] = context.WindowClose(v);
    target_windows_ = true;
  }

  start_ok_.assign(agents_, 1);
  start_time_.assign(agents_, 0.0);
  limit_.assign(agents_, kInf);
  start_.assign(agents_, 0);
  close_count_.assign(agents_, 0);
  close_node_.assign(2 * agents_, 0);
  close_open_.assign(2 * agents_, -kInf);
  close_shut_.assign(2 * agents_, kInf);
  for (uint32_t k = 0; k < agents_; ++k) {
    const uint32_t s = static_cast<uint32_t>(context.Start(k));
    const uint32_t e = static_cast<uint32_t>(context.End(k));
    start_[k] = s;
    double t = 0.0;
    start_ok_[k] = context.Arrive(s, t) ? 1 : 0;
    start_time_[k] = t;
    if (context.HasLimit(k)) limit_[k] = context.TimeLimit(k);
    auto add_close = [&](uint32_t node) {
      const uint32_t c = close_count_[k]++;
      close_node_[2 * k + c] = node;
      if (context.HasWindow(node)) {
        close_open_[2 * k + c] = context.WindowOpen(node);
        close_shut_[2 * k + c] = context.WindowClose(node);
        closing_windows_ = true;
      }
    };
    if (return_to_end_ || s == e) {
      add_close(e);
    } else if (!context.HasWindow(s)) {
      add_close(s);  // a free leg and no wait: never worse than the end node
    } else if (!context.HasWindow(e)) {
      add_close(e);
    } else {
      add_close(s);
      add_close(e);
    }
  }

  serves_.assign(agents_ * n_, 0);
  slot_serves_.assign(slots_ * n_, 0);
  servers_.assign(n_, {});
  for (uint32_t k = 0; k < agents_; ++k) {
    for (uint32_t v : targets_) {
      if (!context.MayVisit(k, v)) continue;
      serves_[static_cast<size_t>(k) * n_ + v] = 1;
      slot_serves_[static_cast<size_t>(agent_slot_[k]) * n_ + v] = 1;
      servers_[v].push_back(k);
    }
  }

  // Pairs by node, both ends listing the pair.
  pair_start_.assign(n_ + 1, 0);
  for (const PrecedencePair& pair : context.Pairs()) {
    ++pair_start_[pair.before + 1];
    ++pair_start_[pair.after + 1];
    if (pair.kind == PairKind::kSame) same_pairs_ = true;
  }
  for (size_t v = 0; v < n_; ++v) pair_start_[v + 1] += pair_start_[v];
  pairs_.resize(pair_start_[n_]);
  {
    std::vector<uint32_t> fill(pair_start_.begin(), pair_start_.end() - 1);
    for (const PrecedencePair& pair : context.Pairs()) {
      const uint32_t b = static_cast<uint32_t>(pair.before);
      const uint32_t a = static_cast<uint32_t>(pair.after);
      pairs_[fill[b]++] = NodePair{a, pair.kind, true};
      pairs_[fill[a]++] = NodePair{b, pair.kind, false};
    }
  }

  // Proximity orders.
  const size_t t = targets_.size();
  adjacency_length_ = std::min(t, kAdjacencyLength);
  adjacency_.assign(t * adjacency_length_, 0);
  neighbours_.assign(n_, {});
  std::vector<std::pair<double, uint32_t>> order;
  double nearest_sum = 0.0;
  size_t nearest_count = 0;
  for (uint32_t i = 0; i < t; ++i) {
    const uint32_t u = targets_[i];
    order.clear();
    for (uint32_t v : targets_) {
      if (v != u) order.emplace_back(Proximity(u, v), v);
    }
    // Only the prefix that rows and neighbour lists keep needs sorting.
    const size_t keep = std::min(order.size(), std::max(adjacency_length_ - 1, neighbours));
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep), order.end());
    uint32_t* row = adjacency_.data() + i * adjacency_length_;
    row[0] = u;  // each row starts with the node itself
    for (size_t j = 0; j + 1 < adjacency_length_; ++j) row[j + 1] = order[j].second;
    for (size_t j = 0; j < order.size() && j < neighbours; ++j) {
      if (order[j].first < kInf) neighbours_[u].push_back(order[j].second);
    }
    if (!order.empty() && order[0].first < kInf) {
      nearest_sum += order[0].first;
      ++nearest_count;
    }
  }
  if (nearest_count > 0 && nearest_sum > 0.0) typical_leg_ = nearest_sum / static_cast<double>(nearest_count);

  depot_distance_.assign(n_, 0.0);
  for (uint32_t v : targets_) {
    double best = kInf;
    for (uint32_t k : servers_[v]) best = std::min(best, Leg(agent_slot_[k], start_[k], v));
    depot_distance_[v] = best < kInf ? best : 0.0;
  }
}

double RouteModel::Proximity(uint32_t u, uint32_t v) const {
  double best = kInf;
  for (uint32_t s = 0; s < slots_; ++s) {
    if (!SlotServes(s, u) || !SlotServes(s, v)) continue;
    best = std::min(best, std::min(Leg(s, u, v), Leg(s, v, u)));
  }
  return best;
}

}  // namespace velmora
