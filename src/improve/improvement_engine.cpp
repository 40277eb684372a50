#include "improve/improvement_engine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

const ImproveSettings& Validated(const ImproveSettings& settings) {
  settings.parameters.Validate();
  return settings;
}

}  // namespace

ImprovementEngine::ImprovementEngine(const RoutingContext& context, const ImproveSettings& settings)
    : ImprovementEngine(context, nullptr, settings) {}

ImprovementEngine::ImprovementEngine(const RoutingContext& context, const RouteModel& model,
                                     const ImproveSettings& settings)
    : ImprovementEngine(context, &model, settings) {}

ImprovementEngine::ImprovementEngine(const RoutingContext& context, const RouteModel* shared,
                                     const ImproveSettings& settings)
    : context_(context),
      settings_(Validated(settings)),
      own_model_(shared != nullptr ? nullptr : std::make_unique<RouteModel>(context, settings_.Neighbours())),
      model_(shared != nullptr ? *shared : *own_model_),
      random_(settings.seed),
      local_search_(random_),
      insertion_(random_, settings_.parameters.insertion_targets),
      removal_(random_, context.AgentCount(), settings_.parameters.average_removed,
               settings_.parameters.longest_string),
      radial_(random_, settings_.parameters.average_removed),
      current_(model_, settings.min_max),
      work_(model_, settings.min_max),
      best_(model_, settings.min_max) {
  removed_.reserve(model_.Targets().size());
  absent_.reserve(model_.Targets().size());
  work_absent_.reserve(model_.Targets().size());
}

// Each iteration ruins and recreates a copy of the current routes: a repair
// step while targets are left out, an annealing step once none is; a candidate
// whose targets did not all fit back is dropped.
bool ImprovementEngine::Run(const EngineSolution* initial, const std::function<bool()>& out_of_time,
                            const std::function<void(const EngineSolution&)>& on_best) {
  if (Begin(initial, out_of_time, on_best)) Advance(std::numeric_limits<int64_t>::max());
  return End();
}

bool ImprovementEngine::Begin(const EngineSolution* initial, const std::function<bool()>& out_of_time,
                              const std::function<void(const EngineSolution&)>& on_best) {
  stop_ = out_of_time ? &out_of_time : nullptr;
  on_best_ = &on_best;
  return Start(initial);
}

bool ImprovementEngine::Advance(int64_t until) {
  while (counts_.iterations < until) {
    if (Finished()) return false;
    const int64_t it = counts_.iterations++;
    if (Repairing()) {
      if (RepairStalled(it)) return false;
      RepairStep(it);
    } else if (!AnnealStep(Temperature(Progress(it)))) {
      continue;
    }
    TrackBest(it);
  }
  return true;
}

bool ImprovementEngine::End() {
  counts_.by_move = local_search_.counts();
  stop_ = nullptr;
  on_best_ = nullptr;
  return have_best_;
}

void ImprovementEngine::Adopt(const ImprovementEngine& other) {
  best_.CopyFrom(other.best_);
  current_.CopyFrom(other.best_);
  best_solution_ = other.best_solution_;
  have_best_ = true;
  absent_.clear();
  last_best_ = counts_.iterations;
}

// The given solution, or the engine's construction, then a descent. Without a
// complete solution the search first repairs: the routes may leave targets
// out, and fewer left out beats any cost. False when no solution can exist.
bool ImprovementEngine::Start(const EngineSolution* initial) {
  counts_ = ImproveCounts();
  local_search_.ResetCounts();
  best_solution_ = EngineSolution();
  have_best_ = false;
  const bool loaded = initial != nullptr && Load(*initial, current_);
  if (!loaded) {
    counts_.constructed = true;
    if (!Construct(current_) && !EachTargetFitsAlone()) return false;
  }
  have_best_ = current_.Complete();
  if (have_best_) {
    best_.CopyFrom(current_);
    if (loaded) {
      best_solution_ = best_.Export();  // the caller has it already
    } else {
      Report(best_);
    }
  }
  counts_.moves += local_search_.Run(current_, stop_);
  if (have_best_ && current_.Better(current_.Value(), best_.Value())) {
    best_.CopyFrom(current_);
    Report(best_);
  }
  absence_.assign(model_.NodeCount(), 0);
  CollectAbsent(current_, absent_);
  fewest_out_ = absent_.size();
  last_best_ = 0;
  last_fewer_ = 0;
  last_restart_ = 0;
  const double scale = model_.TypicalLeg();
  start_temperature_ = parameters().start_temperature * scale;
  final_temperature_ = parameters().final_temperature * scale;
  return true;
}

