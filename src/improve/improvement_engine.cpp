#include "improve/improvement_engine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

// Ruin and recreate parameters (string removals with blinks).
constexpr double kAverageRemoved = 10.0;
constexpr uint32_t kLongestString = 10;
constexpr double kBlink = 0.01;
// Share of the ruins that remove a target's nearest targets instead of strings.
constexpr double kRadialShare = 0.3;
// Annealing temperatures, in units of the typical leg between neighbours.
constexpr double kStartTemperature = 3.0;
constexpr double kFinalTemperature = 0.01;
// Without a budget or an iteration cap the temperature falls over this many
// iterations and starts again.
constexpr int64_t kCycle = 20000;
// Iterations without a new best after which the search returns to the best.
constexpr int64_t kPatience = 5000;
// Repair iterations without fewer targets left out after which the instance
// is taken to have no solution.
constexpr int64_t kRepairPatience = 100000;

}  // namespace

ImprovementEngine::ImprovementEngine(const RoutingContext& context, const ImproveSettings& settings)
    : context_(context),
      settings_(settings),
      model_(context, settings.neighbours),
      random_(settings.seed),
      local_search_(random_),
      insertion_(random_),
      removal_(random_, context.AgentCount(), kAverageRemoved, kLongestString),
      radial_(random_, kAverageRemoved) {
  removed_.reserve(model_.Targets().size());
  absent_.reserve(model_.Targets().size());
}

double ImprovementEngine::Scalar(const Objective& o) const {
  if (!settings_.min_max) return o.total;
  const double routes = static_cast<double>(std::max<size_t>(model_.AgentCount(), 1));
  return o.longest + 0.1 * o.total / routes;
}

bool ImprovementEngine::Load(const EngineSolution& solution, RouteSet& routes) const {
  const size_t m = model_.AgentCount();
  if (solution.paths.size() != m) return false;
  routes.Clear();
  std::vector<uint8_t> seen(model_.NodeCount(), 0);
  std::vector<uint32_t> targets;
  for (uint32_t k = 0; k < m; ++k) {
    const std::vector<uint64_t>& path = solution.paths[k];
    targets.clear();
    if (!path.empty() && path.front() != context_.Start(k)) return false;
    for (size_t p = 1; p < path.size(); ++p) {
      const uint64_t v = path[p];
      if (v >= model_.NodeCount()) return false;
      if (context_.IsOwnDepot(k, v)) continue;
      if (!context_.IsTarget(v) || !model_.Serves(k, static_cast<uint32_t>(v)) || seen[v]) return false;
      seen[v] = 1;
      targets.push_back(static_cast<uint32_t>(v));
    }
    routes.SetTargets(k, targets);
    routes.Refresh(k);
  }
  routes.RefreshValue();
  return routes.Complete();
}

bool ImprovementEngine::Construct(RouteSet& routes) {
  std::vector<uint32_t> order(model_.Targets().begin(), model_.Targets().end());
  std::vector<uint32_t> pending;
  RouteSet fewest(model_, settings_.min_max);
  size_t fewest_out = std::numeric_limits<size_t>::max();
  // Farthest targets first: they shape the routes; then random orders. Every
  // second attempt inserts by least added cost, which keeps slack in windows
  // and limits that the min-max position spends.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (attempt == 0) {
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return model_.DepotDistance(a) > model_.DepotDistance(b); });
    } else {
      random_.Shuffle(order);
    }
    const bool least_added = (attempt & 1) == 1;
    routes.Clear();
    pending.clear();
    for (uint32_t v : order) {
      if (!insertion_.Insert(routes, v, 0.0, least_added)) pending.push_back(v);
    }
    // Targets that fit nowhere at first are retried after the others.
    for (uint32_t v : pending) insertion_.Insert(routes, v, 0.0, least_added);
    if (routes.Complete()) return true;
    if (routes.Unrouted() < fewest_out) {
      fewest_out = routes.Unrouted();
      fewest.CopyFrom(routes);
    }
  }
  routes.CopyFrom(fewest);
  return false;
}

bool ImprovementEngine::Recreate(RouteSet& routes, bool partial) {
  if (partial) {
    // Most often absent first; ties in random order.
    random_.Shuffle(removed_);
    std::stable_sort(removed_.begin(), removed_.end(),
                     [&](uint32_t a, uint32_t b) { return absence_[a] > absence_[b]; });
    const bool least_added = random_.Unit() < 0.5;
    for (uint32_t v : removed_) {
      if (!insertion_.Insert(routes, v, kBlink, least_added)) insertion_.Insert(routes, v, 0.0, least_added);
    }
    return true;
  }
  // Order of reinsertion: random, farthest first or nearest first.
  const uint32_t pick = random_.Below(9);
  if (pick < 4) {
    random_.Shuffle(removed_);
  } else if (pick < 8) {
    std::sort(removed_.begin(), removed_.end(),
              [&](uint32_t a, uint32_t b) { return model_.DepotDistance(a) > model_.DepotDistance(b); });
  } else {
    std::sort(removed_.begin(), removed_.end(),
              [&](uint32_t a, uint32_t b) { return model_.DepotDistance(a) < model_.DepotDistance(b); });
  }
  for (uint32_t v : removed_) {
    if (!insertion_.Insert(routes, v, kBlink) && !insertion_.Insert(routes, v, 0.0)) return false;
  }
  return true;
}

