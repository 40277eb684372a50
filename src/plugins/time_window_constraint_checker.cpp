#include "plugins/time_window_constraint_checker.hpp"

#include <algorithm>

namespace velmora {

std::string TimeWindowConstraintChecker::GetName() const { return "TimeConstraintChecker"; }

void TimeWindowConstraintChecker::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                       const std::vector<SolverAgent>& agents) {
  inner_.Init(graph, nodes, agents);
  graph_ = graph;
  nodes_ = nodes;
  agents_ = agents;
  agent_count_ = agents_.size();
  RebuildAgentTables();
}

void TimeWindowConstraintChecker::SetAgentEnds(const std::vector<uint64_t>& ends) {
  inner_.SetAgentEnds(ends);
  ends_ = ends;
  is_end_.fill(0);
  for (uint64_t e : ends_) {
    if (e < kMaxNodes) is_end_[e] = 1;
  }
  RebuildAgentTables();
}

void TimeWindowConstraintChecker::SetTimeWindows(const WindowTable& windows) {
  windows_ = windows;
  has_window_.fill(0);
  for (const auto& [node, window] : windows_) {
    if (node >= kMaxNodes) continue;  // such a node can never be visited
    has_window_[node] = 1;
    window_start_[node] = window.first;
    window_end_[node] = window.second;
  }
}

void TimeWindowConstraintChecker::SetAgentStarts(const std::vector<uint64_t>& starts) {
  starts_ = starts;
  is_start_.fill(0);
  for (uint64_t s : starts_) {
    if (s < kMaxNodes) is_start_[s] = 1;
  }
  RebuildAgentTables();
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool return_to_end) { return_to_end_ = return_to_end; }

void TimeWindowConstraintChecker::RebuildAgentTables() {
  start_of_.assign(agent_count_, kNone);
  end_of_.assign(agent_count_, kNone);
  type_of_.assign(agent_count_, -1);
  for (uint64_t j = 0; j < agent_count_; ++j) {
    if (j < starts_.size()) start_of_[j] = starts_[j];
    if (j < ends_.size()) end_of_[j] = ends_[j];
    type_of_[j] = agents_[j].type;
  }

  // admissible(j, i): j's type may serve i, and a depot (start or end of some
  // agent) is admissible only to the agent whose own depot it is.
  node_span_ = std::min<size_t>(nodes_.size(), kMaxNodes);
  admissible_.assign(agent_count_ * node_span_, 0);
  for (uint64_t j = 0; j < agent_count_; ++j) {
    for (size_t i = 0; i < node_span_; ++i) {
      const std::vector<int64_t>& types = nodes_[i].types;
      if (std::find(types.begin(), types.end(), type_of_[j]) == types.end()) continue;
      if (!ends_.empty() && is_end_[i] && end_of_[j] != i) continue;
      if (!starts_.empty() && is_start_[i] && start_of_[j] != i) continue;
      admissible_[j * node_span_ + i] = 1;
    }
  }
}

double TimeWindowConstraintChecker::Travel(uint64_t j, uint64_t x, uint64_t y) const {
  if (y == start_of_[j]) return 0.0;
  if (!return_to_end_ && y == end_of_[j]) return 0.0;
  return graph_->GetArcCostComponent(x, y, type_of_[j], 0.0);
}

