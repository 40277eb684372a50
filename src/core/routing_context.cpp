#include "core/routing_context.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace velmora {

RoutingContext::RoutingContext(RoutingTables tables)
    : n_(tables.nodes),
      types_(tables.types),
      return_to_end_(tables.return_to_end),
      costs_(std::move(tables.costs)),
      node_types_(std::move(tables.node_types)),
      agent_type_(std::move(tables.agent_type)),
      time_limit_(std::move(tables.time_limit)),
      starts_(std::move(tables.starts)),
      ends_(std::move(tables.ends)) {
  if (costs_.size() != types_ * n_ * n_) throw std::invalid_argument("routing context: cost table size mismatch");
  const size_t m = agent_type_.size();
  if (time_limit_.size() != m || starts_.size() != m || ends_.size() != m) {
    throw std::invalid_argument("routing context: every agent needs a type, a limit, a start and an end");
  }
  node_types_.resize(n_);
  allowed_.assign(n_ * types_, 0);
  for (size_t v = 0; v < n_; ++v) {
    for (int64_t t : node_types_[v]) {
      if (t >= 0 && static_cast<uint64_t>(t) < types_) allowed_[v * types_ + static_cast<size_t>(t)] = 1;
    }
  }
  roles_.assign(n_, 0);
  for (size_t k = 0; k < m; ++k) {
    if ((starts_[k] >= n_ && starts_[k] != kNone) || (ends_[k] >= n_ && ends_[k] != kNone)) {
      throw std::invalid_argument("routing context: agent " + std::to_string(k) +
                                  " starts or ends at a node the instance does not have");
    }
    if (starts_[k] != kNone) roles_[starts_[k]] |= kStartRole;
    if (ends_[k] != kNone) roles_[ends_[k]] |= kEndRole;
    if (time_limit_[k] > 0) has_limits_ = true;
  }
  has_window_.assign(n_, 0);
  window_open_.assign(n_, 0.0);
  window_close_.assign(n_, std::numeric_limits<double>::infinity());
  for (const auto& [v, window] : tables.windows) {
    if (v >= n_) continue;
    has_window_[v] = 1;
    window_open_[v] = window.first;
    window_close_[v] = window.second;
    has_windows_ = true;
  }
  if (!tables.demand.empty()) {
    if (tables.demand.size() != n_ || tables.capacity.size() != m) {
      throw std::invalid_argument("routing context: capacities need a demand per node and a capacity per agent");
    }
    demand_ = std::move(tables.demand);
    capacity_.assign(m, kInfinity);
    for (size_t k = 0; k < m; ++k) {
      if (tables.capacity[k] > 0) {
        capacity_[k] = tables.capacity[k];
        has_capacities_ = true;
      }
    }
    if (!has_capacities_) demand_.clear();
  }
  for (const PrecedencePair& pair : tables.pairs) {
    if (!IsTarget(pair.before) || !IsTarget(pair.after) || pair.before == pair.after) {
      throw std::invalid_argument("routing context: a precedence pair needs two distinct targets");
    }
  }
  pairs_ = std::move(tables.pairs);
}

namespace {
// Relative slack of the triangle-inequality test: real-valued distances that
// differ from a detour by rounding alone still count as metric.
constexpr double kMetricSlack = 1e-9;
}  // namespace

void RoutingContext::FindShortcuts() {
  const size_t n = n_;
  metric_.assign(types_, 1);
  all_metric_ = true;
  shortest_.clear();
  std::vector<uint8_t> used(types_, 0);
  for (int64_t type : agent_type_) {
    if (type >= 0 && static_cast<size_t>(type) < types_) used[static_cast<size_t>(type)] = 1;
  }
  std::vector<double> d(n * n);
  for (size_t t = 0; t < types_; ++t) {
    if (used[t] == 0) continue;
    const int64_t type = static_cast<int64_t>(t);
    for (size_t u = 0; u < n; ++u) {
      for (size_t v = 0; v < n; ++v) d[u * n + v] = u == v ? 0.0 : CostOr(type, u, v, 0.0);
    }
    // Only targets lie inside a route: depots are where routes start and close.
    bool metric = true;
    for (size_t k = 0; k < n && metric; ++k) {
      if (!IsTarget(k)) continue;
      const double* from_k = &d[k * n];
      for (size_t u = 0; u < n && metric; ++u) {
        if (u == k) continue;
        const double uk = d[u * n + k];
        const double* from_u = &d[u * n];
        for (size_t v = 0; v < n; ++v) {
          if (v == u || v == k) continue;
          if (uk + from_k[v] < from_u[v] - kMetricSlack * std::max(1.0, std::abs(from_u[v]))) {
            metric = false;
            break;
          }
        }
      }
    }
    if (metric) continue;
    metric_[t] = 0;
    all_metric_ = false;
    for (size_t k = 0; k < n; ++k) {
      if (!IsTarget(k)) continue;
      for (size_t u = 0; u < n; ++u) {
        const double uk = d[u * n + k];
        for (size_t v = 0; v < n; ++v) d[u * n + v] = std::min(d[u * n + v], uk + d[k * n + v]);
      }
    }
    if (shortest_.empty()) shortest_.assign(types_ * n * n, 0.0);
    std::copy(d.begin(), d.end(), shortest_.begin() + static_cast<std::ptrdiff_t>(t * n * n));
  }
}

}  // namespace velmora
