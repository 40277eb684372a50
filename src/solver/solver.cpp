#include "solver/solver.hpp"

#include <cmath>
#include <stdexcept>

#include "graph/graph_tables.hpp"
#include "plugins/default_constraint_checker.hpp"
#include "plugins/default_expansion.hpp"
#include "plugins/default_focal_comparator.hpp"
#include "plugins/default_heuristic.hpp"
#include "plugins/default_objective.hpp"
#include "postopt/default_post_optimizer.hpp"
#include "solver/problem_tables.hpp"
#include "solver/search_preparation.hpp"

namespace velmora {

namespace {

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
  SetUp(problem, options);
}

Solver::~Solver() {
  while (!frontiers_.empty()) frontiers_.pop_back();
}

void Solver::SetUp(const Problem& problem, const Options& options) {
  // The focal search knows neither rule: only the improvement engine enforces them.
  if (!options.improve) {
    if (options.enforce_capacity) throw std::invalid_argument("options.enforce_capacity needs options.improve on");
    if (options.enforce_precedence) {
      throw std::invalid_argument("options.enforce_precedence needs options.improve on");
    }
  }
  const uint64_t n = problem.nodes().size();
  if (n > kMaxNodes && (!options.improve || n > kMaxImproveNodes)) {
    throw std::invalid_argument(TooManyNodes(n, options.improve));
  }
  ProblemTables tables = TablesFromProblem(problem, options.return_to_end, diagnostics_);
  AddRouteRules(problem, options, tables);
  engine_only_ = options.enforce_capacity || options.enforce_precedence;
  nodes_ = std::move(tables.nodes);
  agents_ = std::move(tables.agents);
  starts_ = std::move(tables.starts);
  ends_ = std::move(tables.ends);
  windows_ = std::move(tables.windows);
  num_agents_ = static_cast<int32_t>(agents_.size());
  ChoosePlugins(options);
  if (std::isnan(options.time_limit)) throw std::invalid_argument("options.time_limit must not be NaN");
  time_limit_ = options.time_limit;
  return_to_end_ = options.return_to_end;
  objective_type_ = options.objective;
  improve_ = options.improve;
  seed_ = options.seed;
  improve_iterations_ = options.improve_iterations;
  threads_ = options.threads;
  context_ = RoutingContext(std::move(tables.routing));
  context_.SetDiagnostics(&diagnostics_);
  if (n > kMaxNodes || engine_only_) {
    // Beyond the focal search's limit, or under a rule the focal search does not
    // know, only the improvement engine runs: it reads the context alone (no
    // graph, no edge list, plugins left unconfigured).
    unreachable_ = UnreachableDepots(context_, nodes_.size(), diagnostics_);
    return;
  }
  owned_graph_ = CompleteGraph(context_, &diagnostics_);
  graph_ = owned_graph_.get();
  PrepareSearch();
}

void Solver::PrepareSearch() {
  // Detours through targets matter only where a later arrival can fail.
  if (context_.HasWindows() || context_.HasTimeLimits()) context_.FindShortcuts();
  exact_visits_ = !context_.AllMetric();
  edges_ = TimeWindowEdges(*graph_, windows_, diagnostics_);
  unreachable_ = UnreachableDepots(context_, nodes_.size(), diagnostics_);
  context_.SetEdges(edges_);
  ConfigurePlugins();
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
  if (graph_ == nullptr) return 1;
  context_ = RoutingContext(TablesFromGraph(graph_, nodes_, agents_, starts_, ends_, windows_, return_to_end_));
  context_.SetDiagnostics(&diagnostics_);
  PrepareSearch();
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
  starts_ = starts;
  num_agents_ = static_cast<int32_t>(starts_.size());
  ends_ = ends;
  return_to_end_ = false;
  Initialize();
  time_limit_ = time_limit;
  return solve();
}

Result Solver::get_result() { return output_.Current(); }

SearchStatistics Solver::GetStatistics() const { return output_.statistics(); }

std::vector<AnytimeEntry> Solver::get_result_process() const { return output_.anytime(); }

void Solver::UpdateStatistics() {
  if (found_ == 0) return;
  output_.UpdateStatistics(largest_route_cost_, num_agents_, nodes_, agents_);
}

}  // namespace velmora
