#include "graph/graph_tables.hpp"

#include <algorithm>
#include <limits>

namespace velmora {

RoutingTables TablesFromGraph(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                              const std::vector<SolverAgent>& agents, const std::vector<uint64_t>& starts,
                              const std::vector<uint64_t>& ends, const WindowTable& windows, bool return_to_end) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  RoutingTables tables;
  const uint64_t vertices = graph != nullptr ? graph->NumVertex() : 0;
  const uint64_t dim = graph != nullptr ? graph->GetCostDim() : 0;
  // A record's index or type that no table could hold stays out of range.
  uint64_t span = std::max<uint64_t>(vertices, nodes.size());
  for (const auto& entry : windows) {
    if (entry.first < kMaxNodes) span = std::max<uint64_t>(span, entry.first + 1);
  }
  const uint64_t n = std::min<uint64_t>(span, kMaxNodes);
  uint64_t types = dim;
  for (const SolverNode& node : nodes) {
    for (int64_t t : node.types) {
      if (t >= 0 && static_cast<uint64_t>(t) < kMaxNodes)
        types = std::max<uint64_t>(types, static_cast<uint64_t>(t) + 1);
    }
  }
  for (const SolverAgent& agent : agents) {
    if (agent.type >= 0 && static_cast<uint64_t>(agent.type) < kMaxNodes) {
      types = std::max<uint64_t>(types, static_cast<uint64_t>(agent.type) + 1);
    }
  }
  tables.nodes = n;
  tables.types = types;
  tables.costs.assign(types * n * n, kNaN);
  for (uint64_t t = 0; t < dim; ++t) {
    for (uint64_t u = 0; u < std::min(vertices, n); ++u) {
      double* row = tables.costs.data() + (t * n + u) * n;
      for (uint64_t v = 0; v < std::min(vertices, n); ++v) {
        row[v] = graph->GetArcCostComponent(u, v, static_cast<int64_t>(t), kNaN);
      }
    }
  }
  tables.node_types.resize(n);
  for (uint64_t v = 0; v < std::min<uint64_t>(n, nodes.size()); ++v) tables.node_types[v] = nodes[v].types;
  const size_t m = agents.size();
  tables.agent_type.resize(m);
  tables.time_limit.resize(m);
  tables.starts.assign(m, RoutingContext::kNone);
  tables.ends.assign(m, RoutingContext::kNone);
  for (size_t k = 0; k < m; ++k) {
    tables.agent_type[k] = agents[k].type;
    tables.time_limit[k] = agents[k].time_limit;
    if (k < starts.size() && starts[k] < n) tables.starts[k] = starts[k];
    if (k < ends.size() && ends[k] < n) tables.ends[k] = ends[k];
  }
  for (const auto& [v, window] : windows) {
    if (v < n) tables.windows.emplace_back(v, window);
  }
  tables.return_to_end = return_to_end;
  return tables;
}

std::unique_ptr<SparseGraph> CompleteGraph(const RoutingContext& context, const Diagnostics* diagnostics) {
  const uint64_t n = context.NodeCount();
  const uint64_t types = context.TypeCount();
  auto graph = std::make_unique<SparseGraph>();
  graph->SetDiagnostics(diagnostics);
  graph->ChangeCostDim(types, kMissingCost);
  for (uint64_t v = 0; v < n; ++v) graph->AddVertex(v);
  CostVector cost(types);
  for (uint64_t u = 0; u < n; ++u) {
    for (uint64_t v = 0; v < n; ++v) {
      if (u == v) continue;
      for (uint64_t t = 0; t < types; ++t) cost[t] = context.Cost(static_cast<int64_t>(t), u, v);
      graph->AddArc(u, v, cost);
    }
  }
  return graph;
}

}  // namespace velmora