// The iteration cap, the clock (asked every 16 iterations), or nothing to route.
bool ImprovementEngine::Finished() const {
  const int64_t it = counts_.iterations;
  if (settings_.max_iterations > 0 && it >= settings_.max_iterations) return true;
  if ((it & 15) == 0 && stop_ != nullptr && (*stop_)()) return true;
  return model_.Targets().empty();
}

void ImprovementEngine::RepairStep(int64_t it) {
  // A repair that no longer leaves fewer out starts again from a new
  // construction now and then: a route that must open with a far, early
  // target is not found by small ruins of a route that serves others first.
  const int64_t restart = parameters().repair_restart;
  if (it - last_fewer_ > restart && it - last_restart_ > restart) {
    last_restart_ = it;
    Construct(current_);
    CollectAbsent(current_, absent_);
    if (absent_.empty()) {  // complete: the step's candidate, for TrackBest
      work_.CopyFrom(current_);
      work_absent_.clear();
      fewest_out_ = 0;
      last_fewer_ = it;
      return;
    }
  }
  work_.CopyFrom(current_);
  removed_.clear();
  // Some of the ruins make room around a target left out.
  uint32_t centre = RouteSet::kUnrouted;
  if (random_.Unit() < parameters().repair_centre_share) {
    centre = absent_[random_.Below(static_cast<uint32_t>(absent_.size()))];
  }
  removal_.Ruin(work_, removed_, centre);
  RemovePartners(work_);
  removed_.insert(removed_.end(), absent_.begin(), absent_.end());
  RecreatePartly(work_);
  counts_.moves += local_search_.RunFrom(work_, removed_, stop_);
  // A ruin shifts arrival times, which may break a pair that no insertion saw.
  if (model_.Pairs() && !work_.PairsHold()) return;
  CollectAbsent(work_, work_absent_);
  for (uint32_t v : work_absent_) ++absence_[v];
  if (work_absent_.size() < fewest_out_) {
    fewest_out_ = work_absent_.size();
    last_fewer_ = it;
  }
  if (RepairAccepts()) {
    current_.CopyFrom(work_);
    absent_.swap(work_absent_);
    ++counts_.accepted;
  }
}

bool ImprovementEngine::AnnealStep(double temperature) {
  work_.CopyFrom(current_);
  removed_.clear();
  // Some of the ruins cut the routes near one target in many places.
  if (random_.Unit() < parameters().radial_share) {
    radial_.Ruin(work_, removed_);
  } else {
    removal_.Ruin(work_, removed_);
  }
  RemovePartners(work_);
  if (!Recreate(work_)) return false;
  if (model_.Pairs() && !work_.PairsHold()) return false;
  counts_.moves += local_search_.RunFrom(work_, removed_, stop_);
  if (Accept(work_.Value(), current_.Value(), temperature)) {
    current_.CopyFrom(work_);
    ++counts_.accepted;
  }
  return true;
}

void ImprovementEngine::TrackBest(int64_t it) {
  if (work_.Complete() && (!have_best_ || work_.Better(work_.Value(), best_.Value()))) {
    best_.CopyFrom(work_);
    have_best_ = true;
    Report(best_);
    last_best_ = it;
  } else if (have_best_ && it - last_best_ > parameters().patience) {
    current_.CopyFrom(best_);
    absent_.clear();
    last_best_ = it;
    ++counts_.restarts;
  }
}

