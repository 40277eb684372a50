#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/constants.hpp"
#include "core/diagnostics.hpp"
#include "core/focal_entry.hpp"
#include "core/routing_context.hpp"
#include "core/search_state.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "core/weighted_pair.hpp"
#include "core/window_table.hpp"
#include "graph/planner_graph.hpp"
#include "graph/sparse_graph.hpp"
#include "improve/improve_settings.hpp"
#include "model/options.hpp"
#include "model/problem.hpp"
#include "model/result.hpp"
#include "plugins/constraint_checker_plugin.hpp"
#include "plugins/expansion_plugin.hpp"
#include "plugins/focal_comparator_plugin.hpp"
#include "plugins/heuristic_plugin.hpp"
#include "plugins/objective_plugin.hpp"
#include "postopt/post_optimizer_plugin.hpp"
#include "solver/anytime_entry.hpp"
#include "solver/frontier.hpp"
#include "solver/memory_guard.hpp"
#include "solver/node_pool.hpp"
#include "solver/result_log.hpp"
#include "solver/search_statistics.hpp"
#include "solver/simple_timer.hpp"
#include "solver/state_arena.hpp"

namespace velmora {

// The search engine. Set-up: the problem is read into the solver's records and
// routing tables (TablesFromProblem), the tables become the routing context,
// and when the focal search runs (at most kMaxNodes nodes) the complete graph
// is built from the context and the search prepared on it (edge list,
// unreachable depots, plugins). Beyond kMaxNodes, with improvement on, and
// whenever the options enforce capacities or precedence pairs, there is no
// graph: solve() runs the improvement engine alone on the context. It owns
// one plugin of each family, all search structures and its ResultLog.
class Solver {
 public:
  // `sink` receives every console line of the solver and its plugins; without
  // one they go to standard output and standard error.
  Solver(Problem problem, const Options& options, DiagnosticsSink sink = {});
  virtual ~Solver();
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  virtual void SetNodes(const std::vector<SolverNode>& nodes);
  virtual void SetAgents(const std::vector<SolverAgent>& agents);
  virtual void SetGraph(PlannerGraph* graph);
  virtual int SolveOn(PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                      const std::vector<SolverAgent>& agents, const std::vector<uint64_t>& starts,
                      const std::vector<uint64_t>& ends, const std::string& name, double time_limit);
  virtual Result get_result();
  virtual SearchStatistics GetStatistics() const;
  virtual std::vector<AnytimeEntry> get_result_process() const;
  virtual int solve();
  // Rebuilds the context from the current graph and records and prepares the
  // search on it; without a graph the set-up's context is all there is.
  virtual int Initialize();
  virtual uint64_t NewStateId();
  virtual bool CheckDominated(const SearchState& state);
  virtual void ArchiveState(const SearchState& state);
  virtual void ExtractSolution(int64_t goal);
  virtual bool IsGoal(const SearchState& state) const;
  virtual double TotalCost(const SearchState& state) const;
  virtual void ResetFrontiers();
  virtual int64_t CountVisited(const SearchState& state) const;
  virtual void UpdateFocalBound(double old_bound, double new_bound);
  virtual void UpdateStatistics();
  virtual void SetIncumbent(double cost);

  // Read access for callers and tests.
  const std::vector<SolverNode>& nodes() const { return nodes_; }
  const std::vector<SolverAgent>& agents() const { return agents_; }
  const std::vector<uint64_t>& starts() const { return starts_; }
  const std::vector<uint64_t>& ends() const { return ends_; }
  const std::vector<WeightedPair>& edges() const { return edges_; }
  const std::vector<uint64_t>& unreachable() const { return unreachable_; }
  const WindowTable& windows() const { return windows_; }
  const PlannerGraph* graph() const { return graph_; }
  // The instance as the search and the post-optimizers read it; rebuilt by Initialize.
  const RoutingContext& context() const { return context_; }
  const Diagnostics& diagnostics() const { return diagnostics_; }
  const ConstraintCheckerPlugin& constraint_checker() const { return *checker_; }
  const ObjectivePlugin& objective() const { return *objective_; }
  const PostOptimizerPlugin& post_optimizer() const { return *post_optimizer_; }
  const std::vector<double>& weights() const { return weights_; }
  double incumbent() const { return incumbent_; }
  const StateArena& states() const { return arena_; }
  uint64_t state_capacity() const { return capacity_; }
  // Bytes all running searches of the process may hold in their own
  // structures before they stop as on an exhausted time budget; 0 means the
  // default (see DefaultMemoryLimit). A search also stops when the machine
  // runs low on available memory (MemoryGuard).
  void set_memory_limit(size_t bytes) { memory_limit_ = bytes; }
  // Estimate of the bytes the search structures hold now.
  size_t SearchBytes() const;
  // Half of the machine's physical memory.
  static size_t DefaultMemoryLimit();
  void set_instance_name(std::string name) { instance_name_ = std::move(name); }

  // Called with every anytime entry as it is recorded, on the thread running the
  // search; answering true ends the search as an exhausted budget does.
  using RecordHook = ResultLog::RecordHook;
  void set_on_record(RecordHook hook) { output_.set_on_record(std::move(hook)); }
  // Ends the search at its next budget check as an exhausted budget does; safe
  // from any thread. The request holds, for later searches too, until ClearStop().
  void RequestStop() noexcept { stop_requested_.store(true, std::memory_order_relaxed); }
  void ClearStop() noexcept { stop_requested_.store(false, std::memory_order_relaxed); }
  bool stop_requested() const noexcept { return stop_requested_.load(std::memory_order_relaxed); }

