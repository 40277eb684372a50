#pragma once

#include <cstdint>
#include <vector>

#include "core/diagnostics.hpp"
#include "core/routing_context.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "core/window_table.hpp"
#include "model/problem.hpp"

namespace velmora {

// A problem read by dense index (a node is its position in the problem's node
// list, an agent its position in agents_ordered): the solver's records and the
// routing tables its context is built from.
struct ProblemTables {
  std::vector<SolverNode> nodes;    // coordinates truncated toward zero; allowed types ascending, no repeats
  std::vector<SolverAgent> agents;  // an agent without a type entry takes the type of its own type name
  std::vector<uint64_t> starts;     // start node per agent
  std::vector<uint64_t> ends;       // end node per agent
  WindowTable windows;              // by node index
  // The same records with one dense table per agent type, [(type * n + u) * n + v]:
  // the matrices' cells, kMissingCost where no matrix gives one, NaN on the diagonal.
  RoutingTables routing;
};

// Reads `problem` section by section: types, nodes, agents, allowed types,
// windows, costs. A node without an assignment entry (all types allowed) and a
// window of an unknown node id (ignored) are "[warning] ..." lines on
// `diagnostics`. An unknown start or end node id or cost-matrix type raises
// std::out_of_range "unordered_map::at: key not found"; a time limit, window or
// cost that is not a number, a cost of minus infinity and a matrix with more
// rows or columns than nodes raise std::invalid_argument.
ProblemTables TablesFromProblem(const Problem& problem, bool return_to_end, const Diagnostics& diagnostics);

// The rules that `options` enforces, into tables.routing: demands and
// capacities (enforce_capacity), the precedence pairs by node index
// (enforce_precedence). Raises std::invalid_argument for a negative or NaN
// demand, a NaN capacity, and a pair that names an unknown node id, a depot
// or one node twice (by its list and position).
void AddRouteRules(const Problem& problem, const Options& options, ProblemTables& tables);

}  // namespace velmora
