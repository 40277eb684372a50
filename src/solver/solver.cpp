#include "solver/solver.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "graph/graph_tables.hpp"
#include "plugins/default_constraint_checker.hpp"
#include "plugins/default_expansion.hpp"
#include "plugins/default_focal_comparator.hpp"
#include "plugins/default_heuristic.hpp"
#include "plugins/default_objective.hpp"
#include "postopt/default_post_optimizer.hpp"

namespace velmora {

namespace {

// The lookup error that callers of the set-up rely on, whatever the standard
// library's own wording is.
template <typename Map, typename Key>
const typename Map::mapped_type& At(const Map& map, const Key& key) {
  auto it = map.find(key);
  if (it == map.end()) throw std::out_of_range("unordered_map::at: key not found");
  return it->second;
}

// Truncates toward zero; values outside the 64-bit range saturate and NaN gives 0.
int64_t TruncateCoordinate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (v < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

std::string TooManyNodes(uint64_t n, bool improve) {
  const std::string count = "the problem has " + std::to_string(n) + " nodes; the solver handles at most ";
  if (improve) return count + std::to_string(kMaxImproveNodes) + " with improve on";
  return count + std::to_string(kMaxNodes) + " (up to " + std::to_string(kMaxImproveNodes) + " with improve on)";
}

}  // namespace

Solver::Solver(Problem problem, const Options& options, DiagnosticsSink sink)
    : diagnostics_(std::move(sink)),
      focal_comparator_(std::make_unique<DefaultFocalComparator>()),
      heuristic_(std::make_unique<DefaultHeuristic>()),
      post_optimizer_(std::make_unique<DefaultPostOptimizer>()),
      checker_(std::make_unique<DefaultConstraintChecker>()),
      expansion_(std::make_unique<DefaultExpansion>()),
      objective_(std::make_unique<DefaultObjective>()),
      focal_(FocalOrder{focal_comparator_.get()}, PoolAllocator<FocalEntry>(&focal_pool_)) {
  BuildFromProblem(problem, options);
}

Solver::~Solver() {
  while (!frontiers_.empty()) frontiers_.pop_back();
}

void Solver::BuildFromProblem(const Problem& problem, const Options& options) {
  const uint64_t n = problem.nodes().size();
  if (n > kMaxNodes && (!options.improve || n > kMaxImproveNodes)) {
    throw std::invalid_argument(TooManyNodes(n, options.improve));
  }
  // Beyond the focal search's limit only the improvement engine runs.
  engine_only_ = n > kMaxNodes;
  ReadTypes(problem);
  ReadNodes(problem);
  ReadAgents(problem);
  ReadAssignments(problem);
  ReadWindows(problem);
  if (!engine_only_) BuildCompleteGraph(problem);
  ChoosePlugins(options);
  graph_ = owned_graph_.get();
  if (std::isnan(options.time_limit)) throw std::invalid_argument("options.time_limit must not be NaN");
  time_limit_ = options.time_limit;
  return_to_end_ = options.return_to_end;
  objective_type_ = options.objective;
  improve_ = options.improve;
  seed_ = options.seed;
  improve_iterations_ = options.improve_iterations;
  if (engine_only_) {
    BuildEngineContext(problem);
  } else {
    Initialize();
  }
}

void Solver::ReadTypes(const Problem& problem) {
  type_index_.clear();
  type_names_.clear();
  for (const auto& [name, k] : problem.type_index()) {
    type_index_[name] = k;
    type_names_[k] = name;
  }
  num_types_ = type_index_.size();
}

void Solver::ReadNodes(const Problem& problem) {
  const auto& pnodes = problem.nodes();
  const uint64_t n = pnodes.size();
  nodes_.clear();
  node_index_.clear();
  nodes_.reserve(n);
  for (uint64_t j = 0; j < n; ++j) {
    const Node& node = pnodes[j];
    node_index_[node.id] = j;
    SolverNode sn;
    sn.x = TruncateCoordinate(node.position.x);
    sn.y = TruncateCoordinate(node.position.y);
    sn.z = TruncateCoordinate(node.position.z);
    sn.id = static_cast<int64_t>(node.id);
    nodes_.push_back(std::move(sn));
  }
}

// An agent filed under another id than its own takes the type of its own type
// name, so every agent indexes the cost vectors with a valid type.
void Solver::ReadAgents(const Problem& problem) {
  agents_.clear();
  starts_.clear();
  ends_.clear();
  agent_index_.clear();
  agent_type_.clear();
  start_set_.clear();
  end_set_.clear();
  const auto& ordered = problem.agents_ordered();
  for (uint64_t k = 0; k < ordered.size(); ++k) {
    const Agent& agent = ordered[k];
    int64_t t = -1;
    auto it = problem.agent_type_index().find(agent.id);
    if (it != problem.agent_type_index().end()) {
      t = static_cast<int64_t>(it->second);
    } else {
      auto own = problem.type_index().find(agent.type);
      if (own != problem.type_index().end()) t = static_cast<int64_t>(own->second);
    }
    if (std::isnan(agent.time_limit)) {
      throw std::invalid_argument("agent " + std::to_string(agent.id) + " has a time limit that is not a number");
    }
    agent_index_[agent.id] = k;
    agent_type_[agent.id] = t;
    agents_.push_back(SolverAgent{static_cast<int64_t>(agent.id), t, agent.capacity_limit, agent.time_limit});
    starts_.push_back(At(node_index_, agent.start_node));
    ends_.push_back(At(node_index_, agent.end_node));
  }
  num_agents_ = static_cast<int32_t>(agents_.size());
  for (uint64_t s : starts_) start_set_.insert(s);
  for (uint64_t e : ends_) end_set_.insert(e);
}

// Allowed agent types per node, ascending and without repeats.
void Solver::ReadAssignments(const Problem& problem) {
  const auto& pnodes = problem.nodes();
  const auto& assignments = problem.assignment_constraint().assignments;
  for (uint64_t j = 0; j < pnodes.size(); ++j) {
    std::vector<int64_t> types;
    auto it = assignments.find(pnodes[j].id);
    if (it != assignments.end()) {
      for (const std::string& name : it->second) {
        auto t = type_index_.find(name);
        if (t != type_index_.end()) types.push_back(static_cast<int64_t>(t->second));
      }
    } else {
      diagnostics_.Err("[warning] node " + std::to_string(pnodes[j].id) +
                       " has no assignment constraint; allowing all types");
      for (const auto& entry : type_index_) types.push_back(static_cast<int64_t>(entry.second));
    }
    std::sort(types.begin(), types.end());
    types.erase(std::unique(types.begin(), types.end()), types.end());
    nodes_[j].types = std::move(types);
  }
}

// Time windows by node index.
void Solver::ReadWindows(const Problem& problem) {
  windows_.clear();
  for (const auto& [id, window] : problem.timewindow_constraint().windows) {
    auto it = node_index_.find(id);
    if (it == node_index_.end()) {
      diagnostics_.Err("[warning] time window node id " + std::to_string(id) + " not found in nodes");
      continue;
    }
    if (std::isnan(window.first) || std::isnan(window.second)) {
      throw std::invalid_argument("time window of node " + std::to_string(id) + " is not a number");
    }
    windows_[it->second] = window;
  }
}

// Complete graph with one cost per agent type; costs no matrix gives are
// kMissingCost.
void Solver::BuildCompleteGraph(const Problem& problem) {
  const uint64_t n = problem.nodes().size();
  owned_graph_ = std::make_unique<SparseGraph>();
  owned_graph_->SetDiagnostics(&diagnostics_);
  owned_graph_->ChangeCostDim(num_types_, kMissingCost);
  for (uint64_t j = 0; j < n; ++j) owned_graph_->AddVertex(j);
  const size_t dim = static_cast<size_t>(num_types_);
  own_costs_ = DenseCostTables(problem);
  CostVector cost(dim);
  for (uint64_t i = 0; i < n; ++i) {
    for (uint64_t j = 0; j < n; ++j) {
      if (i == j) continue;
      for (size_t t = 0; t < dim; ++t) cost[t] = own_costs_[(t * n + i) * n + j];
      owned_graph_->AddArc(i, j, cost);
    }
  }
}

// The context of the current graph: from the solver's own dense tables when it
// searches its own graph, else read from the caller's graph.
void Solver::BuildContext() {
  const uint64_t n = nodes_.size();
  if (graph_ == owned_graph_.get() && own_costs_.size() == num_types_ * n * n &&
      agents_.size() == starts_.size() && agents_.size() == ends_.size()) {
    context_ = RoutingContext(OwnTables(own_costs_));
  } else {
    context_ = RoutingContext(TablesFromGraph(graph_, nodes_, agents_, starts_, ends_, windows_, return_to_end_));
  }
  context_.SetDiagnostics(&diagnostics_);
}

// The solver's own records with `costs` as the tables ([(type * n + u) * n + v]).
RoutingTables Solver::OwnTables(std::vector<double> costs) const {
  const uint64_t n = nodes_.size();
  RoutingTables tables;
  tables.nodes = n;
  tables.types = num_types_;
  tables.costs = std::move(costs);
  tables.node_types.reserve(n);
  for (const SolverNode& node : nodes_) tables.node_types.push_back(node.types);
  for (const SolverAgent& agent : agents_) {
    tables.agent_type.push_back(agent.type);
    tables.time_limit.push_back(agent.time_limit);
  }
  tables.starts = starts_;
  tables.ends = ends_;
  for (const auto& entry : windows_) {
    if (entry.first < n) tables.windows.emplace_back(entry.first, entry.second);
  }
  tables.return_to_end = return_to_end_;
  return tables;
}

// Every plugin reads the context once; the composites hand it to their children.
void Solver::ConfigurePlugins() {
  heuristic_->Configure(context_);
  checker_->Configure(context_);
  expansion_->Configure(context_);
  objective_->Configure(context_);
  focal_comparator_->Configure(context_);
  post_optimizer_->Configure(context_);
}

int Solver::Initialize() {
  if (engine_only_) return 1;  // its context, built with the solver, is all there is
  BuildContext();
  // Detours through targets matter only where a later arrival can fail.
  if (context_.HasWindows() || context_.HasTimeLimits()) context_.FindShortcuts();
  exact_visits_ = !context_.AllMetric();
  BuildTimeWindowEdges();
  CheckReachability();
  context_.SetEdges(edges_);
  ConfigurePlugins();
  return 1;
}

void Solver::SetNodes(const std::vector<SolverNode>& nodes) {
  nodes_ = nodes;
  for (const SolverNode& node : nodes_) {
    const bool ok = node.types == std::vector<int64_t>{0} || node.types == std::vector<int64_t>{0, 1};
    if (!ok) {
      throw std::invalid_argument("Wrong Point type: node " + std::to_string(node.id) +
                                  " must allow the agent types [0] or [0, 1]");
    }
  }
}

void Solver::SetAgents(const std::vector<SolverAgent>& agents) { agents_ = agents; }

void Solver::SetGraph(PlannerGraph* graph) { graph_ = graph; }

int Solver::SolveOn(PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                    const std::vector<SolverAgent>& agents, const std::vector<uint64_t>& starts,
                    const std::vector<uint64_t>& ends, const std::string& name, double time_limit) {
  instance_name_ = name;
  SetGraph(graph);
  SetNodes(nodes);
  SetAgents(agents);
  num_types_ = graph_->GetCostDim();
  starts_ = starts;
  start_set_.clear();
  for (uint64_t s : starts_) start_set_.insert(s);
  num_agents_ = static_cast<int32_t>(starts_.size());
  ends_ = ends;
  end_set_.clear();
  for (uint64_t e : ends_) end_set_.insert(e);
  return_to_end_ = false;
  engine_only_ = false;
  Initialize();
  time_limit_ = time_limit;
  return solve();
}

Result Solver::get_result() {
  result_.last_update_time = last_update_time_;
  return result_;
}

SearchStatistics Solver::GetStatistics() const { return statistics_; }

std::vector<AnytimeEntry> Solver::get_result_process() const { return anytime_; }

void Solver::CheckReachability() {
  unreachable_.clear();
  for (uint64_t i = 0; i < nodes_.size(); ++i) {
    if (!start_set_.count(i) && !end_set_.count(i)) continue;
    double d = kLargest;
    const uint64_t n = graph_->NumVertex();
    for (uint64_t j = 0; j < n; ++j) {
      if (j == i) continue;
      d = std::min(d, graph_->GetArcCostComponent(i, j, 0, kLargest));
    }
    if (d == kMissingCost) {
      diagnostics_.Err("point: " + std::to_string(i) + " can't be reached");
      unreachable_.push_back(i);
    }
  }
}

void Solver::BuildTimeWindowEdges() {
  edges_.clear();
  const uint64_t n = graph_->NumVertex();
  const bool debug = std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr;
  const double inf = std::numeric_limits<double>::infinity();

  std::vector<double> wstart(n, 0.0), wend(n, inf);
  std::vector<char> has(n, 0);
  for (const auto& [node, window] : windows_) {
    if (node >= n) continue;
    wstart[node] = window.first;
    wend[node] = window.second;
    has[node] = 1;
  }
  const uint64_t types = graph_->GetCostDim();
  auto pair_cost = [&](uint64_t a, uint64_t b) {
    double best = kLargest;
    for (uint64_t t = 0; t < types; ++t) {
      const double travel = graph_->GetArcCostComponent(a, b, static_cast<int64_t>(t), kMissingCost);
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
  edges_.reserve(n * (n ? n - 1 : 0) / 2);
  for (uint64_t j = 0; j < n; ++j) {
    for (uint64_t k = 0; k < j; ++k) {
      const double w = std::min(pair_cost(j, k), pair_cost(k, j));
      if (w == kLargest) {
        ++blocked;
        if (debug) {
          std::ostringstream line;
          line << "edge: " << j << "->" << k << " cost: " << w;
          diagnostics_.Out(line.str());
        }
      } else {
        edges_.push_back(WeightedPair{j, k, w});
      }
    }
  }
  if (blocked > 0) {
    diagnostics_.Out("[TW-MST] blocked edges: " + std::to_string(blocked) + " / " +
                     std::to_string(n * (n - 1) / 2) + " (set MTSP_DEBUG_TW_EDGES=1 for details)");
  }
  // A stable sort keeps the order of equal weights reproducible.
  std::stable_sort(edges_.begin(), edges_.end(),
                   [](const WeightedPair& a, const WeightedPair& b) { return a.weight < b.weight; });
}

void Solver::ExtractSolution(int64_t goal) {
  std::vector<std::pair<int64_t, int64_t>> moves;
  for (int64_t id = goal; id > 0; id = arena_.Parent(static_cast<uint64_t>(id))) {
    const uint64_t u = static_cast<uint64_t>(id);
    const int64_t agent = arena_.LastAgent(u);
    moves.emplace_back(agent, static_cast<int64_t>(arena_.Position(u, static_cast<size_t>(agent))));
  }
  for (int32_t k = 0; k < num_agents_; ++k) moves.emplace_back(k, static_cast<int64_t>(starts_[k]));
  std::reverse(moves.begin(), moves.end());

  const double* costs = arena_.Costs(static_cast<uint64_t>(goal));
  for (int32_t k = 0; k < num_agents_; ++k) result_.times[k] = costs[k];
  std::vector<std::vector<int64_t>> routes(static_cast<size_t>(num_agents_));
  for (const auto& [k, v] : moves) routes[static_cast<size_t>(k)].push_back(v);
  for (int32_t k = 0; k < num_agents_; ++k) result_.paths[k] = std::move(routes[static_cast<size_t>(k)]);
}

void Solver::UpdateStatistics() {
  if (found_ == 0) return;
  statistics_.found = found_;
  statistics_.max_cost = largest_route_cost_;
  statistics_.agent_count = num_agents_;
  statistics_.type1_agents = 0;
  statistics_.type0_agents = 0;
  statistics_.nodes_types01 = 0;
  statistics_.nodes_type0 = 0;
  statistics_.node_count = static_cast<int32_t>(nodes_.size());
  for (const SolverNode& node : nodes_) {
    if (node.types == std::vector<int64_t>{0}) ++statistics_.nodes_type0;
    if (node.types == std::vector<int64_t>{0, 1}) ++statistics_.nodes_types01;
  }
  for (const SolverAgent& agent : agents_) {
    if (agent.type == 1) ++statistics_.type1_agents;
    if (agent.type == 0) ++statistics_.type0_agents;
  }
  double sum = 0.0;
  const int64_t count = static_cast<int64_t>(result_.times.size());
  for (int64_t i = 0; i < count; ++i) {
    auto it = result_.times.find(i);
    if (it != result_.times.end()) sum += it->second;
  }
  statistics_.sum_cost = sum;
  statistics_.last_improvement_time = last_update_time_;
}

void Solver::WritePathDump() const {
  nlohmann::json doc;
  doc["num_agents"] = num_agents_;
  doc["starts"] = starts_;
  doc["goals"] = ends_;
  doc["max_path_length"] = largest_route_cost_;
  nlohmann::json paths = nlohmann::json::object();
  const int64_t count = static_cast<int64_t>(result_.paths.size());
  for (int64_t i = 0; i < count; ++i) {
    std::vector<int64_t> path;
    auto it = result_.paths.find(i);
    if (it != result_.paths.end() && !it->second.empty()) path.assign(it->second.begin(), it->second.end() - 1);
    paths[std::to_string(i)] = path;
  }
  doc["paths"] = paths;
  nlohmann::json totals = nlohmann::json::array();
  const int64_t tcount = static_cast<int64_t>(result_.times.size());
  for (int64_t i = 0; i < tcount; ++i) {
    auto it = result_.times.find(i);
    totals.push_back(it != result_.times.end() ? it->second : 0.0);
  }
  doc["total_costs"] = totals;

  std::filesystem::create_directories("paths/paths_astar");
  const std::string path = "paths/paths_astar/" + instance_name_ + "_astar.json";
  std::ofstream out(path, std::ios::trunc);
  if (!out) {
    diagnostics_.Err("Error: cannot open " + path + " for writing.");
    return;
  }
  out << doc.dump(2) << "\n";
  out.close();
  diagnostics_.Out("Saved to " + path);
}

std::string Solver::FrontierKey(const SearchState& state) {
  std::string key;
  for (uint64_t p : state.positions) {
    key += std::to_string(p);
    key += '_';
  }
  return key;
}

}  // namespace velmora
