#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/routing_context.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "core/window_table.hpp"
#include "graph/planner_graph.hpp"
#include "graph/sparse_graph.hpp"

namespace velmora {

// What a routing context is built from, read from a graph and the solver's
// records: one table per agent type with every arc's cost as the graph gives it
// (NaN without an arc). Nodes span the graph's vertices, `nodes` and the
// windowed nodes (at most kMaxNodes); agents are
// those of `agents`, with kNone for a start or end the lists do not give (or
// one outside the nodes); types cover the graph's cost components and every
// type the records name. Windows outside the nodes are dropped.
RoutingTables TablesFromGraph(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                              const std::vector<SolverAgent>& agents, const std::vector<uint64_t>& starts,
                              const std::vector<uint64_t>& ends, const WindowTable& windows, bool return_to_end);

// The complete graph of a context's tables: vertices 0 .. n-1 and an arc u -> v
// for every u != v, whose cost vector holds the context's cost of each type.
// Its failures echo to `diagnostics` (the console when null).
std::unique_ptr<SparseGraph> CompleteGraph(const RoutingContext& context, const Diagnostics* diagnostics);

}  // namespace velmora