  // The improvement phase (Options.improve) and what it did in the last solve.
  bool improve() const { return improve_; }
  // Improvement searches a solve runs: Options.threads, 0 read as the
  // processors the process may use, at most kMaxSearchThreads.
  uint32_t search_threads() const;
  static constexpr uint32_t kMaxSearchThreads = 256;
  // Processors the process may run on (its affinity mask), at least 1.
  static uint32_t UsableProcessors();
  const ImproveCounts& improve_counts() const { return improve_counts_; }

 private:
  struct FocalOrder {
    const FocalComparatorPlugin* comparator;
    bool operator()(const FocalEntry& a, const FocalEntry& b) const { return comparator->Compare(a, b); }
  };

  // Set-up: problem -> records and routing tables -> context -> graph.
  void SetUp(const Problem& problem, const Options& options);
  void ChoosePlugins(const Options& options);
  // On the graph and the context: shortcuts, edge list, unreachable depots, plugins.
  void PrepareSearch();
  void ConfigurePlugins();
  // Without a graph: the improvement engine from its own construction (improvement_phase.cpp).
  int SolveEngineOnly();

  // Steps of the search.
  enum class Step { kContinue, kGoal, kStuck };
  void ResetSearch();
  size_t BeginSearch();
  void PushRoot(size_t m);
  // Budget spent, memory bound reached or a stop requested: every phase of a
  // search polls this, so that RequestStop() ends it promptly.
  bool OutOfBudget(MemoryGuard& memory);
  Step ExpandNext(double weight);
  void RefreshFocalBound(double weight);
  void RefillFocal(double weight);
  void NextWeight();
  int FinishSearch();
  // With improve on: the focal search has recorded a solution, or has used the
  // smaller of 5 % of the budget and 0.2 s without one.
  bool FocalSearchDone() const;
  void RunImprovement();
  double Elapsed() const { return timer_.elapsed(); }
  void GenerateSuccessor(const SearchState& x, int64_t agent, uint64_t v);
  void RecordSolution(const SearchState& goal);
  // Appends {t, result} to the anytime log and hands it to the record hook;
  // every anytime entry goes through here.
  void RecordAnytime(double t);
  size_t FrontierFor(const SearchState& state, bool* created);
  void ArchiveArenaState(const SearchState& state);
  int64_t CountVisitedBits(const NodeSet& visited, int32_t n_nodes) const;

  // Declared before the plugins, which keep pointers to both.
  Diagnostics diagnostics_;
  RoutingContext context_;

  // Plugins (owned).
  std::unique_ptr<FocalComparatorPlugin> focal_comparator_;
  std::unique_ptr<HeuristicPlugin> heuristic_;
  std::unique_ptr<PostOptimizerPlugin> post_optimizer_;
  std::unique_ptr<ConstraintCheckerPlugin> checker_;
  std::unique_ptr<ExpansionPlugin> expansion_;
  std::unique_ptr<ObjectivePlugin> objective_;

  const double* leg_row_ = nullptr;  // costs from the expanded agent's node, for its type
  PlannerGraph* graph_ = nullptr;     // null: no focal search, the improvement engine alone
  std::unique_ptr<SparseGraph> owned_graph_;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  std::vector<uint64_t> starts_;
  std::vector<uint64_t> ends_;
  int32_t num_agents_ = 0;
  WindowTable windows_;
  std::vector<WeightedPair> edges_;
  std::vector<uint64_t> unreachable_;
  ResultLog output_;
  double time_limit_ = SearchDefaults::kTimeLimit;
  bool return_to_end_ = true;
  SimpleTimer timer_;

  // State arena.
  uint64_t capacity_ = 0;
  uint64_t growth_step_ = SearchDefaults::kGrowthStep;
  uint64_t growth_limit_ = SearchDefaults::kGrowthLimit;
  StateArena arena_;
  SearchState x_;  // the state being expanded
  SearchState w_;  // the successor being built
  size_t memory_limit_ = 0;
  int32_t n_nodes_ = 0;     // vertex count of the current search
  size_t archived_ = 0;     // states held by all frontiers

  // The pools outlive the sets whose nodes they hold (declared first).
  NodePool open_pool_;
  NodePool focal_pool_;
  using OpenEntry = std::pair<double, int64_t>;
  std::set<OpenEntry, std::less<OpenEntry>, PoolAllocator<OpenEntry>> open_{PoolAllocator<OpenEntry>(&open_pool_)};
  std::set<FocalEntry, FocalOrder, PoolAllocator<FocalEntry>> focal_;
  std::vector<double> weights_{SearchDefaults::kFirstWeight};
  double focal_bound_ = 0.0;
  double incumbent_ = -1.0;
  int32_t max_iterations_ = SearchDefaults::kMaxIterations;
  int32_t found_ = 0;
  double largest_route_cost_ = -1.0;
  int64_t goal_id_ = -1;  // last goal of the current search

  // Frontier keys: one byte per agent position (node indices are below 256).
  std::unordered_map<std::string, uint64_t> frontier_index_;
  std::string key_;
  bool exact_visits_ = false;  // frontier keys hold the visited set (see FrontierFor)
  uint64_t frontier_count_ = 0;
  std::vector<std::unique_ptr<Frontier>> frontiers_;

  std::atomic<bool> stop_requested_{false};
  uint64_t next_state_id_ = 0;
  std::string instance_name_;
  bool searched_ = false;

  ObjectiveType objective_type_ = ObjectiveType::MinSum;
  bool improve_ = false;
  bool engine_only_ = false;  // a rule only the improvement engine enforces is on
  uint64_t seed_ = 0;
  int64_t improve_iterations_ = 0;
  uint32_t threads_ = 1;  // Options.threads as given
  bool improved_ = false;  // the improvement phase recorded a solution
  ImproveCounts improve_counts_;
};

}  // namespace velmora