bool ImprovementEngine::EachTargetFitsAlone() {
  RouteSet routes(model_, settings_.min_max);
  for (uint32_t v : model_.Targets()) {
    bool fits = false;
    for (uint32_t r : model_.ServersOf(v)) {
      const Piece pieces[2] = {Piece::Prefix(r, 0), Piece::Node(v)};
      if (routes.Evaluate(r, pieces, 2).ok) {
        fits = true;
        break;
      }
    }
    if (!fits) return false;
  }
  return true;
}

uint64_t ImprovementEngine::AbsenceOf(const std::vector<uint32_t>& targets) const {
  uint64_t sum = 0;
  for (uint32_t v : targets) sum += absence_[v];
  return sum;
}

void ImprovementEngine::CollectAbsent(const RouteSet& routes, std::vector<uint32_t>& out) const {
  out.clear();
  if (routes.Unrouted() == 0) return;
  for (uint32_t v : model_.Targets()) {
    if (!routes.Routed(v)) out.push_back(v);
  }
}

void ImprovementEngine::Report(const RouteSet& routes, const std::function<void(const EngineSolution&)>& on_best) {
  EngineSolution solution = routes.Export();
  if (!CheckSolution(context_, solution)) return;
  best_solution_ = std::move(solution);
  ++counts_.improvements;
  if (on_best) on_best(best_solution_);
}

bool ImprovementEngine::Run(const EngineSolution* initial, const std::function<bool()>& out_of_time,
                            const std::function<void(const EngineSolution&)>& on_best) {
  counts_ = ImproveCounts();
  best_solution_ = EngineSolution();
  RouteSet current(model_, settings_.min_max);
  bool loaded = initial != nullptr && Load(*initial, current);
  if (!loaded) {
    counts_.constructed = true;
    if (!Construct(current) && !EachTargetFitsAlone()) return false;
  }
  const std::function<bool()> stop = out_of_time;
  RouteSet best(model_, settings_.min_max);
  // Without a complete solution the search first repairs: the routes may leave
  // targets out, and fewer left out beats any cost.
  bool have_best = current.Complete();
  if (have_best) {
    best.CopyFrom(current);
    if (loaded) {
      best_solution_ = best.Export();
    } else {
      Report(best, on_best);
    }
  }
  counts_.moves += local_search_.Run(current, &stop);
  if (have_best && current.Better(current.Value(), best.Value())) {
    best.CopyFrom(current);
    Report(best, on_best);
  }
  absence_.assign(model_.NodeCount(), 0);
  CollectAbsent(current, absent_);
  std::vector<uint32_t> work_absent;
  work_absent.reserve(model_.Targets().size());

  RouteSet work(model_, settings_.min_max);
  const double scale = model_.TypicalLeg();
  const double t0 = kStartTemperature * scale;
  const double tf = kFinalTemperature * scale;
  int64_t last_best = 0;
  size_t fewest_out = absent_.size();
  int64_t last_fewer = 0;
  for (;;) {
    const int64_t it = counts_.iterations;
    if (settings_.max_iterations > 0 && it >= settings_.max_iterations) break;
    if ((it & 15) == 0 && out_of_time && out_of_time()) break;
    if (model_.Targets().empty()) break;
    double progress;
    if (settings_.max_iterations > 0) {
      progress = static_cast<double>(it) / static_cast<double>(settings_.max_iterations);
    } else if (settings_.progress) {
      progress = std::min(1.0, std::max(0.0, settings_.progress()));
    } else {
      progress = static_cast<double>(it % kCycle) / kCycle;
    }
    const double temperature = t0 * std::pow(tf / t0, progress);
    ++counts_.iterations;

    const bool repairing = !absent_.empty();
    if (repairing && it - last_fewer > kRepairPatience) break;
    work.CopyFrom(current);
    removed_.clear();
    // While repairing, half of the ruins make room around a target left out;
    // otherwise some cut the routes near one target in many places.
    uint32_t centre = RouteSet::kUnrouted;
    if (repairing && random_.Unit() < 0.5) centre = absent_[random_.Below(static_cast<uint32_t>(absent_.size()))];
    if (!repairing && random_.Unit() < kRadialShare) {
      radial_.Ruin(work, removed_);
    } else {
      removal_.Ruin(work, removed_, centre);
    }
    if (repairing) removed_.insert(removed_.end(), absent_.begin(), absent_.end());
    if (!Recreate(work, repairing)) continue;
    counts_.moves += local_search_.RunFrom(work, removed_, &stop);
    CollectAbsent(work, work_absent);
    for (uint32_t v : work_absent) ++absence_[v];
    if (work_absent.size() < fewest_out) {
      fewest_out = work_absent.size();
      last_fewer = it;
    }

    bool accept;
    if (repairing) {
      // Fewer targets out, or as many that are left out no more often: the
      // targets that are hard to place get in first, the easy ones follow,
      // and equal ones let the search wander instead of sticking.
      accept = work_absent.size() < absent_.size() ||
               (work_absent.size() == absent_.size() && AbsenceOf(work_absent) <= AbsenceOf(absent_));
    } else {
      const double threshold = Scalar(current.Value()) - temperature * std::log(1.0 - random_.Unit());
      accept = Scalar(work.Value()) < threshold;
    }
    if (accept) {
      current.CopyFrom(work);
      absent_.swap(work_absent);
      ++counts_.accepted;
    }
    if (work.Complete() && (!have_best || work.Better(work.Value(), best.Value()))) {
      best.CopyFrom(work);
      have_best = true;
      Report(best, on_best);
      last_best = it;
    } else if (have_best && it - last_best > kPatience) {
      current.CopyFrom(best);
      absent_.clear();
      last_best = it;
      ++counts_.restarts;
    }
  }
  return have_best;
}

}  // namespace velmora
