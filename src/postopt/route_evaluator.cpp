#include "postopt/route_evaluator.hpp"

#include "graph/graph_tables.hpp"
#include "postopt/segment_reversal.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// Keys below this bound get dense look-up tables (node indices are small).
constexpr uint64_t kDenseLimit = uint64_t{1} << 16;
// Relative slack that covers the rounding of the O(1) leg bound; valid for
// routes far longer than any the solver builds (see kMaxBoundedLength).
constexpr double kBoundSlack = 1e-10;
constexpr size_t kMaxBoundedLength = 40000;

}  // namespace

struct RouteEvaluator::Context {
  const RoutingContext* routing = nullptr;  // the rules, costs and windows
  uint64_t agent = 0;
  const std::vector<SolverNode>* nodes = nullptr;
  bool has_start = false;
  uint64_t start = 0;
  bool has_end = false;
  uint64_t end = 0;
};

void RouteEvaluator::SetReturnToEnd(bool flag) {
  context_ = nullptr;
  own_stale_ = true;
  return_to_end_ = flag;
}

void RouteEvaluator::Configure(const RoutingContext& context) {
  SetReturnToEnd(context.ReturnToEnd());
  SetAgentStarts(context.Starts());
  SetAgentEnds(context.Ends());
  WindowTable windows;
  for (uint64_t v = 0; v < context.NodeCount(); ++v) {
    if (context.HasWindow(v)) windows[v] = {context.WindowOpen(v), context.WindowClose(v)};
  }
  SetTimeWindows(windows);
  context_ = &context;
}

namespace {

void RebuildRoles(const std::unordered_set<uint64_t>& starts, const std::unordered_set<uint64_t>& ends,
                  std::vector<uint8_t>& roles, bool& dense) {
  uint64_t top = 0;
  for (uint64_t v : starts) top = std::max(top, v);
  for (uint64_t v : ends) top = std::max(top, v);
  roles.clear();
  dense = top < kDenseLimit;
  if (!dense) return;
  if (!starts.empty() || !ends.empty()) roles.assign(static_cast<size_t>(top) + 1, 0);
  for (uint64_t v : starts) roles[v] |= 1;
  for (uint64_t v : ends) roles[v] |= 2;
}

}  // namespace

void RouteEvaluator::SetAgentStarts(const std::vector<uint64_t>& starts) {
  context_ = nullptr;
  own_stale_ = true;
  starts_ = starts;
  start_set_.clear();
  start_set_.insert(starts_.begin(), starts_.end());
  RebuildRoles(start_set_, end_set_, depot_roles_, dense_roles_);
}

void RouteEvaluator::SetAgentEnds(const std::vector<uint64_t>& ends) {
  context_ = nullptr;
  own_stale_ = true;
  ends_ = ends;
  end_set_.clear();
  end_set_.insert(ends_.begin(), ends_.end());
  RebuildRoles(start_set_, end_set_, depot_roles_, dense_roles_);
}

void RouteEvaluator::SetTimeWindows(const WindowTable& windows) {
  context_ = nullptr;
  own_stale_ = true;
  windows_ = windows;
  has_time_windows_ = !windows_.empty();
}

void RouteEvaluator::Refresh() { own_stale_ = true; }

void RouteEvaluator::Rebuild(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                             const std::vector<SolverAgent>& agents) const {
  // Depots listed beyond the agents still bar other routes: each gets an
  // agent of no type, which no call evaluates (its index has no record).
  const size_t listed = std::max(starts_.size(), ends_.size());
  if (listed > agents.size()) {
    std::vector<SolverAgent> padded = agents;
    SolverAgent none;
    none.type = -1;
    padded.resize(listed, none);
    own_ = RoutingContext(TablesFromGraph(graph, nodes, padded, starts_, ends_, windows_, return_to_end_));
  } else {
    own_ = RoutingContext(TablesFromGraph(graph, nodes, agents, starts_, ends_, windows_, return_to_end_));
  }
  own_stale_ = false;
  own_graph_ = graph;
  own_nodes_ = &nodes;
  own_agents_ = &agents;
  own_node_count_ = nodes.size();
  own_agent_count_ = agents.size();
}

const RoutingContext& RouteEvaluator::Rules(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                            const std::vector<SolverAgent>& agents, uint64_t agent) const {
  // The configured rules hold for the agents it knows, on the graph it was built from.
  if (context_ != nullptr && graph != nullptr && agent < context_->AgentCount()) return *context_;
  if (own_stale_ || graph != own_graph_ || &nodes != own_nodes_ || &agents != own_agents_ ||
      nodes.size() != own_node_count_ || agents.size() != own_agent_count_) {
    Rebuild(graph, nodes, agents);
  }
  return own_;
}

bool RouteEvaluator::InStartSet(uint64_t v) const {
  if (dense_roles_) return v < depot_roles_.size() && (depot_roles_[v] & 1) != 0;
  return start_set_.count(v) != 0;
}

