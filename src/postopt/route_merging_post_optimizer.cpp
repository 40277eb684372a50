#include "postopt/route_merging_post_optimizer.hpp"

#include "core/constants.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace velmora {

namespace {

// A new cost above this value can neither beat `best` nor tie with it within
// 1e-9 (the slack absorbs the rounding of the addition).
double TieLimit(double best) { return best + std::max(4e-9, std::fabs(best) * 1e-15); }

}  // namespace

std::string RouteMergingPostOptimizer::GetName() const { return "RouteMergingPostOptimizer"; }

void RouteMergingPostOptimizer::Configure(const RoutingContext& context) { evaluator_.Configure(context); }

void RouteMergingPostOptimizer::SetReturnToEnd(bool flag) { evaluator_.SetReturnToEnd(flag); }
void RouteMergingPostOptimizer::SetAgentStarts(const std::vector<uint64_t>& starts) {
  evaluator_.SetAgentStarts(starts);
}
void RouteMergingPostOptimizer::SetAgentEnds(const std::vector<uint64_t>& ends) { evaluator_.SetAgentEnds(ends); }
void RouteMergingPostOptimizer::SetTimeWindows(const WindowTable& windows) { evaluator_.SetTimeWindows(windows); }

RouteCost RouteMergingPostOptimizer::Evaluate(const Route& route, uint64_t agent) const {
  return evaluator_.EvaluateRoute(graph_, nodes_, agents_, route, agent);
}

const RouteProfile& RouteMergingPostOptimizer::ProfileOf(uint64_t agent) {
  if (!profile_fresh_[agent]) {
    evaluator_.BuildProfile(graph_, nodes_, agents_, routes_[agent], agent, profiles_[agent]);
    profile_fresh_[agent] = 1;
  }
  return profiles_[agent];
}

bool RouteMergingPostOptimizer::Accepts(uint64_t agent, int64_t v) const {
  if (v < 0 || static_cast<uint64_t>(v) >= nodes_.size()) return false;
  const std::vector<int64_t>& types = nodes_[static_cast<size_t>(v)].types;
  if (std::find(types.begin(), types.end(), agents_[agent].type) == types.end()) return false;
  return !evaluator_.IsForeignDepot(static_cast<uint64_t>(v), agent);
}

void RouteMergingPostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                         const std::vector<SolverAgent>& agents, Result& result) {
  graph_ = graph;
  nodes_ = nodes;
  agents_ = agents;
  evaluator_.Refresh();  // the copies above may hold another instance at the same addresses
  const size_t n_agents = agents_.size();
  routes_.assign(n_agents, Route());
  costs_.assign(n_agents, 0.0);
  profiles_.assign(n_agents, RouteProfile());
  profile_fresh_.assign(n_agents, 0);
  const double longest = ReadRoutes(result);
  if (!(longest > 0)) return;
  MergeCheapRoutes(longest);
  StraightenRoutes();
  WriteBack(result);
}

// Takes the result's routes and their costs; returns the longest cost.
double RouteMergingPostOptimizer::ReadRoutes(const Result& result) {
  const size_t n_agents = agents_.size();
  for (uint64_t i = 0; i < n_agents; ++i) {
    auto it = result.paths.find(static_cast<int64_t>(i));
    if (it != result.paths.end()) routes_[i] = it->second;
    const RouteCost rc = Evaluate(routes_[i], i);
    if (rc.valid) costs_[i] = rc.cost;
  }

  double longest = 0.0;
  for (double c : costs_) {
    if (c > longest) longest = c;
  }
  return longest;
}

