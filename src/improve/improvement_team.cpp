#include "improve/improvement_team.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "improve/route_set.hpp"

namespace velmora {

namespace {

Objective ValueOf(const EngineSolution& solution) {
  Objective value;
  for (double c : solution.costs) {
    value.longest = std::max(value.longest, c);
    value.total += c;
  }
  return value;
}

const ImproveSettings& Validated(const ImproveSettings& settings) {
  settings.parameters.Validate();
  return settings;
}

}  // namespace

// What the searches share. The meeting is a barrier whose last arrival runs
// the exchange alone while the others wait; it also copies the team's best for
// the calling thread, which reports it after the meeting. So the reports come
// in an order fixed by iteration counts: the first search's own bests as they
// come, the others' at the meetings.
struct ImprovementTeam::Shared {
  explicit Shared(uint32_t n) : members(n), done(n, 0) {}

  // Waits for every member; the last runs `exchange`. True when the team is
  // over: every search done, or one failed.
  template <typename Exchange>
  bool Meet(uint32_t index, bool is_done, Exchange&& exchange) {
    std::unique_lock<std::mutex> lock(mutex);
    done[index] = is_done ? 1 : 0;
    const uint64_t generation = meetings;
    if (++arrived == members) {
      Complete(exchange);
    } else {
      wake.wait(lock, [&] { return meetings != generation; });
    }
    return over;
  }

  // A member that never started (its thread could not be made).
  template <typename Exchange>
  void Leave(uint32_t index, Exchange&& exchange) {
    std::unique_lock<std::mutex> lock(mutex);
    done[index] = 1;
    --members;
    if (members > 0 && arrived == members) Complete(exchange);
  }

  void Fail() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!failure) failure = std::current_exception();
    abort.store(true, std::memory_order_relaxed);
  }

  template <typename Exchange>
  void Complete(Exchange& exchange) {
    exchange();
    over = abort.load(std::memory_order_relaxed) ||
           std::all_of(done.begin(), done.end(), [](uint8_t d) { return d != 0; });
    arrived = 0;
    ++meetings;
    wake.notify_all();
  }

  std::mutex mutex;
  std::condition_variable wake;
  uint32_t members;
  uint32_t arrived = 0;
  uint64_t meetings = 0;
  std::vector<uint8_t> done;
  bool over = false;
  std::exception_ptr failure;
  std::atomic<bool> abort{false};  // a search failed: the others stop at their next clock check
  EngineSolution met_best;         // the team's best at the last meeting, for the calling thread
  bool met_best_new = false;
};

ImprovementTeam::ImprovementTeam(const RoutingContext& context, const ImproveSettings& settings, uint32_t threads)
    : context_(context),
      settings_(Validated(settings)),
      threads_(std::max<uint32_t>(threads, 1)),
      model_(context, settings_.Neighbours()),
      shared_(std::make_unique<Shared>(threads_)),
      engines_(threads_) {}

ImprovementTeam::~ImprovementTeam() = default;

uint64_t ImprovementTeam::SeedOf(uint64_t seed, uint32_t thread) {
  if (thread == 0) return seed;
  // The random source mixes its seed with splitmix64; distinct odd steps keep
  // the searches' streams apart.
  return seed ^ (0xd1b54a32d192ed03ULL * static_cast<uint64_t>(thread));
}

