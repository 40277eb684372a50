#include "postopt/default_post_optimizer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

namespace velmora {

namespace {

void ReportInvalid(const Diagnostics& log, uint64_t agent) {
  log.Err("[post-opt] invalid path for agent " + std::to_string(agent) + ", skip optimize");
}

bool AllowsType(const SolverNode& node, int64_t type) {
  return std::find(node.types.begin(), node.types.end(), type) != node.types.end();
}

// A new route cost above this value cannot give a gain above `best` when the
// donor currently costs `donor_cost`; the slack absorbs the rounding of the
// subtraction, so the cut never rejects a move the exact rule would take.
double GainLimit(double donor_cost, double best) {
  return (donor_cost - best) + 1e-12 * (std::fabs(donor_cost) + std::fabs(best));
}

}  // namespace

std::string DefaultPostOptimizer::GetName() const { return "DefaultPostOptimizer"; }

void DefaultPostOptimizer::Configure(const RoutingContext& context) {
  evaluator_.Configure(context);
  log_ = &context.Log();
}

void DefaultPostOptimizer::SetReturnToEnd(bool flag) { evaluator_.SetReturnToEnd(flag); }
void DefaultPostOptimizer::SetAgentStarts(const std::vector<uint64_t>& starts) {
  evaluator_.SetAgentStarts(starts);
}
void DefaultPostOptimizer::SetAgentEnds(const std::vector<uint64_t>& ends) { evaluator_.SetAgentEnds(ends); }
void DefaultPostOptimizer::SetTimeWindows(const WindowTable& windows) { evaluator_.SetTimeWindows(windows); }

RouteCost DefaultPostOptimizer::Evaluate(const Route& route, uint64_t agent) const {
  return evaluator_.EvaluateRoute(graph_, nodes_, agents_, route, agent);
}

void DefaultPostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                    const std::vector<SolverAgent>& agents, Result& result) {
  groups_.clear();
  group_order_.clear();
  graph_ = graph;
  nodes_ = nodes;
  agents_ = agents;
  evaluator_.Refresh();  // the copies above may hold another instance at the same addresses
  GroupRoutes(result);
  ImproveWithinGroups();
  RelocateAcrossGroups();
  WriteBack(result);
}

// Evaluates every agent's route and groups the agents by type index.
void DefaultPostOptimizer::GroupRoutes(const Result& result) {
  records_.clear();
  records_.resize(agents_.size());
  for (uint64_t i = 0; i < agents_.size(); ++i) {
    Route path;
    auto it = result.paths.find(static_cast<int64_t>(i));
    if (it != result.paths.end()) path = it->second;
    const int64_t type = agents_[i].type;
    const RouteCost rc = Evaluate(path, i);
    double cost = rc.cost;
    if (!rc.valid) {
      ReportInvalid(*log_, i);
      cost = 0.0;
    }
    auto group = groups_.find(type);
    if (group != groups_.end()) {
      AgentGroup& g = group->second;
      g.members.push_back(i);
      if (cost > records_[g.costliest].cost) {
        g.costliest = i;
      } else if (cost < records_[g.cheapest].cost) {
        g.cheapest = i;
      }
      ++g.count;
    } else {
      AgentGroup g;
      g.count = 1;
      g.type = type;
      g.costliest = i;
      g.cheapest = i;
      g.members.push_back(i);
      groups_.emplace(type, std::move(g));
      group_order_.push_back(type);
    }
    records_[i] = RouteRecord{i, cost, std::move(path)};
  }
}

// Inside each group: straighten every route, then one relocation.
void DefaultPostOptimizer::ImproveWithinGroups() {
  for (int64_t type : group_order_) {
    const AgentGroup& g = groups_.at(type);
    for (uint64_t m : g.members) {
      RouteRecord& rec = records_[m];
      const RouteCost rc = Evaluate(rec.route, m);
      double cost = rc.cost;
      if (!rc.valid) {
        ReportInvalid(*log_, m);
        cost = 0.0;
      }
      if (std::isfinite(cost)) {
        rec.cost = cost;
        evaluator_.ReverseSegments(graph_, nodes_, agents_, rec.route, rec.cost, m);
      }
      if (!std::isfinite(rec.cost) || (agents_[m].time_limit > 0 && rec.cost > agents_[m].time_limit)) {
        log_->Err("[post-opt] path invalid or over capacity, skip agent " + std::to_string(m));
      }
    }
    RefreshGroup(type);
    const Relocation move = FindRelocation(type, type);
    if (move.gain > 0) {
      const AgentGroup& same = groups_.at(type);
      ApplyRelocation(records_[same.costliest], records_[same.cheapest], move.donor_position,
                      move.receiver_position);
      RefreshGroup(type);
    }
  }
}

