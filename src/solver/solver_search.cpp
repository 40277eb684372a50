// The anytime focal search of Solver: arena, open and focal lists, dominance
// archives, successor generation and solution recording.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "solver/memory_guard.hpp"
#include "solver/solver.hpp"

namespace velmora {

namespace {

// True when every index below state.n_nodes is in the visited set.
bool AllBelowVisited(const SearchState& state) {
  if (state.n_nodes < 1) return true;
  const int n = std::min(state.n_nodes, NodeSet::kBits);
  for (int w = 0; w < 4; ++w) {
    const int lo = w * 64;
    if (lo >= n) break;
    const int bits = std::min(64, n - lo);
    const uint64_t mask = bits == 64 ? ~uint64_t{0} : ((uint64_t{1} << bits) - 1);
    if ((state.visited.words[w] & mask) != mask) return false;
  }
  return true;
}

}  // namespace

uint64_t Solver::NewStateId() {
  const uint64_t id = next_state_id_++;
  // The arena stores states compactly in chunks of its own; the capacity
  // keeps the growth schedule of the id space.
  if (capacity_ < id + 1) {
    capacity_ += growth_step_;
    if (growth_step_ < growth_limit_) growth_step_ *= 2;
  }
  return id;
}

// The key holds the agents' positions and which routes are closed: a state
// with a route still open must not prune one where it is closed (the closing
// move onto a depot already visited changes neither costs nor visits, so the
// parent would prune its own successor), nor the reverse (an agent still free
// can serve more). Where a detour through targets can be faster than the
// direct arc and windows or limits make lateness fatal, having served more is
// not better (an unserved target may be the shortcut): the key then holds the
// visited set too, so that only states with equal visits meet.
size_t Solver::FrontierFor(const SearchState& state, bool* created) {
  const size_t m = state.positions.size();
  const size_t visits = exact_visits_ ? sizeof(state.visited.words) : 0;
  key_.resize(2 * m + visits);
  for (size_t k = 0; k < m; ++k) key_[k] = static_cast<char>(state.positions[k]);
  for (size_t k = 0; k < m; ++k) key_[m + k] = static_cast<char>(k < state.done.size() && state.done[k] != 0);
  if (visits > 0) std::memcpy(&key_[2 * m], state.visited.words, visits);
  auto it = frontier_index_.find(key_);
  if (it != frontier_index_.end()) {
    *created = false;
    return it->second;
  }
  const uint64_t number = frontier_count_++;
  frontier_index_.emplace(key_, number);
  if (number >= frontiers_.size()) frontiers_.push_back(std::make_unique<Frontier>());
  *created = true;
  return number;
}

bool Solver::CheckDominated(const SearchState& state) {
  bool created = false;
  const size_t number = FrontierFor(state, &created);
  if (created) return false;
  return frontiers_[number]->IsDominated(state);
}

void Solver::ArchiveState(const SearchState& state) {
  bool created = false;
  const size_t number = FrontierFor(state, &created);
  archived_ += 1;
  archived_ -= frontiers_[number]->Insert(state);
}

// Archives a state that the arena holds: the archive refers to the arena's
// copy of its costs instead of keeping one of its own.
void Solver::ArchiveArenaState(const SearchState& state) {
  bool created = false;
  const size_t number = FrontierFor(state, &created);
  const uint64_t id = static_cast<uint64_t>(state.id);
  archived_ += 1;
  archived_ -= frontiers_[number]->InsertShared(state.visited, state.g, arena_.Costs(id), arena_.agents());
}

bool Solver::IsGoal(const SearchState& state) const {
  if (!AllBelowVisited(state)) return false;
  return state.agents_left == 0;
}

double Solver::TotalCost(const SearchState& state) const {
  double total = 0.0;
  const size_t n = std::min(static_cast<size_t>(std::max(num_agents_, 0)), state.costs.size());
  for (size_t k = 0; k < n; ++k) total += state.costs[k];
  return total;
}

void Solver::ResetFrontiers() { frontier_count_ = 0; }

int64_t Solver::CountVisited(const SearchState& state) const {
  return CountVisitedBits(state.visited, state.n_nodes);
}

int64_t Solver::CountVisitedBits(const NodeSet& visited, int32_t n_nodes) const {
  if (n_nodes <= 0) return 0;
  const int n = std::min(n_nodes, NodeSet::kBits);
  int64_t count = 0;
  for (int w = 0; w < 4; ++w) {
    const int lo = w * 64;
    if (lo >= n) break;
    const int bits = std::min(64, n - lo);
    const uint64_t mask = bits == 64 ? ~uint64_t{0} : ((uint64_t{1} << bits) - 1);
    count += __builtin_popcountll(visited.words[w] & mask);
  }
  return count;
}

void Solver::UpdateFocalBound(double old_bound, double new_bound) {
  if (old_bound < new_bound) {
    for (auto it = open_.upper_bound({old_bound, std::numeric_limits<int64_t>::max()});
         it != open_.end() && it->first <= new_bound; ++it) {
      const uint64_t id = static_cast<uint64_t>(it->second);
      focal_.insert(FocalEntry{it->second, CountVisitedBits(arena_.Visited(id), n_nodes_), arena_.AgentsLeft(id),
                               it->first, 0.0});
    }
  } else {
    for (auto it = focal_.begin(); it != focal_.end();) {
      if (it->f > new_bound) {
        it = focal_.erase(it);
      } else {
        ++it;
      }
    }
  }
  focal_bound_ = new_bound;
}

void Solver::SetIncumbent(double cost) {
  for (auto it = focal_.begin(); it != focal_.end();) {
    if (it->f > cost) {
      it = focal_.erase(it);
    } else {
      ++it;
    }
  }
  open_.erase(open_.upper_bound({cost + kIncumbentSlack, std::numeric_limits<int64_t>::max()}), open_.end());
  incumbent_ = cost;
}

size_t Solver::DefaultMemoryLimit() {
  const size_t physical = MemoryGuard::PhysicalMemory();
  return physical > 0 ? physical / 2 : size_t{8} << 30;
}

size_t Solver::SearchBytes() const {
  // Archive entries and frontiers are estimated (libstdc++ sizes on 64-bit
  // machines); the estimate only has to be right in magnitude.
  constexpr size_t kArchiveEntry = 64;
  constexpr size_t kFrontier = 112;
  return arena_.bytes() + open_pool_.bytes() + focal_pool_.bytes() + archived_ * kArchiveEntry +
         frontiers_.size() * kFrontier;
}

void Solver::ResetSearch() {
  arena_.Reset(0, 0);
  capacity_ = 0;
  growth_step_ = SearchDefaults::kGrowthStep;
  next_state_id_ = 0;
  open_.clear();
  focal_.clear();
  weights_.assign(1, SearchDefaults::kFirstWeight);
  focal_bound_ = 0.0;
  incumbent_ = -1.0;
  found_ = 0;
  largest_route_cost_ = -1.0;
  goal_id_ = -1;
  frontier_index_.clear();
  frontiers_.clear();
  frontier_count_ = 0;
  archived_ = 0;
  output_.Reset();
}

void Solver::GenerateSuccessor(const SearchState& x, int64_t agent, uint64_t v) {
  const size_t a = static_cast<size_t>(agent);
  const uint64_t s = starts_[a];
  const uint64_t e = ends_[a];

  if (x.visited.test(v) && v != s && v != e) return;
  if (checker_->IsForbidden(static_cast<uint64_t>(agent), v)) return;
  if (!context_.SearchMayEnter(a, v)) return;

  SearchState& w = w_;
  w = x;  // reuses w_'s buffers: no allocation per successor
  w.visited.set(v);
  w.last_agent = agent;

  const bool closes = context_.ClosesAt(a, v);
  if (closes) {
    if (w.done[a] == 0) {
      w.done[a] = 1;
      --w.agents_left;
    }
    if (w.agents_left == 0 && !AllBelowVisited(w)) return;
    if (checker_->IsDeadEnd(w)) return;
  }

  const uint64_t p = w.positions[a];
  if (p != v) {
    // The expanded agent stands at p: leg_row_ is p's row (see ExpandNext).
    const double travel = leg_row_ != nullptr ? leg_row_[v] : std::numeric_limits<double>::quiet_NaN();
    if (std::isnan(travel)) return;  // no such arc (only possible on a caller-supplied graph)
    if (!context_.FreeArrival(a, v)) w.costs[a] += travel;
  }

  const CheckResult r = checker_->CheckExtension(w, static_cast<uint64_t>(agent), v);
  if (!r.ok) return;
  if (r.has_value) w.costs[a] = r.value;
  if (!checker_->CheckAgent(w, static_cast<uint64_t>(agent))) return;
  w.positions[a] = v;

  if (CheckDominated(w)) return;

  w.g = objective_->RouteCost(w.costs);
  double f;
  if (w.agents_left >= 1) {
    w.h = heuristic_->Estimate(w);
    f = objective_->Evaluate(w, w.agents_left, w.h);
  } else {
    w.h = 0.0;
    f = w.g;
  }
  w.f = f;
  if (incumbent_ != -1.0 && f >= incumbent_) return;

  const uint64_t id = NewStateId();
  w.id = static_cast<int64_t>(id);
  const int64_t visited = CountVisited(w);
  const int64_t left = w.agents_left;
  const double total = TotalCost(w);
  arena_.Append(w, x.id);
  ++output_.result().n_generated;
  open_.emplace(f, static_cast<int64_t>(id));
  if (f <= focal_bound_) focal_.insert(FocalEntry{static_cast<int64_t>(id), visited, left, f, total});
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

  Result& result = output_.result();
  const double* costs = arena_.Costs(static_cast<uint64_t>(goal));
  for (int32_t k = 0; k < num_agents_; ++k) result.times[k] = costs[k];
  std::vector<std::vector<int64_t>> routes(static_cast<size_t>(num_agents_));
  for (const auto& [k, v] : moves) routes[static_cast<size_t>(k)].push_back(v);
  for (int32_t k = 0; k < num_agents_; ++k) result.paths[k] = std::move(routes[static_cast<size_t>(k)]);
}

void Solver::RecordAnytime(double t) {
  if (output_.Record(t)) RequestStop();
}

void Solver::RecordSolution(const SearchState& goal) {
  found_ = 1;
  ExtractSolution(goal.id);
  RecordAnytime(Elapsed());
  post_optimizer_->Optimize(graph_, nodes_, agents_, output_.result());
  RecordAnytime(Elapsed());

  double largest = 0.0;
  for (const auto& entry : output_.result().times) largest = std::max(largest, entry.second);
  largest_route_cost_ = largest;
  UpdateStatistics();
  SetIncumbent(largest);
}

// Resets what an earlier search left, starts the clock and checks that the
// graph and the depots fit the search; returns the agent count.
size_t Solver::BeginSearch() {
  if (searched_) ResetSearch();
  searched_ = true;
  goal_id_ = -1;

  output_.ClearLog();
  timer_.start();
  ResetFrontiers();

  const uint64_t n = graph_->NumVertex();
  if (n > kMaxNodes) {
    throw std::invalid_argument("the graph has " + std::to_string(n) + " nodes; the solver handles at most " +
                                std::to_string(kMaxNodes));
  }
  const size_t m = static_cast<size_t>(std::max(num_agents_, 0));
  if (starts_.size() < m || ends_.size() < m) {
    throw std::invalid_argument("every agent needs a start and an end node");
  }
  for (size_t k = 0; k < m; ++k) {
    if (starts_[k] >= n || ends_[k] >= n) {
      throw std::invalid_argument("agent " + std::to_string(k) +
                                  " starts or ends at a node the graph does not have");
    }
  }
  n_nodes_ = static_cast<int32_t>(n);
  arena_.Reset(m, n_nodes_);
  return m;
}

// The root: every agent at its start, nodes nobody has to visit marked as
// visited; it opens both lists at the first weight.
void Solver::PushRoot(size_t m) {
  const uint64_t n = static_cast<uint64_t>(n_nodes_);
  SearchState root;
  root.positions.assign(starts_.begin(), starts_.begin() + static_cast<std::ptrdiff_t>(m));
  root.costs.assign(m, 0.0);
  root.done.assign(m, 0);
  root.n_nodes = n_nodes_;
  for (uint64_t i = n; i < static_cast<uint64_t>(NodeSet::kBits); ++i) root.visited.set(i);
  for (uint64_t u : unreachable_) {
    if (u < static_cast<uint64_t>(NodeSet::kBits)) root.visited.set(u);
  }
  // An agent with distinct start and end nodes never comes back to its start,
  // so nobody has to visit it; without return-to-end the route may also close
  // at the end node for free, so that node needs no visit either.
  for (size_t k = 0; k < m; ++k) {
    if (root.positions[k] == ends_[k]) continue;
    root.visited.set(root.positions[k]);
    if (!return_to_end_) root.visited.set(ends_[k]);
  }

  const uint64_t root_id = NewStateId();
  root.id = static_cast<int64_t>(root_id);
  root.g = objective_->RouteCost(root.costs);
  root.agents_left = num_agents_;
  root.last_agent = 0;
  root.h = heuristic_->Estimate(root);
  root.f = objective_->Evaluate(root, num_agents_, root.h);
  const double root_f = root.f;
  const FocalEntry root_entry{root.id, CountVisited(root), root.agents_left, root_f, TotalCost(root)};
  arena_.Append(root, -1);
  ++output_.result().n_generated;
  focal_bound_ = root_f * weights_[0];
  open_.emplace(root_f, static_cast<int64_t>(root_id));
  focal_.insert(root_entry);
}

// Running out of memory ends the search like running out of time.
bool Solver::OutOfBudget(MemoryGuard& memory) {
  if (stop_requested()) return true;
  const double elapsed = Elapsed();
  return elapsed > time_limit_ || memory.Exceeded(SearchBytes(), elapsed);
}

// Moves the focal bound to the current weight times the smallest open f.
void Solver::RefreshFocalBound(double weight) {
  if (!open_.empty() && focal_bound_ != open_.begin()->first * weight) {
    UpdateFocalBound(focal_bound_, open_.begin()->first * weight);
  }
}

// The focal list ran empty while the open list still holds states (focal
// entries equal under the comparator are not stored twice, and the bound
// moves only after a surviving pop): it takes again every open state within
// the bound of the smallest open f, at least that state itself.
void Solver::RefillFocal(double weight) {
  const double fmin = open_.begin()->first;
  focal_bound_ = fmin * weight;
  const double bound = std::max(focal_bound_, fmin);
  for (auto it = open_.begin(); it != open_.end() && it->first <= bound; ++it) {
    const uint64_t id = static_cast<uint64_t>(it->second);
    const double* costs = arena_.Costs(id);
    double total = 0.0;
    for (size_t k = 0; k < arena_.agents(); ++k) total += costs[k];
    focal_.insert(FocalEntry{it->second, CountVisitedBits(arena_.Visited(id), n_nodes_), arena_.AgentsLeft(id),
                             it->first, total});
  }
}

// Takes the best focal state: skips it when dominated or no better than the
// incumbent, records it when it is a goal, else generates its successors.
Solver::Step Solver::ExpandNext(double weight) {
  SearchState& x = x_;
  arena_.Load(static_cast<uint64_t>(focal_.begin()->id), x);
  focal_.erase(focal_.begin());
  open_.erase({x.f, x.id});
  if (CheckDominated(x) || (incumbent_ != -1.0 && x.f >= incumbent_)) return Step::kContinue;
  RefreshFocalBound(weight);
  ArchiveArenaState(x);
  if (IsGoal(x)) {
    goal_id_ = x.id;
    RecordSolution(x);
    return Step::kGoal;
  }
  ++output_.result().n_expanded;
  const int64_t a = expansion_->SelectAgent(x);
  if (a == -1) {
    diagnostics_.Err("can't find next expanded agent");
    return Step::kStuck;
  }
  // Every successor leaves the same node with the same agent type: one cost row.
  const uint64_t from = x.positions[static_cast<size_t>(a)];
  const int64_t type = context_.AgentType(static_cast<uint64_t>(a));
  const bool has_row =
      type >= 0 && static_cast<uint64_t>(type) < context_.TypeCount() && from < context_.NodeCount();
  leg_row_ = has_row ? context_.CostRow(type, from) : nullptr;
  // Nodes past the context's have no arcs, so no successors.
  const uint64_t count = std::min<uint64_t>(nodes_.size(), context_.NodeCount());
  for (uint64_t v = 0; v < count; ++v) GenerateSuccessor(x, a, v);
  RefreshFocalBound(weight);
  return Step::kContinue;
}

// Lowers the focal weight after an iteration. The ratio needs a positive
// smallest f; otherwise (and once the ratio is close to 1, or without an
// incumbent) the weight drops to 1.
void Solver::NextWeight() {
  const double fmin = open_.begin()->first;
  bool exact = true;
  if (fmin > 0.0) {
    const double r = incumbent_ / fmin;
    const double d = (r - 1.0) / 5.0;
    if (d >= 0.001) {
      exact = false;
      weights_.push_back(r - d);
      output_.statistics().cost_ratio = r;
    }
  }
  if (exact) {
    weights_.push_back(1.0);
    diagnostics_.Out("w = 1");
  }
}

int Solver::FinishSearch() {
  Result& result = output_.result();
  result.end_marker = -1;
  result.search_time = Elapsed();
  if (goal_id_ != -1 || improved_) {
    if (!instance_name_.empty()) {
      output_.WritePathDump(instance_name_, num_agents_, starts_, ends_, largest_route_cost_, diagnostics_);
    }
    return 1;
  }
  return 0;
}

int Solver::solve() {
  if (graph_ == nullptr || engine_only_) return SolveEngineOnly();
  const size_t m = BeginSearch();
  MemoryGuard memory(memory_limit_ > 0 ? memory_limit_ : DefaultMemoryLimit());
  PushRoot(m);
  if (max_iterations_ >= 1) {
    for (size_t i = 0;;) {
      const double weight = weights_[i];
      while (!output_.result().timeout) {
        if (focal_.empty()) {
          if (open_.empty()) break;
          RefillFocal(weight);
        }
        if (OutOfBudget(memory)) {
          output_.result().timeout = true;
          break;
        }
        if (FocalSearchDone()) break;
        if (ExpandNext(weight) != Step::kContinue) break;
      }
      if (output_.result().timeout || open_.empty() || FocalSearchDone()) break;
      NextWeight();
      ++i;
      if (i >= static_cast<size_t>(max_iterations_)) break;
    }
  }
  improved_ = false;
  if (improve_) RunImprovement();
  return FinishSearch();
}

}  // namespace velmora
