#pragma once

#include <algorithm>
#include <limits>

namespace velmora {

// Summary of a node sequence under time windows: entered (arrival at its first
// node) at time t, it is left at max(t, earliest) + duration when t <= latest,
// and cannot be completed when t > latest. Two summaries joined by a leg
// compose in O(1), whatever the signs of the legs.
struct Segment {
  static constexpr double kInf = std::numeric_limits<double>::infinity();

  double duration = 0.0;
  double earliest = -kInf;
  double latest = kInf;

  static Segment Node(double open, double close) { return Segment{0.0, open, close}; }
  static Segment Infeasible() { return Segment{0.0, kInf, -kInf}; }

  bool Feasible() const { return latest > -kInf; }

  // Time at which the sequence is left when entered at t; false when late.
  bool Enter(double& t) const {
    if (t > latest) return false;
    t = std::max(t, earliest) + duration;
    return true;
  }

  // This sequence, then a leg of cost `leg`, then `next`.
  Segment Then(double leg, const Segment& next) const {
    const double delta = duration + leg;
    if (earliest > next.latest - delta) return Infeasible();
    return Segment{delta + next.duration, std::max(earliest, next.earliest - delta),
                   std::min(latest, next.latest - delta)};
  }
};

}  // namespace velmora