// Across groups: from the group with the costliest route to the group whose
// costliest route is cheapest, while that helps.
void DefaultPostOptimizer::RelocateAcrossGroups() {
  for (;;) {
    bool found_d = false;
    bool found_e = false;
    int64_t d = 0;
    int64_t e = 0;
    double max_cost = -1.0;
    double min_cost = kLargest;
    for (int64_t type : group_order_) {
      const double c = records_[groups_.at(type).costliest].cost;
      if (c > max_cost) {
        max_cost = c;
        d = type;
        found_d = true;
      }
      if (c < min_cost) {
        min_cost = c;
        e = type;
        found_e = true;
      }
    }
    // No group qualifies (e.g. all costs below -1): nothing to move.
    if (!found_d || !found_e || d == e) break;
    const Relocation move = FindRelocation(d, e);
    if (!(move.gain > 0)) break;
    ApplyRelocation(records_[groups_.at(d).costliest], records_[groups_.at(e).cheapest], move.donor_position,
                    move.receiver_position);
    RefreshGroup(d);
    RefreshGroup(e);
  }
}

void DefaultPostOptimizer::WriteBack(Result& result) const {
  result.paths.clear();
  result.times.clear();
  for (uint64_t i = 0; i < records_.size(); ++i) {
    result.paths[static_cast<int64_t>(i)] = records_[i].route;
    result.times[static_cast<int64_t>(i)] = records_[i].cost;
  }
}

void DefaultPostOptimizer::RefreshGroup(int64_t type) {
  AgentGroup& g = groups_.at(type);
  double max_cost = -1.0;
  double min_cost = kLargest;
  for (uint64_t m : g.members) {
    const double c = records_[m].cost;
    if (c > max_cost) {
      max_cost = c;
      g.costliest = m;
    }
    if (c < min_cost) {
      min_cost = c;
      g.cheapest = m;
    }
  }
}

Relocation DefaultPostOptimizer::FindRelocation(int64_t donor, int64_t receiver) const {
  Relocation best;
  best.donor_group = donor;
  best.receiver_group = receiver;
  const AgentGroup& from = groups_.at(donor);
  const AgentGroup& to = groups_.at(receiver);
  const uint64_t a = from.costliest;
  const uint64_t b = to.cheapest;
  if (a == b) return best;
  const Route& ra = records_[a].route;
  const Route& rb = records_[b].route;
  if (ra.size() < 2 || rb.size() < 2) return best;
  const double donor_cost = records_[a].cost;

  RouteProfile pa;
  RouteProfile pb;
  evaluator_.BuildProfile(graph_, nodes_, agents_, ra, a, pa);
  evaluator_.BuildProfile(graph_, nodes_, agents_, rb, b, pb);

  double best_gain = 0.0;
  for (size_t i = 1; i + 2 <= ra.size(); ++i) {
    const int64_t v = ra[i];
    if (donor != receiver) {
      if (v < 0 || static_cast<uint64_t>(v) >= nodes_.size() || !AllowsType(nodes_[v], to.type)) continue;
    }
    // The donor side does not depend on j; a cut under the current best stays
    // a rejection, since the best gain only grows.
    const RouteCost na = evaluator_.EvaluateRoute(graph_, nodes_, agents_, RouteView::Removed(ra, i), a, &pa,
                                                  GainLimit(donor_cost, best_gain));
    if (!na.valid) continue;
    for (size_t j = 1; j < rb.size(); ++j) {
      const double limit = GainLimit(donor_cost, best_gain);
      if (na.cost > limit) break;
      const RouteCost nb =
          evaluator_.EvaluateRoute(graph_, nodes_, agents_, RouteView::Inserted(rb, v, j), b, &pb, limit);
      if (!nb.valid) continue;
      const double gain = donor_cost - std::max(na.cost, nb.cost);
      if (gain > best_gain) {
        best_gain = gain;
        best.donor_position = static_cast<int64_t>(i);
        best.receiver_position = static_cast<int64_t>(j);
        best.gain = gain;
      }
    }
  }
  return best;
}

void DefaultPostOptimizer::ApplyRelocation(RouteRecord& donor, RouteRecord& receiver, int64_t i, int64_t j) {
  const int64_t donor_len = static_cast<int64_t>(donor.route.size());
  const int64_t receiver_len = static_cast<int64_t>(receiver.route.size());
  if (donor_len < 2 || receiver_len < 2) return;
  // Negative positions are rejected as well: they would index outside the route.
  if (i < 1 || i > donor_len - 2 || j < 1 || j > receiver_len - 1) {
    log_->Err("Invalid indices.");
    return;
  }
  const int64_t v = donor.route[static_cast<size_t>(i)];
  Route new_donor = RouteView::Removed(donor.route, static_cast<size_t>(i)).Materialise();
  Route new_receiver = RouteView::Inserted(receiver.route, v, static_cast<size_t>(j)).Materialise();
  const RouteCost da = Evaluate(new_donor, donor.agent);
  const RouteCost rb = Evaluate(new_receiver, receiver.agent);
  if (!da.valid || !rb.valid) return;
  donor.route = std::move(new_donor);
  donor.cost = da.cost;
  receiver.route = std::move(new_receiver);
  receiver.cost = rb.cost;
}

}  // namespace velmora
