#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/routing_context.hpp"
#include "improve/improve_settings.hpp"
#include "improve/improvement_engine.hpp"
#include "improve/route_model.hpp"
#include "improve/route_set.hpp"

namespace velmora {

// Several improvement engines on one instance, one thread each; the calling
// thread runs the first. Each engine has its own routes and random source
// (the first the given seed, the others seeds derived from it and their
// index); all read one routing context and one route model. Every
// `exchange_interval` iterations the searches meet: each one whose best is
// worse than the team's best takes that best over as its best and current
// routes. The meetings depend on iteration counts only, so a seed, a thread
// count and an iteration cap give the same routes on every run. New bests
// reach `on_best` on the calling thread only, strictly improving: the first
// search's as it finds them, the others' at the meetings and at the end, so
// that their order, too, is fixed by the iteration counts.
class ImprovementTeam {
 public:
  // The clock of one search thread, made on that thread.
  struct Clock {
    std::function<bool()> out_of_time;
    std::function<double()> progress;  // fraction of the budget used, for the annealing schedule
  };

  // `threads` >= 2. Throws std::invalid_argument as ImprovementEngine does.
  ImprovementTeam(const RoutingContext& context, const ImproveSettings& settings, uint32_t threads);
  ~ImprovementTeam();
  ImprovementTeam(const ImprovementTeam&) = delete;
  ImprovementTeam& operator=(const ImprovementTeam&) = delete;

  // As ImprovementEngine::Run. The first search uses `out_of_time` and the
  // settings' progress; every other one the clock `make_clock` makes on its
  // own thread. Returns once every search is over; an exception of a search
  // ends all of them and is rethrown here.
  bool Run(const EngineSolution* initial, const std::function<bool()>& out_of_time,
           const std::function<Clock()>& make_clock, const std::function<void(const EngineSolution&)>& on_best);

  // The team's best routes, and the searches' counts added up (constructed:
  // the first search's start).
  const EngineSolution& best() const { return best_; }
  const ImproveCounts& counts() const { return counts_; }
  uint32_t threads() const { return threads_; }

  // Seed of the search with index `thread`; the first keeps `seed`.
  static uint64_t SeedOf(uint64_t seed, uint32_t thread);

 private:
  struct Shared;  // barrier, the meeting's best, the searches' states

  // One search's life on its thread: start, then steps and meetings.
  void Search(uint32_t index, const ImproveSettings& settings, const EngineSolution* initial,
              const std::function<bool()>& out_of_time, const std::function<void(const EngineSolution&)>& on_best);
  // At a meeting, alone: the best search's routes go to every worse one.
  void Exchange();
  // Index of the search with the best solution (the lowest among equals), -1 without any.
  int BestSearch() const;
  // On the calling thread: a new best for on_best when it beats the last one.
  void Offer(const EngineSolution& solution);

  const RoutingContext& context_;
  ImproveSettings settings_;
  uint32_t threads_;
  RouteModel model_;
  std::unique_ptr<Shared> shared_;
  std::vector<std::unique_ptr<ImprovementEngine>> engines_;
  EngineSolution best_;
  bool have_best_ = false;
  Objective best_value_;
  ImproveCounts counts_;
  const std::function<void(const EngineSolution&)>* on_best_ = nullptr;
};

}  // namespace velmora