// From the cheapest route up: moves every interior node of a route cheaper
// than `longest` into other routes, or none of them.
void RouteMergingPostOptimizer::MergeCheapRoutes(double longest) {
  const size_t n_agents = agents_.size();
  std::vector<std::pair<double, uint64_t>> candidates;
  candidates.reserve(n_agents);
  for (uint64_t i = 0; i < n_agents; ++i) candidates.emplace_back(costs_[i], i);
  // Ascending cost, then agent index. A NaN cost (possible only with NaN arc
  // costs) sorts last so that the order stays a strict weak ordering; such
  // candidates are skipped below anyway.
  std::sort(candidates.begin(), candidates.end(),
            [](const std::pair<double, uint64_t>& a, const std::pair<double, uint64_t>& b) {
              const bool a_nan = std::isnan(a.first);
              const bool b_nan = std::isnan(b.first);
              if (a_nan != b_nan) return b_nan;
              if (!a_nan && a.first != b.first) return a.first < b.first;
              return a.second < b.second;
            });

  for (const auto& candidate : candidates) {
    const double t = candidate.first;
    const uint64_t u = candidate.second;
    if (!(0 < t && t < longest - kImprovementTolerance)) continue;
    if (routes_[u].size() < 3) continue;
    const Route interior(routes_[u].begin() + 1, routes_[u].end() - 1);

    bool all_placed = true;
    for (int64_t v : interior) {
      if (!FindInsertion(v, u, longest).found) {
        all_placed = false;
        break;
      }
    }
    if (!all_placed) continue;

    const Route saved_route = routes_[u];
    const std::vector<double> saved_costs = costs_;
    std::vector<std::pair<uint64_t, size_t>> moves;  // (receiving agent, position), to undo
    for (int64_t v : interior) {
      const Insertion place = FindInsertion(v, u, longest);
      if (!place.found) continue;  // earlier moves took its place: v stays in route u
      Route& target = routes_[place.agent];
      target.insert(target.begin() + static_cast<std::ptrdiff_t>(place.position), v);
      moves.emplace_back(place.agent, place.position);
      Touch(place.agent);
      const RouteCost rc = Evaluate(target, place.agent);
      if (rc.valid) costs_[place.agent] = rc.cost;
      // Remove v from the interior only: the first and last node never move,
      // even when v is the same node index as one of them.
      Route& source = routes_[u];
      auto pos = std::find(source.begin() + 1, source.end() - 1, v);
      if (pos != source.end() - 1) source.erase(pos);
      Touch(u);
    }
    // What is left of route u must still be a valid route: a node that stayed
    // behind (or the bare start-to-end leg) can break a time window or the time
    // limit that the full route kept. Then the candidate is undone as a whole.
    const RouteCost rest = Evaluate(routes_[u], u);
    if (!rest.valid) {
      for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        Route& target = routes_[it->first];
        target.erase(target.begin() + static_cast<std::ptrdiff_t>(it->second));
        Touch(it->first);
      }
      routes_[u] = saved_route;
      Touch(u);
      costs_ = saved_costs;
      continue;
    }
    // The recorded cost always matches what is left of the route.
    costs_[u] = rest.cost;
  }
}

void RouteMergingPostOptimizer::StraightenRoutes() {
  for (uint64_t l = 0; l < agents_.size(); ++l) {
    if (costs_[l] > 0) {
      evaluator_.ReverseSegments(graph_, nodes_, agents_, routes_[l], costs_[l], l);
      Touch(l);
    }
  }
}

void RouteMergingPostOptimizer::WriteBack(Result& result) const {
  for (uint64_t i = 0; i < agents_.size(); ++i) {
    result.paths[static_cast<int64_t>(i)] = routes_[i];
    result.times[static_cast<int64_t>(i)] = costs_[i];
  }
}

Insertion RouteMergingPostOptimizer::FindInsertion(int64_t v, uint64_t excluded, double bound) {
  Insertion best;
  double b = kLargest;
  const double bound_limit = bound + kImprovementTolerance;
  for (uint64_t i = 0; i < routes_.size(); ++i) {
    if (i == excluded || !Accepts(i, v)) continue;
    const Route& route = routes_[i];
    if (route.size() < 2) continue;
    const RouteProfile& profile = ProfileOf(i);
    for (size_t j = 1; j < route.size(); ++j) {
      const double limit = std::min(bound_limit, TieLimit(b));
      const RouteCost rc =
          evaluator_.EvaluateRoute(graph_, nodes_, agents_, RouteView::Inserted(route, v, j), i, &profile, limit);
      if (!rc.valid || !(rc.cost <= bound_limit)) continue;
      const double e = rc.cost;
      const bool better = e < b || (std::fabs(e - b) < kImprovementTolerance &&
                                    (!best.found || (e - costs_[i]) < (b - costs_[best.agent])));
      if (better) {
        best.found = true;
        best.agent = i;
        best.position = j;
        best.cost = e;
        b = e;
      }
    }
  }
  return best;
}

}  // namespace velmora