bool RouteEvaluator::InEndSet(uint64_t v) const {
  if (dense_roles_) return v < depot_roles_.size() && (depot_roles_[v] & 2) != 0;
  return end_set_.count(v) != 0;
}

bool RouteEvaluator::IsForeignDepot(uint64_t v, uint64_t agent) const {
  if (!starts_.empty() && InStartSet(v) && (agent >= starts_.size() || v != starts_[agent])) return true;
  if (!ends_.empty() && InEndSet(v) && (agent >= ends_.size() || v != ends_[agent])) return true;
  return false;
}

bool RouteEvaluator::MakeContext(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                 const std::vector<SolverAgent>& agents, uint64_t agent, Context& ctx) const {
  ctx.nodes = &nodes;
  ctx.agent = agent;
  // An agent without a record, start or end cannot have a valid route.
  if (agent >= agents.size()) return false;
  ctx.has_start = !starts_.empty();
  ctx.has_end = !ends_.empty();
  if (ctx.has_start) {
    if (agent >= starts_.size()) return false;
    ctx.start = starts_[agent];
  }
  if (ctx.has_end) {
    if (agent >= ends_.size()) return false;
    ctx.end = ends_[agent];
  }
  ctx.routing = &Rules(graph, nodes, agents, agent);
  return true;
}

bool RouteEvaluator::EndsMatch(const Context& ctx, int64_t first, int64_t last) const {
  if (ctx.has_start && static_cast<uint64_t>(first) != ctx.start) return false;
  const bool end_match = ctx.has_end && static_cast<uint64_t>(last) == ctx.end;
  const bool start_match = ctx.has_start && static_cast<uint64_t>(last) == ctx.start;
  return return_to_end_ ? end_match : (end_match || start_match);
}

inline double RouteEvaluator::Leg(const Context& ctx, int64_t u, int64_t v) const {
  return ctx.routing->RouteLeg(ctx.agent, static_cast<uint64_t>(u), static_cast<uint64_t>(v));
}

inline bool RouteEvaluator::Visit(const Context& ctx, size_t p, size_t n, int64_t v, int64_t prev,
                                  double& c) const {
  const uint64_t w = static_cast<uint64_t>(v);
  if (ctx.has_start && p > 0 && p + 1 < n && w == ctx.start) return false;
  if (v < 0 || w >= ctx.nodes->size()) return false;
  const RoutingContext& rc = *ctx.routing;
  if (!rc.MayVisit(ctx.agent, w)) return false;
  if (p > 0) c += rc.RouteLeg(ctx.agent, static_cast<uint64_t>(prev), w);
  if (!rc.Arrive(w, c)) return false;
  return p == 0 || rc.WithinLimit(ctx.agent, c);
}

template <class At>
RouteCost RouteEvaluator::Walk(const Context& ctx, const At& at, size_t n, size_t from, double c,
                               double limit) const {
  int64_t prev = from > 0 ? at(from - 1) : 0;
  for (size_t p = from; p < n; ++p) {
    const int64_t v = at(p);
    if (!Visit(ctx, p, n, v, prev, c)) return RouteCost{false, 0.0, false};
    // Only reached with non-negative remaining legs: the cost can only grow.
    if (c > limit) return RouteCost{false, 0.0, true};
    prev = v;
  }
  return RouteCost{true, c, false};
}

RouteCost RouteEvaluator::EvaluateRoute(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                        const std::vector<SolverAgent>& agents, const Route& route,
                                        uint64_t agent) const {
  return EvaluateRoute(graph, nodes, agents, RouteView::Of(route), agent);
}

