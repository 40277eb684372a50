#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "postopt/post_optimizer_plugin.hpp"
#include "postopt/route_evaluator.hpp"

namespace velmora {

// Cheapest place for one node in another agent's route.
struct Insertion {
  bool found = false;
  uint64_t agent = 0;
  size_t position = 0;
  double cost = 0.0;  // the receiving route's new cost
};

// Empties cheap routes by moving each of their interior nodes into other
// routes, never making a receiving route costlier than the longest route; then
// straightens every route of positive cost with segment reversals.
class RouteMergingPostOptimizer : public PostOptimizerPlugin {
 public:
  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  void Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                const std::vector<SolverAgent>& agents, Result& result) override;
  void SetReturnToEnd(bool flag) override;
  void SetAgentStarts(const std::vector<uint64_t>& starts) override;
  void SetAgentEnds(const std::vector<uint64_t>& ends) override;
  void SetTimeWindows(const WindowTable& windows) override;

  const RouteEvaluator& Evaluator() const { return evaluator_; }

  // Working state of the last Optimize.
  const std::vector<Route>& Routes() const { return routes_; }
  const std::vector<double>& RouteCosts() const { return costs_; }

  // Cheapest insertion of node v into the route of an agent other than
  // `excluded` whose new cost stays within bound + 1e-9. New costs within 1e-9
  // of each other are ranked by how much they add to their route.
  Insertion FindInsertion(int64_t v, uint64_t excluded, double bound);

 private:
  RouteCost Evaluate(const Route& route, uint64_t agent) const;
  bool Accepts(uint64_t agent, int64_t v) const;
  // The phases of Optimize.
  double ReadRoutes(const Result& result);
  void MergeCheapRoutes(double longest);
  void StraightenRoutes();
  void WriteBack(Result& result) const;
  const RouteProfile& ProfileOf(uint64_t agent);
  void Touch(uint64_t agent) { profile_fresh_[agent] = 0; }

  RouteEvaluator evaluator_;
  const PlannerGraph* graph_ = nullptr;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  std::vector<Route> routes_;
  std::vector<double> costs_;
  std::vector<RouteProfile> profiles_;  // cache, rebuilt when a route changes
  std::vector<uint8_t> profile_fresh_;
};

}  // namespace velmora
