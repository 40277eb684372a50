// Instances beyond the focal search's 256 nodes: refused without improvement,
// set up for the improvement engine alone (no planning graph) with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "solver/solver.hpp"

using namespace velmora;

namespace {

struct Shape {
  const char* name;
  int nodes;
  int agents;
  bool two_types;      // every third agent is a "drone" with its own matrix; every fifth node trucks only
  bool return_to_end;
  bool distinct_ends;  // agents end at node 1 instead of node 0
  bool windows;        // wide windows on every tenth target
  bool limits;         // a generous route limit on every agent
  ObjectiveType objective;
};

// Points from a fixed linear congruential sequence, so every run sees the same instance.
std::vector<std::pair<double, double>> Points(int n, uint64_t seed) {
  std::vector<std::pair<double, double>> points;
  uint64_t s = seed * 6364136223846793005ULL + 1442695040888963407ULL;
  auto next = [&] {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) / static_cast<double>(1ULL << 53) * 1000.0;
  };
  for (int i = 0; i < n; ++i) {
    const double x = next();
    points.emplace_back(x, next());
  }
  return points;
}

Matrix Euclid(const std::vector<std::pair<double, double>>& points, double speed) {
  Matrix m(points.size(), std::vector<double>(points.size()));
  for (size_t i = 0; i < points.size(); ++i)
    for (size_t j = 0; j < points.size(); ++j)
      m[i][j] =
          std::round(std::hypot(points[i].first - points[j].first, points[i].second - points[j].second) / speed);
  return m;
}

Problem MakeProblem(const Shape& shape) {
  Problem p;
  const auto points = Points(shape.nodes, 7);
  for (int i = 0; i < shape.nodes; ++i) {
    Node node;
    node.id = static_cast<uint64_t>(i);
    node.position.x = points[i].first;
    node.position.y = points[i].second;
    p.add_node(node);
  }
  for (int k = 0; k < shape.agents; ++k) {
    Agent a;
    a.id = static_cast<uint64_t>(k);
    a.type = shape.two_types && k % 3 == 2 ? "drone" : "truck";
    a.start_node = 0;
    a.end_node = shape.distinct_ends ? 1 : 0;
    if (shape.limits) a.time_limit = 40000.0;
    p.add_agent(a, a.id);
  }
  p.set_cost_matrix("truck", Euclid(points, 1.0));
  if (shape.two_types) p.set_cost_matrix("drone", Euclid(points, 2.0));
  AssignmentConstraint assignment;
  for (int i = 0; i < shape.nodes; ++i) {
    if (shape.two_types && i % 5 == 0) {
      assignment.set_assignment(static_cast<uint64_t>(i), {"truck"});
    } else if (shape.two_types) {
      assignment.set_assignment(static_cast<uint64_t>(i), {"truck", "drone"});
    } else {
      assignment.set_assignment(static_cast<uint64_t>(i), {"truck"});
    }
  }
  p.set_assignment_constraint(assignment);
  if (shape.windows) {
    TimeWindowConstraint windows;
    for (int i = 10; i < shape.nodes; i += 10) windows.set_timewindow(static_cast<uint64_t>(i), 0.0, 1e6);
    p.set_timewindow_constraint(windows);
  }
  return p;
}

Problem NodesOnly(int n) {
  Problem p;
  for (int i = 0; i < n; ++i) {
    Node node;
    node.id = static_cast<uint64_t>(i);
    p.add_node(node);
  }
  Agent a;
  a.type = "truck";
  p.add_agent(a, 0);
  return p;
}

Options MakeOptions(bool improve, ObjectiveType objective = ObjectiveType::MinMax, bool return_to_end = true) {
  Options o;
  o.objective = objective;
  o.time_limit = 20.0;
  o.return_to_end = return_to_end;
  o.improve = improve;
  o.seed = 3;
  o.improve_iterations = 40;
  return o;
}