bool ImprovementTeam::Run(const EngineSolution* initial, const std::function<bool()>& out_of_time,
                          const std::function<Clock()>& make_clock,
                          const std::function<void(const EngineSolution&)>& on_best) {
  on_best_ = &on_best;
  have_best_ = false;
  best_ = EngineSolution();
  counts_ = ImproveCounts();
  const auto exchange = [this] { Exchange(); };

  std::vector<std::thread> workers;
  workers.reserve(threads_ - 1);
  for (uint32_t i = 1; i < threads_; ++i) {
    try {
      workers.emplace_back([this, i, initial, &make_clock] {
        Clock clock;
        try {
          clock = make_clock();
        } catch (...) {
          shared_->Fail();
        }
        Shared& shared = *shared_;
        const std::function<bool()> stop = [&shared, &clock] {
          return shared.abort.load(std::memory_order_relaxed) || !clock.out_of_time || clock.out_of_time();
        };
        const std::function<void(const EngineSolution&)> publish;  // reported at the meetings
        ImproveSettings settings = settings_;
        settings.progress = clock.progress;
        Search(i, settings, initial, stop, publish);
      });
    } catch (...) {
      shared_->Fail();
      for (uint32_t j = i; j < threads_; ++j) shared_->Leave(j, exchange);
      break;
    }
  }

  const std::function<bool()> stop = [this, &out_of_time] {
    return shared_->abort.load(std::memory_order_relaxed) || (out_of_time && out_of_time());
  };
  const std::function<void(const EngineSolution&)> offer = [this](const EngineSolution& s) { Offer(s); };
  Search(0, settings_, initial, stop, offer);
  for (std::thread& worker : workers) worker.join();

  if (shared_->failure) std::rethrow_exception(shared_->failure);
  // The answer is the best search's best (the lowest index among equals),
  // whatever order the bests were collected in.
  const int best = BestSearch();
  if (best >= 0 && (!have_best_ || engines_[best]->best().paths != best_.paths)) {
    best_ = engines_[best]->best();
    best_value_ = ValueOf(best_);
    have_best_ = true;
    if (on_best) on_best(best_);
  }

  for (const auto& e : engines_) {
    if (e == nullptr) continue;
    const ImproveCounts& c = e->counts();
    counts_.iterations += c.iterations;
    counts_.moves += c.moves;
    counts_.accepted += c.accepted;
    counts_.improvements += c.improvements;
    counts_.restarts += c.restarts;
    if (counts_.by_move.empty()) {
      counts_.by_move = c.by_move;
    } else {
      for (size_t k = 0; k < counts_.by_move.size() && k < c.by_move.size(); ++k) {
        counts_.by_move[k].attempts += c.by_move[k].attempts;
        counts_.by_move[k].moves += c.by_move[k].moves;
      }
    }
  }
  if (engines_[0] != nullptr) counts_.constructed = engines_[0]->counts().constructed;
  on_best_ = nullptr;
  return best >= 0;
}

void ImprovementTeam::Search(uint32_t index, const ImproveSettings& settings, const EngineSolution* initial,
                             const std::function<bool()>& out_of_time,
                             const std::function<void(const EngineSolution&)>& on_best) {
  Shared& shared = *shared_;
  bool done = shared.abort.load(std::memory_order_relaxed);
  ImprovementEngine* engine = nullptr;
  if (!done) {
    try {
      ImproveSettings own = settings;
      own.seed = SeedOf(settings.seed, index);
      engines_[index] = std::make_unique<ImprovementEngine>(context_, model_, own);
      engine = engines_[index].get();
      done = !engine->Begin(initial, out_of_time, on_best);
      // A caller's solution that the start kept is known already: not reported again.
      if (index == 0 && !have_best_ && engine->HasBest() && !engine->counts().constructed) {
        best_ = engine->best();
        best_value_ = ValueOf(best_);
        have_best_ = true;
      }
    } catch (...) {
      shared.Fail();
      done = true;
    }
  }
  const int64_t interval = settings_.parameters.exchange_interval;
  const auto exchange = [this] { Exchange(); };
  for (int64_t until = interval;; until += interval) {
    if (!done) {
      try {
        done = !engine->Advance(until);
      } catch (...) {
        shared.Fail();
        done = true;
      }
    }
    const bool over = shared.Meet(index, done, exchange);
    if (index == 0 && shared.met_best_new) {
      shared.met_best_new = false;  // the others are past the meeting and do not touch it before the next
      try {
        Offer(shared.met_best);
      } catch (...) {
        shared.Fail();
        done = true;
      }
    }
    if (over) break;
  }
  if (engine != nullptr) engine->End();
}

int ImprovementTeam::BestSearch() const {
  int best = -1;
  for (uint32_t i = 0; i < threads_; ++i) {
    const ImprovementEngine* e = engines_[i].get();
    if (e == nullptr || !e->HasBest()) continue;
    if (best < 0 || RouteSet::Better(settings_.min_max, e->BestValue(), engines_[best]->BestValue())) {
      best = static_cast<int>(i);
    }
  }
  return best;
}

void ImprovementTeam::Exchange() {
  const int best = BestSearch();
  if (best < 0) return;
  const ImprovementEngine& from = *engines_[best];
  if (best != 0) {
    shared_->met_best = from.best();
    shared_->met_best_new = true;
  }
  for (uint32_t i = 0; i < threads_; ++i) {
    ImprovementEngine* e = engines_[i].get();
    if (e == nullptr || static_cast<int>(i) == best) continue;
    if (!e->HasBest() || RouteSet::Better(settings_.min_max, from.BestValue(), e->BestValue())) e->Adopt(from);
  }
}

void ImprovementTeam::Offer(const EngineSolution& solution) {
  const Objective value = ValueOf(solution);
  if (have_best_ && !RouteSet::Better(settings_.min_max, value, best_value_)) return;
  best_ = solution;
  best_value_ = value;
  have_best_ = true;
  if (*on_best_) (*on_best_)(best_);
}

}  // namespace velmora