double ImprovementEngine::Progress(int64_t it) const {
  if (settings_.max_iterations > 0) return static_cast<double>(it) / static_cast<double>(settings_.max_iterations);
  if (settings_.progress) return std::min(1.0, std::max(0.0, settings_.progress()));
  const int64_t cycle = parameters().cycle;
  return static_cast<double>(it % cycle) / static_cast<double>(cycle);
}

double ImprovementEngine::Temperature(double progress) const {
  return start_temperature_ * std::pow(final_temperature_ / start_temperature_, progress);
}

bool ImprovementEngine::Accept(const Objective& candidate, const Objective& current, double temperature) {
  const double threshold = Scalar(current) - temperature * std::log(1.0 - random_.Unit());
  return Scalar(candidate) < threshold;
}

// The targets that are hard to place get in first, the easy ones follow, and
// equal counts let the search wander instead of sticking.
bool ImprovementEngine::RepairAccepts() const {
  return work_absent_.size() < absent_.size() ||
         (work_absent_.size() == absent_.size() && AbsenceOf(work_absent_) <= AbsenceOf(absent_));
}

double ImprovementEngine::Scalar(const Objective& o) const {
  if (!settings_.min_max) return o.total;
  const double routes = static_cast<double>(std::max<size_t>(model_.AgentCount(), 1));
  return o.longest + parameters().total_weight * o.total / routes;
}

void ImprovementEngine::Report(const RouteSet& routes) {
  EngineSolution solution = routes.Export();
  if (!CheckSolution(context_, solution)) return;
  best_solution_ = std::move(solution);
  ++counts_.improvements;
  if (*on_best_) (*on_best_)(best_solution_);
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
  // and limits that the min-max position spends. Under capacities the second
  // attempt packs the largest demands first (`Pack`). Under windows or
  // restricted agents the third to fifth attempts put the hard targets first.
  const bool pack = model_.Capacities() && !model_.Pairs();
  const std::vector<HardOrder> hard = HardOrders();
  for (uint32_t attempt = 0; attempt < parameters().construction_attempts; ++attempt) {
    bool least_added = (attempt & 1) == 1;
    if (attempt == 0) {
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return model_.DepotDistance(a) > model_.DepotDistance(b); });
    } else if (attempt == 1 && pack) {
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return model_.Demand(a) > model_.Demand(b); });
    } else if (attempt >= 2 && attempt - 2 < hard.size()) {
      const HardOrder h = hard[attempt - 2];
      if (h.deadline) {
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return model_.Close(a) < model_.Close(b); });
      } else {
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
          return model_.ServersOf(a).size() < model_.ServersOf(b).size();
        });
      }
      least_added = h.least_added;
    } else {
      random_.Shuffle(order);
    }
    routes.Clear();
    pending.clear();
    if (attempt == 1 && pack) {
      Pack(routes, order);
    }
    for (uint32_t v : order) {
      if (!routes.Routed(v) && !insertion_.Insert(routes, v, 0.0, least_added)) pending.push_back(v);
    }
    // Targets that fit nowhere at first are retried after the others.
    for (uint32_t v : pending) {
      if (!routes.Routed(v)) insertion_.Insert(routes, v, 0.0, least_added);
    }
    if (routes.Complete()) return true;
    if (routes.Unrouted() < fewest_out) {
      fewest_out = routes.Unrouted();
      fewest.CopyFrom(routes);
    }
  }
  // A tight fleet: largest demands first again, each demand scaled by a random
  // factor so that items of similar size come in other orders.
  if (pack) {
    std::vector<double> key(model_.NodeCount(), 0.0);
    for (uint32_t attempt = 0; attempt < parameters().pack_attempts; ++attempt) {
      if (stop_ != nullptr && (*stop_)()) break;
      const double noise = parameters().pack_noise;
      for (uint32_t v : order) key[v] = model_.Demand(v) * (1.0 + noise * (2.0 * random_.Unit() - 1.0));
      std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key[a] > key[b]; });
      routes.Clear();
      Pack(routes, order);
      for (uint32_t v : order) {
        if (!routes.Routed(v)) insertion_.Insert(routes, v, 0.0, true);
      }
      if (routes.Complete()) return true;
      if (routes.Unrouted() < fewest_out) {
        fewest_out = routes.Unrouted();
        fewest.CopyFrom(routes);
      }
    }
  }
  routes.CopyFrom(fewest);
  return false;
}