std::string ThrownText(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

DiagnosticsSink Quiet() {
  return [](DiagnosticStream, const std::string&) {};
}

// Literal walk of every route of a result over the problem's own matrices: a
// route starts at its agent's start, closes at its end (or, without
// return-to-end, at its start, that closing leg free), serves only targets its
// type may serve and meets every window and limit; every target is served
// once; each cost equals the walk's cost. Returns the first fault.
std::string Fault(const Problem& problem, const Options& options, const Result& result) {
  const auto& nodes = problem.nodes();
  const size_t n = nodes.size();
  std::set<uint64_t> depots;
  for (const Agent& a : problem.agents_ordered()) {
    depots.insert(a.start_node);
    depots.insert(a.end_node);
  }
  std::vector<int> served(n, 0);
  const auto& windows = problem.timewindow_constraint().windows;
  const auto& assignments = problem.assignment_constraint().assignments;
  for (size_t k = 0; k < problem.agents_ordered().size(); ++k) {
    const Agent& agent = problem.agents_ordered()[k];
    const Matrix& cost = problem.cost_matrices().at(agent.type);
    const auto path = result.paths.at(static_cast<int64_t>(k));
    const std::string where = "route " + std::to_string(k) + ": ";
    if (path.empty()) return where + "empty";
    if (static_cast<uint64_t>(path.front()) != agent.start_node) return where + "does not start at the start";
    const uint64_t last = static_cast<uint64_t>(path.back());
    const bool closes = last == agent.end_node || (!options.return_to_end && last == agent.start_node);
    if (!closes) return where + "does not close at a closing node";
    double t = 0.0;
    for (size_t p = 1; p < path.size(); ++p) {
      const uint64_t u = static_cast<uint64_t>(path[p - 1]);
      const uint64_t v = static_cast<uint64_t>(path[p]);
      const bool own_depot = v == agent.start_node || v == agent.end_node;
      if (!own_depot) {
        if (depots.count(v) != 0) return where + "passes another agent's depot";
        const auto& types = assignments.at(v);
        if (std::find(types.begin(), types.end(), agent.type) == types.end())
          return where + "serves a barred node";
        ++served[v];
      }
      if (u != v && !(own_depot && !options.return_to_end)) t += cost[u][v];
      auto w = windows.find(v);
      if (w != windows.end()) {
        if (t > w->second.second) return where + "misses a window";
        t = std::max(t, w->second.first);
      }
      if (agent.time_limit > 0 && t > agent.time_limit) return where + "exceeds its limit";
    }
    if (std::abs(t - result.times.at(static_cast<int64_t>(k))) > 1e-6) {
      return where + "costs " + std::to_string(t) + ", reported " +
             std::to_string(result.times.at(static_cast<int64_t>(k)));
    }
  }
  for (size_t v = 0; v < n; ++v) {
    if (depots.count(v) == 0 && served[v] != 1) {
      return "node " + std::to_string(v) + " served " + std::to_string(served[v]) + " times";
    }
  }
  return "";
}

}  // namespace

// --- node limits ---------------------------------------------------------------------------------

struct LimitCase {
  int nodes;
  bool improve;
  const char* refusal;  // empty: accepted
};

TEST(LargeInstanceLimits, CountsAndImprovement) {
  const LimitCase cases[] = {
      {256, false, ""},
      {257, false, "the problem has 257 nodes; the solver handles at most 256 (up to 2000 with improve on)"},
      {1500, false, "the problem has 1500 nodes; the solver handles at most 256 (up to 2000 with improve on)"},
      {257, true, ""},
      {2000, true, ""},
      {2001, true, "the problem has 2001 nodes; the solver handles at most 2000 with improve on"},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.nodes) + (c.improve ? " with improve" : " without improve"));
    const Problem p = NodesOnly(c.nodes);
    EXPECT_EQ(ThrownText([&] { Solver s(p, MakeOptions(c.improve), Quiet()); }), c.refusal);
  }
}

