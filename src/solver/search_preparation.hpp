#pragma once

#include <cstdint>
#include <vector>

#include "core/diagnostics.hpp"
#include "core/routing_context.hpp"
#include "core/weighted_pair.hpp"
#include "core/window_table.hpp"
#include "graph/planner_graph.hpp"

namespace velmora {

// What the set-up derives for the search from an instance.

// The heuristic's edge list: for every unordered pair of the graph's vertices
// {j, k} (j > k) the cheapest trip between them over the agent types and both
// directions that the windows allow (leaving at the opening of the first's
// window reaches the second before it closes; the waiting that remains after
// leaving at the close is added), sorted by weight (stably). Pairs no type can
// travel are left out and counted on `diagnostics` ("[TW-MST] blocked edges:
// ..."), each listed when the environment variable MTSP_DEBUG_TW_EDGES exists.
std::vector<WeightedPair> TimeWindowEdges(const PlannerGraph& graph, const WindowTable& windows,
                                          const Diagnostics& diagnostics);

// The depots no route has to reach: every start or end node below `nodes`
// whose arcs of type 0 to all other nodes are missing (the cheapest costs
// kMissingCost), in ascending order, each reported on `diagnostics` as
// "point: <i> can't be reached".
std::vector<uint64_t> UnreachableDepots(const RoutingContext& context, uint64_t nodes,
                                        const Diagnostics& diagnostics);

}  // namespace velmora