RouteCost RouteEvaluator::EvaluateRoute(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                        const std::vector<SolverAgent>& agents, const RouteView& view,
                                        uint64_t agent, const RouteProfile* profile, double limit) const {
  const size_t n = view.size();
  if (n == 0) return RouteCost{true, 0.0, false};
  Context ctx;
  if (!MakeContext(graph, nodes, agents, agent, ctx)) return RouteCost{false, 0.0, false};
  if (!EndsMatch(ctx, view.at(0), view.at(n - 1))) return RouteCost{false, 0.0, false};

  size_t from = 0;
  double c = 0.0;
  double walk_limit = kNoLimit;
  const Route& r = view.base();
  const size_t nb = r.size();
  const size_t s = view.FirstChanged();
  // The base's prefix state carries over when the positions before s are
  // interior (or first) in both the base and the view.
  if (profile != nullptr && view.edit() != RouteView::Edit::kNone && profile->route == &r &&
      profile->agent == agent && profile->size == nb && s >= 1 && s < std::min(nb, n)) {
    if (!profile->valid[s - 1]) return RouteCost{false, 0.0, false};
    from = s;
    c = profile->cost[s - 1];
    if (limit < kNoLimit && n <= kMaxBoundedLength) {
      // Sum of the legs still to walk. The final cost is at least c plus this
      // sum (waits only add); when none of these legs is negative the walk may
      // also stop as soon as its running cost passes the limit.
      double legs = 0.0;
      double junction_abs = 0.0;
      uint32_t negative = 0;
      auto junction = [&](int64_t u, int64_t v) {
        const double leg = Leg(ctx, u, v);
        if (!(leg >= 0.0)) ++negative;
        legs += leg;
        junction_abs += std::fabs(leg);
      };
      auto forward = [&](size_t a, size_t b) {
        legs += profile->fwd[b] - profile->fwd[a];
        negative += profile->fwd_negative[b] - profile->fwd_negative[a];
      };
      auto backward = [&](size_t a, size_t b) {
        legs += profile->bwd[b] - profile->bwd[a];
        negative += profile->bwd_negative[b] - profile->bwd_negative[a];
      };
      switch (view.edit()) {
        case RouteView::Edit::kReverse: {
          const size_t i = view.first();
          const size_t j = view.second();
          junction(r[i - 1], r[j]);
          backward(i, j);
          if (j + 1 < nb) {
            junction(r[i], r[j + 1]);
            forward(j + 1, nb - 1);
          }
          break;
        }
        case RouteView::Edit::kRemove: {
          const size_t i = view.first();
          junction(r[i - 1], r[i + 1]);
          forward(i + 1, nb - 1);
          break;
        }
        case RouteView::Edit::kInsert: {
          const size_t j = view.first();
          junction(r[j - 1], view.node());
          junction(view.node(), r[j]);
          forward(j, nb - 1);
          break;
        }
        case RouteView::Edit::kNone:
          break;
      }
      if (negative == 0) {
        const double bound = c + legs;
        const double slack = kBoundSlack * (std::fabs(c) + std::fabs(bound) + profile->abs_total + junction_abs);
        if (bound - slack > limit) return RouteCost{false, 0.0, true};
        walk_limit = limit;
      }
    }
  }

  switch (view.edit()) {
    case RouteView::Edit::kReverse: {
      const size_t i = view.first();
      const size_t j = view.second();
      return Walk(
          ctx, [&r, i, j](size_t p) { return (p >= i && p <= j) ? r[i + j - p] : r[p]; }, n, from, c, walk_limit);
    }
    case RouteView::Edit::kRemove: {
      const size_t i = view.first();
      return Walk(ctx, [&r, i](size_t p) { return p < i ? r[p] : r[p + 1]; }, n, from, c, walk_limit);
    }
    case RouteView::Edit::kInsert: {
      const size_t j = view.first();
      const int64_t node = view.node();
      return Walk(
          ctx, [&r, j, node](size_t p) { return p < j ? r[p] : (p == j ? node : r[p - 1]); }, n, from, c,
          walk_limit);
    }
    case RouteView::Edit::kNone:
    default:
      return Walk(ctx, [&r](size_t p) { return r[p]; }, n, from, c, walk_limit);
  }
}

void RouteEvaluator::BuildProfile(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                  const std::vector<SolverAgent>& agents, const Route& route, uint64_t agent,
                                  RouteProfile& profile) const {
  const size_t n = route.size();
  profile.route = &route;
  profile.agent = agent;
  profile.size = n;
  profile.valid.assign(n, 0);
  profile.cost.assign(n, 0.0);
  profile.fwd.assign(n, 0.0);
  profile.bwd.assign(n, 0.0);
  profile.fwd_negative.assign(n, 0);
  profile.bwd_negative.assign(n, 0);
  profile.abs_total = 0.0;
  Context ctx;
  if (!MakeContext(graph, nodes, agents, agent, ctx)) return;
  double c = 0.0;
  bool valid = true;
  for (size_t p = 0; p < n; ++p) {
    if (valid) valid = Visit(ctx, p, n, route[p], p > 0 ? route[p - 1] : 0, c);
    profile.valid[p] = valid ? 1 : 0;
    profile.cost[p] = valid ? c : 0.0;
    if (p == 0) continue;
    const double along = Leg(ctx, route[p - 1], route[p]);
    const double against = Leg(ctx, route[p], route[p - 1]);
    profile.fwd[p] = profile.fwd[p - 1] + along;
    profile.bwd[p] = profile.bwd[p - 1] + against;
    profile.fwd_negative[p] = profile.fwd_negative[p - 1] + (along >= 0.0 ? 0 : 1);
    profile.bwd_negative[p] = profile.bwd_negative[p - 1] + (against >= 0.0 ? 0 : 1);
    profile.abs_total += std::fabs(along) + std::fabs(against);
  }
}

void RouteEvaluator::ReverseSegments(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                     const std::vector<SolverAgent>& agents, Route& route, double& cost,
                                     uint64_t agent) const {
  velmora::ReverseSegments(*this, graph, nodes, agents, route, cost, agent);
}

}  // namespace velmora