// --- set-up for the engine alone -----------------------------------------------------------------

TEST(LargeInstanceSetup, BuildsTheContextButNoGraphNorEdgeList) {
  const Shape shape{"two types", 300, 4, true, true, false, true, false, ObjectiveType::MinMax};
  const Problem p = MakeProblem(shape);
  Solver s(p, MakeOptions(true), Quiet());
  EXPECT_EQ(s.graph(), nullptr);
  EXPECT_TRUE(s.edges().empty());
  const RoutingContext& c = s.context();
  ASSERT_EQ(c.NodeCount(), 300u);
  ASSERT_EQ(c.TypeCount(), 2u);
  ASSERT_EQ(c.AgentCount(), 4u);
  EXPECT_TRUE(c.HasWindows());
  const Matrix& truck = p.cost_matrices().at("truck");
  const Matrix& drone = p.cost_matrices().at("drone");
  const int64_t t_truck = static_cast<int64_t>(p.type_index().at("truck"));
  const int64_t t_drone = static_cast<int64_t>(p.type_index().at("drone"));
  for (uint64_t u : {0u, 1u, 137u, 299u}) {
    for (uint64_t v : {0u, 2u, 150u, 299u}) {
      if (u == v) {
        EXPECT_TRUE(std::isnan(c.Cost(t_truck, u, v)));
        continue;
      }
      EXPECT_EQ(c.Cost(t_truck, u, v), truck[u][v]);
      EXPECT_EQ(c.Cost(t_drone, u, v), drone[u][v]);
    }
  }
  EXPECT_TRUE(c.AllowsType(5, t_truck));
  EXPECT_FALSE(c.AllowsType(5, t_drone));
  EXPECT_TRUE(c.AllowsType(6, t_drone));
  EXPECT_EQ(c.AgentType(2), t_drone);
  EXPECT_TRUE(c.HasWindow(10));
  EXPECT_FALSE(c.HasWindow(11));
}

TEST(LargeInstanceSetup, MissingCellsCostTheMissingCostAndShortMatricesAreAllowed) {
  Problem p = NodesOnly(300);
  p.set_cost_matrix("truck", Matrix{{0.0, 4.0}, {5.0}});
  Solver s(p, MakeOptions(true), Quiet());
  const RoutingContext& c = s.context();
  EXPECT_EQ(c.Cost(0, 0, 1), 4.0);
  EXPECT_EQ(c.Cost(0, 1, 0), 5.0);
  EXPECT_EQ(c.Cost(0, 1, 2), kMissingCost);
  EXPECT_EQ(c.Cost(0, 299, 0), kMissingCost);
}

// The large set-up reads the problem with the same rules and words as the
// focal search's.
TEST(LargeInstanceSetup, RefusesWhatTheSmallSetUpRefuses) {
  struct Bad {
    const char* name;
    std::function<void(Problem&, size_t)> change;
    std::function<std::string(size_t)> text;
  };
  const auto count = [](size_t n) { return std::to_string(n); };
  const Bad bads[] = {
      {"too many rows",
       [](Problem& p, size_t n) { p.set_cost_matrix("truck", Matrix(n + 1, std::vector<double>(1))); },
       [&](size_t n) {
         return "cost matrix of agent type 'truck' has " + count(n + 1) + " rows but the problem has " + count(n) +
                " nodes";
       }},
      {"too many columns",
       [](Problem& p, size_t n) { p.set_cost_matrix("truck", Matrix(2, std::vector<double>(n + 2))); },
       [&](size_t n) {
         return "row 0 of the cost matrix of agent type 'truck' has " + count(n + 2) +
                " columns but the problem has " + count(n) + " nodes";
       }},
      {"not a number",
       [](Problem& p, size_t) { p.set_cost_matrix("truck", Matrix{{0.0, 1.0}, {std::nan(""), 0.0}}); },
       [](size_t) {
         return std::string("cost matrix of agent type 'truck' holds a value that is not a number at (1, 0)");
       }},
      {"minus infinity",
       [](Problem& p, size_t) {
         p.set_cost_matrix("truck", Matrix{{0.0, -std::numeric_limits<double>::infinity()}, {1.0, 0.0}});
       },
       [](size_t) { return std::string("cost matrix of agent type 'truck' holds minus infinity at (0, 1)"); }},
      {"unknown type", [](Problem& p, size_t) { p.set_cost_matrix("bike", Matrix{{0.0}}); },
       [](size_t) { return std::string("unordered_map::at: key not found"); }},
  };
  for (const Bad& bad : bads) {
    for (const auto& [n, improve] : {std::pair<size_t, bool>{200, false}, {300, true}}) {
      SCOPED_TRACE(std::string(bad.name) + ", " + count(n) + " nodes");
      Problem p = NodesOnly(static_cast<int>(n));
      bad.change(p, n);
      std::string text;
      try {
        Solver s(p, MakeOptions(improve), Quiet());
      } catch (const std::exception& e) {
        text = e.what();
      }
      EXPECT_EQ(text, bad.text(n));
    }
  }
}

