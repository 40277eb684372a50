#include "solver/problem_tables.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace velmora {

namespace {

// The lookup error that callers of the set-up rely on, whatever the standard
// library's own wording is.
[[noreturn]] void KeyNotFound() { throw std::out_of_range("unordered_map::at: key not found"); }

// Truncates toward zero; values outside the 64-bit range saturate and NaN gives 0.
int64_t TruncateCoordinate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (v < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

// One reading of a problem; the id look-ups live only while it reads.
class ProblemReader {
 public:
  ProblemReader(const Problem& problem, const Diagnostics& diagnostics)
      : problem_(problem), diagnostics_(diagnostics) {}

  ProblemTables Read(bool return_to_end) {
    ReadNodes();
    ReadAgents();
    ReadAssignments();
    ReadWindows();
    out_.routing = RoutingOf(DenseCosts(), return_to_end);
    return std::move(out_);
  }

 private:
  uint64_t NodeIndex(uint64_t id) const {
    auto it = node_index_.find(id);
    if (it == node_index_.end()) KeyNotFound();
    return it->second;
  }

  void ReadNodes() {
    const auto& nodes = problem_.nodes();
    out_.nodes.reserve(nodes.size());
    for (uint64_t j = 0; j < nodes.size(); ++j) {
      const Node& node = nodes[j];
      node_index_[node.id] = j;  // a repeated id names its last position
      SolverNode record;
      record.x = TruncateCoordinate(node.position.x);
      record.y = TruncateCoordinate(node.position.y);
      record.z = TruncateCoordinate(node.position.z);
      record.id = static_cast<int64_t>(node.id);
      out_.nodes.push_back(std::move(record));
    }
  }

  // An agent filed under another id than its own takes the type of its own type
  // name, so every agent indexes the cost tables with a valid type.
  void ReadAgents() {
    for (const Agent& agent : problem_.agents_ordered()) {
      int64_t t = -1;
      auto it = problem_.agent_type_index().find(agent.id);
      if (it != problem_.agent_type_index().end()) {
        t = static_cast<int64_t>(it->second);
      } else {
        auto own = problem_.type_index().find(agent.type);
        if (own != problem_.type_index().end()) t = static_cast<int64_t>(own->second);
      }
      if (std::isnan(agent.time_limit)) {
        throw std::invalid_argument("agent " + std::to_string(agent.id) +
                                    " has a time limit that is not a number");
      }
      out_.agents.push_back(
          SolverAgent{static_cast<int64_t>(agent.id), t, agent.capacity_limit, agent.time_limit});
      out_.starts.push_back(NodeIndex(agent.start_node));
      out_.ends.push_back(NodeIndex(agent.end_node));
    }
  }

  // Allowed agent types per node, ascending and without repeats.
  void ReadAssignments() {
    const auto& nodes = problem_.nodes();
    const auto& assignments = problem_.assignment_constraint().assignments;
    const auto& type_index = problem_.type_index();
    for (uint64_t j = 0; j < nodes.size(); ++j) {
      std::vector<int64_t> types;
      auto it = assignments.find(nodes[j].id);
      if (it != assignments.end()) {
        for (const std::string& name : it->second) {
          auto t = type_index.find(name);
          if (t != type_index.end()) types.push_back(static_cast<int64_t>(t->second));
        }
      } else {
        diagnostics_.Err("[warning] node " + std::to_string(nodes[j].id) +
                         " has no assignment constraint; allowing all types");
        for (const auto& entry : type_index) types.push_back(static_cast<int64_t>(entry.second));
      }
      std::sort(types.begin(), types.end());
      types.erase(std::unique(types.begin(), types.end()), types.end());
      out_.nodes[j].types = std::move(types);
    }
  }

  // Time windows by node index.
  void ReadWindows() {
    for (const auto& [id, window] : problem_.timewindow_constraint().windows) {
      auto it = node_index_.find(id);
      if (it == node_index_.end()) {
        diagnostics_.Err("[warning] time window node id " + std::to_string(id) + " not found in nodes");
        continue;
      }
      if (std::isnan(window.first) || std::isnan(window.second)) {
        throw std::invalid_argument("time window of node " + std::to_string(id) + " is not a number");
      }
      out_.windows[it->second] = window;
    }
  }

  // [(type * n + u) * n + v]: the problem's matrix cells (rows and columns are
  // node indices), kMissingCost where no matrix gives one, NaN on the diagonal
  // (no arc).
  std::vector<double> DenseCosts() const {
    const size_t n = problem_.nodes().size();
    const size_t types = problem_.type_index().size();
    std::vector<double> costs(types * n * n, kMissingCost);
    for (const auto& [name, matrix] : problem_.cost_matrices()) {
      auto known = problem_.type_index().find(name);
      if (known == problem_.type_index().end()) KeyNotFound();
      const size_t t = static_cast<size_t>(known->second);
      if (matrix.size() > n) {
        throw std::invalid_argument("cost matrix of agent type '" + name + "' has " +
                                    std::to_string(matrix.size()) + " rows but the problem has " +
                                    std::to_string(n) + " nodes");
      }
      for (size_t i = 0; i < matrix.size(); ++i) {
        const std::vector<double>& row = matrix[i];
        if (row.size() > n) {
          throw std::invalid_argument("row " + std::to_string(i) + " of the cost matrix of agent type '" + name +
                                      "' has " + std::to_string(row.size()) + " columns but the problem has " +
                                      std::to_string(n) + " nodes");
        }
        double* out = costs.data() + (t * n + i) * n;
        for (size_t j = 0; j < row.size(); ++j) {
          // NaN and minus infinity would poison every sum and comparison of route costs.
          if (std::isnan(row[j]) || row[j] == -std::numeric_limits<double>::infinity()) {
            throw std::invalid_argument("cost matrix of agent type '" + name + "' holds " +
                                        (std::isnan(row[j]) ? "a value that is not a number" : "minus infinity") +
                                        " at (" + std::to_string(i) + ", " + std::to_string(j) + ")");
          }
          out[j] = row[j];
        }
      }
    }
    for (size_t t = 0; t < types; ++t) {
      for (size_t v = 0; v < n; ++v) costs[(t * n + v) * n + v] = std::numeric_limits<double>::quiet_NaN();
    }
    return costs;
  }

  RoutingTables RoutingOf(std::vector<double> costs, bool return_to_end) const {
    RoutingTables tables;
    tables.nodes = out_.nodes.size();
    tables.types = problem_.type_index().size();
    tables.costs = std::move(costs);
    tables.node_types.reserve(out_.nodes.size());
    for (const SolverNode& node : out_.nodes) tables.node_types.push_back(node.types);
    for (const SolverAgent& agent : out_.agents) {
      tables.agent_type.push_back(agent.type);
      tables.time_limit.push_back(agent.time_limit);
    }
    tables.starts = out_.starts;
    tables.ends = out_.ends;
    for (const auto& entry : out_.windows) tables.windows.emplace_back(entry.first, entry.second);
    tables.return_to_end = return_to_end;
    return tables;
  }

  const Problem& problem_;
  const Diagnostics& diagnostics_;
  std::unordered_map<uint64_t, uint64_t> node_index_;
  ProblemTables out_;
};

}  // namespace

ProblemTables TablesFromProblem(const Problem& problem, bool return_to_end, const Diagnostics& diagnostics) {
  return ProblemReader(problem, diagnostics).Read(return_to_end);
}

namespace {

std::string Number(double v) {
  std::ostringstream out;
  out << v;
  return out.str();
}

void AddCapacities(const Problem& problem, RoutingTables& routing) {
  routing.demand.reserve(problem.nodes().size());
  for (const Node& node : problem.nodes()) {
    if (std::isnan(node.demand)) {
      throw std::invalid_argument("node " + std::to_string(node.id) + " has a demand that is not a number");
    }
    if (node.demand < 0) {
      throw std::invalid_argument("node " + std::to_string(node.id) + " has a negative demand (" +
                                  Number(node.demand) + "); enforce_capacity needs demands of 0 or more");
    }
    routing.demand.push_back(node.demand);
  }
  for (const Agent& agent : problem.agents_ordered()) {
    if (std::isnan(agent.capacity_limit)) {
      throw std::invalid_argument("agent " + std::to_string(agent.id) + " has a capacity that is not a number");
    }
    routing.capacity.push_back(agent.capacity_limit);
  }
}

void AddPairs(const Problem& problem, const ProblemTables& tables, RoutingTables& routing) {
  std::unordered_map<uint64_t, uint64_t> index;
  for (uint64_t j = 0; j < problem.nodes().size(); ++j) index[problem.nodes()[j].id] = j;
  std::vector<uint8_t> depot(problem.nodes().size(), 0);
  for (uint64_t j = 0; j < problem.nodes().size(); ++j) depot[j] = problem.nodes()[j].type == NodeType::DEPOT;
  for (uint64_t s : tables.starts) depot[s] = 1;
  for (uint64_t e : tables.ends) depot[e] = 1;
  const PrecedenceLists& lists = problem.precedence_lists();
  const std::pair<const char*, const std::vector<IdPair>*> named[] = {{"precedence", &lists.precedence},
                                                                      {"precedence_same", &lists.precedence_same},
                                                                      {"precedence_diff", &lists.precedence_diff}};
  const PairKind kinds[] = {PairKind::kTime, PairKind::kSame, PairKind::kDiff};
  for (int l = 0; l < 3; ++l) {
    const std::vector<IdPair>& list = *named[l].second;
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string where = std::string(named[l].first) + "[" + std::to_string(i) + "]";
      uint64_t ends[2];
      const uint64_t ids[2] = {list[i].first, list[i].second};
      for (int e = 0; e < 2; ++e) {
        auto it = index.find(ids[e]);
        if (it == index.end()) {
          throw std::invalid_argument(where + " names node id " + std::to_string(ids[e]) + ", which no node has");
        }
        if (depot[it->second]) {
          throw std::invalid_argument(where + " names node id " + std::to_string(ids[e]) +
                                      ", a depot; pairs tie targets");
        }
        ends[e] = it->second;
      }
      if (ends[0] == ends[1]) {
        throw std::invalid_argument(where + " names node id " + std::to_string(ids[0]) + " twice");
      }
      routing.pairs.push_back(PrecedencePair{ends[0], ends[1], kinds[l]});
    }
  }
}

}  // namespace

void AddRouteRules(const Problem& problem, const Options& options, ProblemTables& tables) {
  if (options.enforce_capacity) AddCapacities(problem, tables.routing);
  if (options.enforce_precedence) AddPairs(problem, tables, tables.routing);
}

}  // namespace velmora