// Earliest closing window first, by the min-max position and by least added
// cost; fewest agents that may serve it first, by least added cost (the order
// that measured best between them).
std::vector<ImprovementEngine::HardOrder> ImprovementEngine::HardOrders() const {
  std::vector<HardOrder> out;
  bool restricted = false;
  for (uint32_t v : model_.Targets()) restricted = restricted || model_.ServersOf(v).size() < model_.AgentCount();
  if (model_.TargetWindows()) out.push_back({true, false});
  if (restricted) out.push_back({false, true});
  if (model_.TargetWindows()) out.push_back({true, true});
  return out;
}

// Best-fit decreasing: each target, in the given order (largest demand first),
// goes into the route it leaves least room in, at that route's cheapest
// feasible position. It fills a tight fleet that cost-led insertion leaves a
// target short; targets that fit nowhere stay out.
void ImprovementEngine::Pack(RouteSet& routes, const std::vector<uint32_t>& order) {
  for (uint32_t v : order) {
    if (routes.Routed(v)) continue;
    bool found = false;
    uint32_t best_route = 0;
    uint32_t best_pos = 0;
    double best_room = RouteSet::kInf;
    double best_added = RouteSet::kInf;
    for (uint32_t r : model_.ServersOf(v)) {
      const uint32_t n = routes.Size(r);
      const double room = model_.Capacity(r) - routes.Load(r, n) - model_.Demand(v);
      if (room < 0.0 || room > best_room) continue;
      const double before = routes.Cost(r);
      for (uint32_t p = 0; p <= n; ++p) {
        const Piece pieces[3] = {Piece::Prefix(r, p), Piece::Node(v), Piece::Range(r, p + 1, n)};
        const RouteEval e = routes.Evaluate(r, pieces, 3);
        if (!e.ok) continue;
        const double added = e.cost - before;
        if (room < best_room || added < best_added) {
          best_room = room;
          best_added = added;
          best_route = r;
          best_pos = p;
          found = true;
        }
      }
    }
    if (found) routes.InsertAfter(best_route, best_pos, v);
  }
}

void ImprovementEngine::RecreatePartly(RouteSet& routes) {
  // Most often absent first; ties in random order.
  random_.Shuffle(removed_);
  std::stable_sort(removed_.begin(), removed_.end(),
                   [&](uint32_t a, uint32_t b) { return absence_[a] > absence_[b]; });
  const bool least_added = random_.Unit() < 0.5;
  for (uint32_t v : removed_) {
    if (routes.Routed(v)) continue;  // went in with its pair's partner
    if (!insertion_.Insert(routes, v, parameters().blink, least_added))
      insertion_.Insert(routes, v, 0.0, least_added);
  }
}

bool ImprovementEngine::Recreate(RouteSet& routes) {
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
    if (routes.Routed(v)) continue;  // went in with its pair's partner
    if (!insertion_.Insert(routes, v, parameters().blink) && !insertion_.Insert(routes, v, 0.0)) return false;
  }
  return true;
}

void ImprovementEngine::RemovePartners(RouteSet& routes) {
  if (!model_.SamePairs()) return;
  for (size_t i = 0; i < removed_.size(); ++i) {
    const uint32_t v = removed_[i];
    for (const RouteModel::NodePair* pair = model_.PairsBegin(v); pair != model_.PairsEnd(v); ++pair) {
      if (pair->kind != PairKind::kSame || !routes.Routed(pair->partner)) continue;
      routes.RemoveTarget(pair->partner);
      removed_.push_back(pair->partner);
    }
  }
  routes.RefreshValue();
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

}  // namespace velmora