TEST(LargeInstanceSetup, WarnsAboutTheSameNodesAndDepots) {
  Problem p = NodesOnly(300);
  // Node 0 has no arc of type 0 to any other node: the start cannot be reached.
  p.set_cost_matrix("truck", Matrix{{0.0}});
  AssignmentConstraint assignment;
  for (uint64_t i = 0; i < 300; ++i) {
    if (i != 17) assignment.set_assignment(i, {"truck"});
  }
  p.set_assignment_constraint(assignment);
  std::vector<std::string> lines;
  Solver s(p, MakeOptions(true), [&](DiagnosticStream stream, const std::string& line) {
    if (stream == DiagnosticStream::kStderr) lines.push_back(line);
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"[warning] node 17 has no assignment constraint; allowing all types",
                                             "point: 0 can't be reached"}));
}

// --- solving -------------------------------------------------------------------------------------

class LargeInstanceSolve : public ::testing::TestWithParam<Shape> {};

TEST_P(LargeInstanceSolve, ImproveGivesValidRoutes) {
  const Shape& shape = GetParam();
  const Problem p = MakeProblem(shape);
  const Options options = MakeOptions(true, shape.objective, shape.return_to_end);
  Solver s(p, options, Quiet());
  ASSERT_EQ(s.solve(), 1);
  const Result r = s.get_result();
  ASSERT_EQ(r.paths.size(), static_cast<size_t>(shape.agents));
  EXPECT_EQ(Fault(p, options, r), "");
  ASSERT_FALSE(s.get_result_process().empty());
  EXPECT_EQ(Fault(p, options, s.get_result_process().back().result), "");
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, LargeInstanceSolve,
    ::testing::Values(
        Shape{"min_max", 300, 5, false, true, false, false, false, ObjectiveType::MinMax},
        Shape{"min_sum", 300, 3, false, true, false, false, false, ObjectiveType::MinSum},
        Shape{"open_routes_distinct_ends", 320, 4, false, false, true, false, false, ObjectiveType::MinMax},
        Shape{"two_types_windows_limits", 300, 6, true, true, false, true, true, ObjectiveType::MinMax}),
    [](const ::testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

TEST(LargeInstanceSolveRepeat, SameSeedAndIterationsGiveTheSameRoutes) {
  const Shape shape{"repeat", 280, 3, false, true, false, false, false, ObjectiveType::MinMax};
  const Problem p = MakeProblem(shape);
  Solver a(p, MakeOptions(true), Quiet());
  Solver b(p, MakeOptions(true), Quiet());
  ASSERT_EQ(a.solve(), 1);
  ASSERT_EQ(b.solve(), 1);
  EXPECT_EQ(a.get_result().paths, b.get_result().paths);
}
