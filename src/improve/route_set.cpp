#include "improve/route_set.hpp"

#include <algorithm>
#include <utility>

namespace velmora {

namespace {
// Pieces this short are walked node by node; longer ones use the summaries.
constexpr uint32_t kShortPiece = 3;
}  // namespace

RouteSet::RouteSet(const RouteModel& model, bool min_max)
    : model_(&model),
      min_max_(min_max),
      loads_(model.Capacities()),
      legs_one_(!model.TargetWindows() && !model.Literal()),
      legs_two_(legs_one_ && !model.ClosingWindows()),
      pairs_(model.Pairs()),
      stride_(model.Targets().size() + 2) {
  const size_t m = model.AgentCount();
  const size_t slots = model.SlotCount();
  routes_.resize(m);
  for (RouteData& r : routes_) {
    r.seq.reserve(stride_);
    r.time.reserve(stride_);
    r.ok.reserve(stride_);
    r.suffix.assign(model.TargetWindows() && !model.Literal() ? slots * stride_ : 0, Segment());
    r.fwd.assign(model.Literal() ? 0 : slots * stride_, 0.0);
    r.bwd.assign(model.Literal() ? 0 : slots * stride_, 0.0);
    r.barred.assign(slots > 1 ? slots * stride_ : 0, 0);
    if (loads_) r.load.reserve(stride_);
  }
  if (pairs_) {
    pair_seq_.reserve(stride_);
    pair_time_.reserve(stride_);
    pair_pos_.assign(model.NodeCount(), kUnrouted);
  }
  route_of_.assign(model.NodeCount(), kUnrouted);
  pos_of_.assign(model.NodeCount(), 0);
  scratch_a_.reserve(stride_);
  scratch_b_.reserve(stride_);
  Clear();
}

void RouteSet::CopyFrom(const RouteSet& other) {
  for (size_t r = 0; r < routes_.size(); ++r) {
    RouteData& d = routes_[r];
    const RouteData& s = other.routes_[r];
    // Only the positions in use are copied; storage keeps its capacity.
    d.seq = s.seq;
    d.time = s.time;
    d.ok = s.ok;
    if (loads_) d.load = s.load;
    const size_t used = s.seq.size() + 1;
    const size_t slots = model_->SlotCount();
    for (size_t k = 0; k < slots; ++k) {
      const size_t base = k * stride_;
      if (!d.suffix.empty()) std::copy_n(s.suffix.begin() + base, used, d.suffix.begin() + base);
      if (!d.fwd.empty()) {
        std::copy_n(s.fwd.begin() + base, used, d.fwd.begin() + base);
        std::copy_n(s.bwd.begin() + base, used, d.bwd.begin() + base);
      }
      if (!d.barred.empty()) std::copy_n(s.barred.begin() + base, used, d.barred.begin() + base);
    }
    d.cost = s.cost;
    d.close = s.close;
    d.feasible = s.feasible;
  }
  route_of_ = other.route_of_;
  pos_of_ = other.pos_of_;
  unrouted_ = other.unrouted_;
  value_ = other.value_;
  top_ = other.top_;
  top_count_ = other.top_count_;
}

void RouteSet::Clear() {
  for (uint32_t r = 0; r < routes_.size(); ++r) {
    routes_[r].seq.assign(1, model_->StartNode(r));
  }
  std::fill(route_of_.begin(), route_of_.end(), kUnrouted);
  unrouted_ = model_->Targets().size();
  for (uint32_t r = 0; r < routes_.size(); ++r) Refresh(r);
  RefreshValue();
}

void RouteSet::SetTargets(uint32_t r, const std::vector<uint32_t>& targets) {
  RouteData& d = routes_[r];
  for (size_t p = 1; p < d.seq.size(); ++p) {
    route_of_[d.seq[p]] = kUnrouted;
    ++unrouted_;
  }
  d.seq.resize(1);
  for (uint32_t v : targets) {
    d.seq.push_back(v);
    if (route_of_[v] == kUnrouted) --unrouted_;
    route_of_[v] = r;
  }
}

void RouteSet::Remove(uint32_t r, uint32_t from, uint32_t to) {
  std::vector<uint32_t>& seq = routes_[r].seq;
  for (uint32_t p = from; p <= to; ++p) route_of_[seq[p]] = kUnrouted;
  seq.erase(seq.begin() + from, seq.begin() + to + 1);
  unrouted_ += to - from + 1;
}

void RouteSet::InsertAfter(uint32_t r, uint32_t p, uint32_t v) {
  std::vector<uint32_t>& seq = routes_[r].seq;
  seq.insert(seq.begin() + p + 1, v);
  if (route_of_[v] == kUnrouted) --unrouted_;
  route_of_[v] = r;
  Refresh(r);
  RefreshValue();
}

void RouteSet::RemoveTarget(uint32_t v) {
  const uint32_t r = route_of_[v];
  Remove(r, pos_of_[v], pos_of_[v]);
  Refresh(r);
}

void RouteSet::Refresh(uint32_t r) {
  const RouteModel& m = *model_;
  RouteData& d = routes_[r];
  const uint32_t slot = m.Slot(r);
  const double limit = m.Limit(r);
  const size_t n = d.seq.size() - 1;
  d.time.resize(n + 1);
  d.ok.resize(n + 1);
  double t = m.StartTime(r);
  bool ok = m.StartOk(r);
  d.time[0] = t;
  d.ok[0] = ok ? 1 : 0;
  for (size_t p = 1; p <= n; ++p) {
    const uint32_t v = d.seq[p];
    route_of_[v] = r;
    pos_of_[v] = static_cast<uint32_t>(p);
    if (ok) ok = m.StepTo(slot, d.seq[p - 1], v, limit, t);
    d.time[p] = t;
    d.ok[p] = ok ? 1 : 0;
  }
  if (loads_) {
    d.load.resize(n + 1);
    d.load[0] = 0.0;
    for (size_t p = 1; p <= n; ++p) d.load[p] = d.load[p - 1] + m.Demand(d.seq[p]);
    if (!m.WithinCapacity(r, d.load[n])) ok = false;
  }
  double cost = 0.0;
  d.feasible = ok && m.CloseRoute(r, d.seq[n], t, cost, &d.close);
  d.cost = d.feasible ? cost : kInf;

  const size_t slots = m.SlotCount();
  for (uint32_t s = 0; s < slots; ++s) {
    const size_t base = s * stride_;
    if (!d.fwd.empty()) {
      double* fwd = d.fwd.data() + base;
      double* bwd = d.bwd.data() + base;
      fwd[0] = bwd[0] = 0.0;
      if (n >= 1) fwd[1] = bwd[1] = 0.0;
      for (size_t p = 2; p <= n; ++p) {
        fwd[p] = fwd[p - 1] + m.Leg(s, d.seq[p - 1], d.seq[p]);
        bwd[p] = bwd[p - 1] + m.Leg(s, d.seq[p], d.seq[p - 1]);
      }
    }
    if (!d.suffix.empty() && n >= 1) {
      Segment* suf = d.suffix.data() + base;
      suf[n] = Segment::Node(m.Open(d.seq[n]), m.Close(d.seq[n]));
      for (size_t p = n - 1; p >= 1; --p) {
        const uint32_t v = d.seq[p];
        suf[p] = Segment::Node(m.Open(v), m.Close(v)).Then(m.Leg(s, v, d.seq[p + 1]), suf[p + 1]);
      }
    }
    if (!d.barred.empty()) {
      uint32_t* barred = d.barred.data() + base;
      barred[0] = 0;
      for (size_t p = 1; p <= n; ++p) barred[p] = barred[p - 1] + (m.SlotServes(s, d.seq[p]) ? 0 : 1);
    }
  }
}

void RouteSet::RefreshValue() {
  value_.total = 0.0;
  value_.longest = routes_.empty() ? 0.0 : -kInf;
  top_count_ = 0;
  for (uint32_t r = 0; r < routes_.size(); ++r) {
    const double c = routes_[r].cost;
    value_.total += c;
    // Keep the three costliest routes, costliest first.
    uint32_t at = top_count_;
    while (at > 0 && routes_[top_[at - 1]].cost < c) --at;
    if (at < 3) {
      const uint32_t last = std::min<uint32_t>(top_count_, 2);
      for (uint32_t q = last; q > at; --q) top_[q] = top_[q - 1];
      top_[at] = r;
      if (top_count_ < 3) ++top_count_;
    }
  }
  if (top_count_ > 0) value_.longest = routes_[top_[0]].cost;
}

double RouteSet::LongestOther(uint32_t a, uint32_t b) const {
  for (uint32_t q = 0; q < top_count_; ++q) {
    if (top_[q] != a && top_[q] != b) return routes_[top_[q]].cost;
  }
  return -kInf;
}

Objective RouteSet::After(uint32_t a, double cost_a) const {
  Objective o;
  o.longest = std::max(LongestOther(a, a), cost_a);
  o.total = value_.total - routes_[a].cost + cost_a;
  return o;
}

Objective RouteSet::After(uint32_t a, double cost_a, uint32_t b, double cost_b) const {
  Objective o;
  o.longest = std::max(LongestOther(a, b), std::max(cost_a, cost_b));
  o.total = value_.total - routes_[a].cost - routes_[b].cost + cost_a + cost_b;
  return o;
}

inline bool RouteSet::Walk(uint32_t slot, double limit, const RouteData& q, const Piece& piece, uint32_t& x,
                           double& t) const {
  const RouteModel& m = *model_;
  auto step = [&](uint32_t v) {
    if (!m.StepTo(slot, x, v, limit, t)) return false;
    x = v;
    return true;
  };
  if (piece.route == Piece::kFree) return step(piece.from);
  if (!piece.reversed) {
    for (uint32_t p = piece.from; p <= piece.to; ++p) {
      if (!step(q.seq[p])) return false;
    }
  } else {
    for (uint32_t p = piece.to + 1; p-- > piece.from;) {
      if (!step(q.seq[p])) return false;
    }
  }
  return true;
}

RouteEval RouteSet::Evaluate(uint32_t agent, const Piece* pieces, int count) const {
  const RouteModel& m = *model_;
  const RouteData& own = routes_[agent];
  const uint32_t head = pieces[0].to;
  if (!own.ok[head]) return RouteEval{};
  if (loads_) {
    // Loads are prefix differences: the pieces' loads add up in O(1) each.
    double load = own.load[head];
    for (int i = 1; i < count; ++i) {
      const Piece& piece = pieces[i];
      if (piece.route == Piece::kFree) {
        load += m.Demand(piece.from);
      } else if (piece.to >= piece.from) {
        const std::vector<double>& l = routes_[piece.route].load;
        load += l[piece.to] - (piece.from > 0 ? l[piece.from - 1] : 0.0);
      }
    }
    if (!m.WithinCapacity(agent, load)) return RouteEval{};
  }
  const uint32_t slot = m.Slot(agent);
  const double limit = m.Limit(agent);
  const bool literal = m.Literal();
  double t = own.time[head];
  uint32_t x = own.seq[head];
  for (int i = 1; i < count; ++i) {
    const Piece& piece = pieces[i];
    if (piece.route == Piece::kFree) {
      if (!Walk(slot, limit, own, piece, x, t)) return RouteEval{};
      continue;
    }
    if (piece.to < piece.from) continue;
    const RouteData& q = routes_[piece.route];
    if (literal || piece.to - piece.from < kShortPiece) {
      if (!Walk(slot, limit, q, piece, x, t)) return RouteEval{};
      continue;
    }
    const size_t base = slot * stride_;
    if (!m.TargetWindows()) {
      if (!piece.reversed) {
        t += m.Leg(slot, x, q.seq[piece.from]) + (q.fwd[base + piece.to] - q.fwd[base + piece.from]);
        x = q.seq[piece.to];
      } else {
        t += m.Leg(slot, x, q.seq[piece.to]) + (q.bwd[base + piece.to] - q.bwd[base + piece.from]);
        x = q.seq[piece.from];
      }
      continue;
    }
    if (!piece.reversed && piece.to + 1 == q.seq.size()) {
      t += m.Leg(slot, x, q.seq[piece.from]);
      if (!q.suffix[base + piece.from].Enter(t)) return RouteEval{};
      x = q.seq[piece.to];
      continue;
    }
    if (!Walk(slot, limit, q, piece, x, t)) return RouteEval{};
  }
  RouteEval out;
  out.ok = m.CloseRoute(agent, x, t, out.cost);
  return out;
}

void RouteSet::Materialise(const Piece* pieces, int count, std::vector<uint32_t>& out) const {
  out.clear();
  for (int i = 0; i < count; ++i) {
    const Piece& piece = pieces[i];
    if (piece.route == Piece::kFree) {
      out.push_back(piece.from);
      continue;
    }
    if (piece.to < piece.from) continue;
    const std::vector<uint32_t>& seq = routes_[piece.route].seq;
    if (!piece.reversed) {
      out.insert(out.end(), seq.begin() + piece.from, seq.begin() + piece.to + 1);
    } else {
      for (uint32_t p = piece.to + 1; p-- > piece.from;) out.push_back(seq[p]);
    }
  }
}

bool RouteSet::Apply(uint32_t a, const Piece* pa, int na, const Objective* beat) {
  Materialise(pa, na, scratch_a_);
  routes_[a].seq.swap(scratch_a_);
  Refresh(a);
  const bool feasible = routes_[a].feasible && (!pairs_ || RoutePairsHold(a));
  if (feasible) RefreshValue();
  const bool keep = feasible && (beat == nullptr || Better(value_, *beat));
  if (!keep) {
    routes_[a].seq.swap(scratch_a_);
    Refresh(a);
    if (feasible) RefreshValue();
  }
  return keep;
}

bool RouteSet::Apply(uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb,
                     const Objective* beat) {
  if (a == b) return Apply(a, pa, na, beat);
  Materialise(pa, na, scratch_a_);
  Materialise(pb, nb, scratch_b_);
  routes_[a].seq.swap(scratch_a_);
  routes_[b].seq.swap(scratch_b_);
  // Nodes that move between the routes are unrouted until their new route is refreshed.
  Refresh(a);
  Refresh(b);
  const bool feasible =
      routes_[a].feasible && routes_[b].feasible && (!pairs_ || (RoutePairsHold(a) && RoutePairsHold(b)));
  if (feasible) RefreshValue();
  const bool keep = feasible && (beat == nullptr || Better(value_, *beat));
  if (!keep) {
    routes_[a].seq.swap(scratch_a_);
    routes_[b].seq.swap(scratch_b_);
    Refresh(a);
    Refresh(b);
    if (feasible) RefreshValue();
  }
  return keep;
}

namespace {

// A pair's rule for node u (route ru, position pu, served at tu) and its
// partner w (rw, pw, tw).
bool PairKept(const RouteModel::NodePair& pair, uint32_t ru, uint32_t pu, double tu, uint32_t rw, uint32_t pw,
              double tw) {
  if (pair.kind == PairKind::kSame) return ru == rw && (pair.before ? pu < pw : pw < pu);
  if (pair.kind == PairKind::kDiff && ru == rw) return false;
  return pair.before ? RoutingContext::InOrder(tu, tw) : RoutingContext::InOrder(tw, tu);
}

}  // namespace

bool RouteSet::RoutePairsHold(uint32_t r) const {
  const RouteModel& m = *model_;
  const RouteData& d = routes_[r];
  for (uint32_t p = 1; p < d.seq.size(); ++p) {
    const uint32_t v = d.seq[p];
    for (const RouteModel::NodePair* pair = m.PairsBegin(v); pair != m.PairsEnd(v); ++pair) {
      const uint32_t w = pair->partner;
      const uint32_t rw = route_of_[w];
      if (rw == kUnrouted) continue;
      if (!PairKept(*pair, r, p, d.time[p], rw, pos_of_[w], routes_[rw].time[pos_of_[w]])) return false;
    }
  }
  return true;
}

bool RouteSet::PairsHold() const {
  for (uint32_t r = 0; r < routes_.size(); ++r) {
    if (!RoutePairsHold(r)) return false;
  }
  return true;
}

bool RouteSet::NewRouteKeepsPairs(uint32_t agent, const Piece* pieces, int count) const {
  const RouteModel& m = *model_;
  Materialise(pieces, count, pair_seq_);
  const uint32_t slot = m.Slot(agent);
  const double limit = m.Limit(agent);
  pair_time_.resize(pair_seq_.size());
  double t = m.StartTime(agent);
  pair_time_[0] = t;
  for (uint32_t p = 1; p < pair_seq_.size(); ++p) {
    m.StepTo(slot, pair_seq_[p - 1], pair_seq_[p], limit, t);
    pair_time_[p] = t;
    pair_pos_[pair_seq_[p]] = p;
  }
  bool kept = true;
  for (uint32_t p = 1; p < pair_seq_.size() && kept; ++p) {
    const uint32_t v = pair_seq_[p];
    for (const RouteModel::NodePair* pair = m.PairsBegin(v); pair != m.PairsEnd(v) && kept; ++pair) {
      const uint32_t w = pair->partner;
      const uint32_t pw = pair_pos_[w];
      if (pw != kUnrouted) {
        kept = PairKept(*pair, agent, p, pair_time_[p], agent, pw, pair_time_[pw]);
        continue;
      }
      const uint32_t rw = route_of_[w];
      // A partner left on the agent's old route is no longer there.
      if (rw == kUnrouted || rw == agent) continue;
      kept = PairKept(*pair, agent, p, pair_time_[p], rw, pos_of_[w], routes_[rw].time[pos_of_[w]]);
    }
  }
  for (uint32_t p = 1; p < pair_seq_.size(); ++p) pair_pos_[pair_seq_[p]] = kUnrouted;
  return kept;
}

EngineSolution RouteSet::Export() const {
  EngineSolution out;
  out.paths.resize(routes_.size());
  out.costs.resize(routes_.size());
  for (size_t r = 0; r < routes_.size(); ++r) {
    const RouteData& d = routes_[r];
    out.paths[r].assign(d.seq.begin(), d.seq.end());
    out.paths[r].push_back(d.close);
    out.costs[r] = d.cost;
  }
  return out;
}

}  // namespace velmora