CheckResult TimeWindowConstraintChecker::CheckExtension(const SearchState& state, uint64_t agent,
                                                        uint64_t node) const {
  constexpr CheckResult kReject{false, 0.0, false};
  // A node that no visited set can hold, or an agent the state does not carry,
  // cannot make a valid move.
  if (node >= kMaxNodes || agent >= state.costs.size() || agent >= state.positions.size()) return kReject;

  const uint64_t n = node;
  const uint64_t a = agent;
  const double t_in = state.costs[a];
  double t = t_in;
  // Leaving the start node: the route evaluation of the post-optimizers waits
  // at a start node whose window has not opened and rejects one whose window
  // has closed, so the search times the first move the same way (otherwise a
  // route found here is rejected there and reported with cost 0). The state
  // still records the agent at its old node; at its start, this is its first
  // move, since a route never passes its own start in between.
  if (a < agent_count_ && graph_ != nullptr) {
    const uint64_t d = state.positions[a];
    if (d == start_of_[a] && d < kMaxNodes && has_window_[d] != 0) {
      const double departure = t - (n == d ? 0.0 : Travel(a, d, n));
      if (departure > window_end_[d]) return kReject;
      if (departure < window_start_[d]) t += window_start_[d] - departure;
    }
  }
  const bool n_has_window = has_window_[n] != 0;
  const double s_n = window_start_[n];
  const double e_n = window_end_[n];

  // Arrival at n, waiting until its window opens.
  double c = t;
  if (n_has_window) {
    if (t > e_n) return kReject;
    c = s_n > t ? s_n : t;
  }

  if (graph_ != nullptr) {
    if (a >= agent_count_) return kReject;
    const uint64_t d = state.positions[a];

    // Dominance: reject when some open node i could be served before n without
    // reaching n any later, unless serving i right after n is no later still.
    const double e = n == d ? 0.0 : Travel(a, d, n);
    const uint64_t start_a = start_of_[a];
    const uint64_t end_a = end_of_[a];
    for (uint64_t i = 0; i < node_span_; ++i) {
      if (i == n || i == d || state.visited.test(i) || !Admissible(a, i) || i == start_a) continue;
      if (!return_to_end_ && i == end_a) continue;
      const bool i_has_window = has_window_[i] != 0;
      double o = (t - e) + Travel(a, d, i);
      if (i_has_window) {
        if (o > window_end_[i]) continue;
        if (window_start_[i] > o) o = window_start_[i];
      }
      o += Travel(a, i, n);
      if (n_has_window) {
        if (o > e_n) continue;
        if (s_n > o) o = s_n;
      }
      if (o > c) continue;
      double u = c + Travel(a, n, i);
      if (i_has_window) {
        if (u > window_end_[i]) return kReject;
        if (window_start_[i] > u) u = window_start_[i];
      }
      if (o < u) return kReject;
    }

    // Coverage: every open node keeps an agent that may serve it and, when it
    // has a window, reaches it before the window closes.
    const bool no_windows = windows_.empty();
    const bool skip_done = !ends_.empty();
    for (uint64_t i = 0; i < node_span_; ++i) {
      if (state.visited.test(i)) continue;
      const bool timed = !no_windows && has_window_[i] != 0;
      bool served = false;
      for (uint64_t j = 0; j < agent_count_ && !served; ++j) {
        if (skip_done && j < state.done.size() && state.done[j] != 0) continue;
        if (!Admissible(j, i)) continue;
        if (!timed) {
          served = true;
          break;
        }
        uint64_t p;
        double g;
        if (j == a) {
          p = n;
          g = c;
        } else {
          // An agent the state does not carry cannot serve anything.
          if (j >= state.positions.size() || j >= state.costs.size()) continue;
          p = state.positions[j];
          g = state.costs[j];
        }
        const double h = p == i ? 0.0 : Travel(j, p, i);
        served = g + h <= window_end_[i];
      }
      if (!served) return kReject;
    }
  }

  if (c != t_in) return {true, c, true};
  return {true, 0.0, false};
}

bool TimeWindowConstraintChecker::IsForbidden(uint64_t agent, uint64_t node) const {
  return inner_.IsForbidden(agent, node);
}

bool TimeWindowConstraintChecker::CheckAgent(const SearchState& /*state*/, uint64_t /*agent*/) const { return true; }

bool TimeWindowConstraintChecker::IsDeadEnd(const SearchState& state) const { return inner_.IsDeadEnd(state); }

}  // namespace velmora
