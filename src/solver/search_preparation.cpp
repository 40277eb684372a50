#include "solver/search_preparation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>

namespace velmora {

std::vector<WeightedPair> TimeWindowEdges(const PlannerGraph& graph, const WindowTable& windows,
                                          const Diagnostics& diagnostics) {
  std::vector<WeightedPair> edges;
  const uint64_t n = graph.NumVertex();
  const bool debug = std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr;
  const double inf = std::numeric_limits<double>::infinity();

  std::vector<double> wstart(n, 0.0), wend(n, inf);
  std::vector<char> has(n, 0);
  for (const auto& [node, window] : windows) {
    if (node >= n) continue;
    wstart[node] = window.first;
    wend[node] = window.second;
    has[node] = 1;
  }
  const uint64_t types = graph.GetCostDim();
  auto pair_cost = [&](uint64_t a, uint64_t b) {
    double best = kLargest;
    for (uint64_t t = 0; t < types; ++t) {
      const double travel = graph.GetArcCostComponent(a, b, static_cast<int64_t>(t), kMissingCost);
      const double wait = wstart[b] - (wend[a] + travel);
      const double cost = (has[b] && std::isfinite(wend[a]) && wait > 0) ? travel + wait : travel;
      if (travel >= kMissingCost) continue;
      if (has[b] && wend[b] < wstart[a] + travel) continue;
      if (!(cost < best)) continue;
      best = cost;
    }
    return best;
  };

  uint64_t blocked = 0;
  edges.reserve(n * (n ? n - 1 : 0) / 2);
  for (uint64_t j = 0; j < n; ++j) {
    for (uint64_t k = 0; k < j; ++k) {
      const double w = std::min(pair_cost(j, k), pair_cost(k, j));
      if (w == kLargest) {
        ++blocked;
        if (debug) {
          std::ostringstream line;
          line << "edge: " << j << "->" << k << " cost: " << w;
          diagnostics.Out(line.str());
        }
      } else {
        edges.push_back(WeightedPair{j, k, w});
      }
    }
  }
  if (blocked > 0) {
    diagnostics.Out("[TW-MST] blocked edges: " + std::to_string(blocked) + " / " +
                    std::to_string(n * (n - 1) / 2) + " (set MTSP_DEBUG_TW_EDGES=1 for details)");
  }
  // A stable sort keeps the order of equal weights reproducible.
  std::stable_sort(edges.begin(), edges.end(),
                   [](const WeightedPair& a, const WeightedPair& b) { return a.weight < b.weight; });
  return edges;
}

std::vector<uint64_t> UnreachableDepots(const RoutingContext& context, uint64_t nodes,
                                        const Diagnostics& diagnostics) {
  std::vector<uint64_t> unreachable;
  const uint64_t n = context.NodeCount();
  for (uint64_t i = 0; i < std::min(nodes, n); ++i) {
    if (!context.IsDepot(i)) continue;
    double d = kLargest;
    for (uint64_t j = 0; j < n; ++j) {
      if (j != i) d = std::min(d, context.CostOr(0, i, j, kLargest));
    }
    if (d == kMissingCost) {
      diagnostics.Err("point: " + std::to_string(i) + " can't be reached");
      unreachable.push_back(i);
    }
  }
  return unreachable;
}

}  // namespace velmora
