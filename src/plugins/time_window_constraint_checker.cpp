#include "plugins/time_window_constraint_checker.hpp"

#include <algorithm>

#include "graph/graph_tables.hpp"

namespace velmora {

std::string TimeWindowConstraintChecker::GetName() const { return "TimeConstraintChecker"; }

void TimeWindowConstraintChecker::Configure(const RoutingContext& context) {
  inner_.Configure(context);
  // The solver's context gives every agent a start and an end node.
  Apply(context, context.NodeCount(), context.AgentCount() > 0, !context.HasWindows(), true);
}

void TimeWindowConstraintChecker::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                       const std::vector<SolverAgent>& agents) {
  inner_.Init(graph, nodes, agents);
  graph_ = graph;
  nodes_ = nodes;
  agents_ = agents;
  Rebuild();
}

void TimeWindowConstraintChecker::SetAgentEnds(const std::vector<uint64_t>& ends) {
  ends_ = ends;
  Rebuild();
}

void TimeWindowConstraintChecker::SetTimeWindows(const WindowTable& windows) {
  windows_ = windows;
  Rebuild();
}

void TimeWindowConstraintChecker::SetAgentStarts(const std::vector<uint64_t>& starts) {
  starts_ = starts;
  Rebuild();
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool return_to_end) {
  return_to_end_ = return_to_end;
  Rebuild();
}

void TimeWindowConstraintChecker::Rebuild() {
  own_ = RoutingContext(TablesFromGraph(graph_, nodes_, agents_, starts_, ends_, windows_, return_to_end_));
  if (graph_ != nullptr && !windows_.empty()) own_.FindShortcuts();
  Apply(own_, nodes_.size(), !ends_.empty(), windows_.empty(), graph_ != nullptr);
}

void TimeWindowConstraintChecker::Apply(const RoutingContext& context, size_t nodes, bool skip_done,
                                        bool no_windows, bool has_graph) {
  ctx_ = &context;
  has_graph_ = has_graph;
  skip_done_ = skip_done;
  no_windows_ = no_windows;
  agent_count_ = context.AgentCount();
  node_span_ = std::min<size_t>(nodes, kMaxNodes);
  admissible_.assign(agent_count_ * node_span_, 0);
  for (uint64_t j = 0; j < agent_count_; ++j) {
    for (size_t i = 0; i < node_span_; ++i) admissible_[j * node_span_ + i] = context.MayServe(j, i) ? 1 : 0;
  }
}

bool TimeWindowConstraintChecker::Metric(uint64_t j) const { return ctx_->Metric(ctx_->AgentType(j)); }

double TimeWindowConstraintChecker::ReachTime(uint64_t j, uint64_t x, uint64_t y) const {
  if (x == y) return 0.0;
  if (Metric(j)) return Travel(j, x, y);
  const RoutingContext& ctx = *ctx_;
  if (y == ctx.Start(j) || (!ctx.ReturnToEnd() && y == ctx.End(j))) return 0.0;
  return ctx.ShortestTravel(ctx.AgentType(j), x, y);
}

CheckResult TimeWindowConstraintChecker::CheckExtension(const SearchState& state, uint64_t agent,
                                                        uint64_t node) const {
  // Legend. n: the target node; a: the moving agent; d: a's position; t: a's
  // time when it leaves d (after waiting at its start); c: its time at n
  // after waiting for n's window; s_n, e_n: n's window; e: travel d -> n.
  // In the dominance loop, i is another open node, o the time a would reach
  // n when serving i first, u the time it would reach i right after n. In
  // the coverage loop, j is an agent that may still serve i, p its position,
  // g its time there and h its travel from p to i.
  const RoutingContext& ctx = *ctx_;
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
  if (a < agent_count_ && has_graph_) {
    const uint64_t d = state.positions[a];
    if (d == ctx.Start(a) && ctx.HasWindow(d)) {
      const double departure = t - (n == d ? 0.0 : Travel(a, d, n));
      if (departure > ctx.WindowClose(d)) return kReject;
      if (departure < ctx.WindowOpen(d)) t += ctx.WindowOpen(d) - departure;
    }
  }
  const bool n_has_window = ctx.HasWindow(n);
  const double s_n = n_has_window ? ctx.WindowOpen(n) : 0.0;
  const double e_n = n_has_window ? ctx.WindowClose(n) : 0.0;

  // Arrival at n, waiting until its window opens.
  double c = t;
  if (n_has_window) {
    if (t > e_n) return kReject;
    c = s_n > t ? s_n : t;
  }

  if (has_graph_) {
    if (a >= agent_count_) return kReject;
    const uint64_t d = state.positions[a];

    // Dominance: reject when some open node i could be served before n without
    // reaching n any later, unless serving i right after n is no later still.
    const double e = n == d ? 0.0 : Travel(a, d, n);
    const uint64_t start_a = ctx.Start(a);
    const uint64_t end_a = ctx.End(a);
    const uint64_t span = Metric(a) ? node_span_ : 0;
    for (uint64_t i = 0; i < span; ++i) {
      if (i == n || i == d || state.visited.test(i) || !Admissible(a, i) || i == start_a) continue;
      if (!ctx.ReturnToEnd() && i == end_a) continue;
      const bool i_has_window = ctx.HasWindow(i);
      double o = (t - e) + Travel(a, d, i);
      if (i_has_window) {
        if (o > ctx.WindowClose(i)) continue;
        if (ctx.WindowOpen(i) > o) o = ctx.WindowOpen(i);
      }
      o += Travel(a, i, n);
      if (n_has_window) {
        if (o > e_n) continue;
        if (s_n > o) o = s_n;
      }
      if (o > c) continue;
      double u = c + Travel(a, n, i);
      if (i_has_window) {
        if (u > ctx.WindowClose(i)) return kReject;
        if (ctx.WindowOpen(i) > u) u = ctx.WindowOpen(i);
      }
      if (o < u) return kReject;
    }

    // Coverage: every open node keeps an agent that may serve it and, when it
    // has a window, reaches it before the window closes.
    for (uint64_t i = 0; i < node_span_; ++i) {
      if (state.visited.test(i)) continue;
      const bool timed = !no_windows_ && ctx.HasWindow(i);
      bool served = false;
      for (uint64_t j = 0; j < agent_count_ && !served; ++j) {
        if (skip_done_ && j < state.done.size() && state.done[j] != 0) continue;
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
        const double h = ReachTime(j, p, i);
        served = g + h <= ctx.WindowClose(i);
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

bool TimeWindowConstraintChecker::CheckAgent(const SearchState& /*state*/, uint64_t /*agent*/) const {
  return true;
}

bool TimeWindowConstraintChecker::IsDeadEnd(const SearchState& state) const { return inner_.IsDeadEnd(state); }

}  // namespace velmora
