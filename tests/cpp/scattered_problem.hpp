#pragma once

// A problem shared by the solver tests: `n` nodes scattered around a depot
// (node 0) and `agents` agents of one type based there. The search finds a
// first solution at once and then runs until its budget is spent.

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "model/assignment_constraint.hpp"
#include "model/problem.hpp"

namespace velmora_test {

inline velmora::Problem ScatteredProblem(int n, int agents) {
  velmora::Problem p;
  std::vector<std::pair<double, double>> points{{50.0, 50.0}};
  for (int k = 1; k < n; ++k) {
    points.emplace_back(50 + 40 * std::cos(k * 2.4) * (k % 7 + 3) / 9,
                        50 + 40 * std::sin(k * 2.4) * (k % 5 + 4) / 8);
  }
  velmora::AssignmentConstraint all;
  for (int i = 0; i < n; ++i) {
    velmora::Node node;
    node.id = static_cast<uint64_t>(i);
    p.add_node(node);
    all.set_assignment(node.id, {"truck"});
  }
  for (int k = 0; k < agents; ++k) {
    velmora::Agent a;
    a.id = static_cast<uint64_t>(k);
    a.type = "truck";
    p.add_agent(a, a.id);
  }
  velmora::Matrix m(points.size(), std::vector<double>(points.size()));
  for (size_t i = 0; i < points.size(); ++i) {
    for (size_t j = 0; j < points.size(); ++j) {
      m[i][j] = std::hypot(points[i].first - points[j].first, points[i].second - points[j].second);
    }
  }
  p.set_cost_matrix("truck", m);
  p.set_assignment_constraint(all);
  return p;
}

}  // namespace velmora_test
