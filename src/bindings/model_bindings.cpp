#include "bindings/model_bindings.hpp"

#include "bindings/binding_guards.hpp"

#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "model/agent.hpp"
#include "model/assignment_constraint.hpp"
#include "model/node.hpp"
#include "model/options.hpp"
#include "model/problem.hpp"
#include "model/result.hpp"
#include "model/time_window_constraint.hpp"

namespace py = pybind11;

namespace {

using velmora::Agent;
using velmora::AssignmentConstraint;
using velmora::Node;
using velmora::NodeType;
using velmora::ObjectiveType;
using velmora::Options;
using velmora::Position;
using velmora::Problem;
using velmora::Result;
using velmora::TimeWindowConstraint;

// Destroying a model object never touches Python state, so its native destructor runs
// without the interpreter lock (freeing a large Problem lets other threads run).
constexpr py::release_gil_before_calling_cpp_dtor kNoGilDtor{};

// Docstrings for what pybind11 adds to an enumeration itself: `name`, `value` and the class's.
void DocumentEnum(py::handle cls) {
  const py::object property = py::module_::import("builtins").attr("property");
  cls.attr("name") = property(cls.attr("name").attr("fget"), py::none(), py::none(),
                              "The member's name (\"???\" for a value without one).");
  cls.attr("value") = property(cls.attr("value").attr("fget"), py::none(), py::none(), "The member's number.");
  // pybind11 builds the class docstring (with the members' lines) on every read, which help()
  // does not follow; once every member is in, the text itself goes into the class.
  const py::str doc = cls.attr("__doc__");
  auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  if (PyDict_SetItemString(type->tp_dict, "__doc__", doc.ptr()) != 0) throw py::error_already_set();
  PyType_Modified(type);
}

void RegisterEnums(py::module_& m) {
  py::enum_<ObjectiveType> objective(m, "ObjectiveType", "What the search minimises.", kNoGilDtor);
  objective.value("MinMax", ObjectiveType::MinMax, "The largest route cost among the agents.")
      .value("MinSum", ObjectiveType::MinSum, "The sum of the route costs.");
  GuardEnum(objective);
  DocumentEnum(objective);

  py::enum_<NodeType> node_type(m, "NodeType",
                                "Kind of a node. Informational: the agents' start and end nodes are the depots "
                                "the search uses.",
                                kNoGilDtor);
  node_type.value("DEPOT", NodeType::DEPOT, "A depot node.")
      .value("TARGET", NodeType::TARGET, "A target node, to be visited.");
  GuardEnum(node_type);
  DocumentEnum(node_type);
}

void RegisterValueTypes(py::module_& m) {
  py::class_<Position> position(
      m, "Position", "Coordinates of a node (informational: costs come from the cost matrices).", kNoGilDtor);
  position.def(py::init<>(), "The origin (0, 0, 0).")
      .def_readwrite("x", &Position::x, "X coordinate (float).")
      .def_readwrite("y", &Position::y, "Y coordinate (float).")
      .def_readwrite("z", &Position::z, "Z coordinate (float).");
  GuardClass(position);

  // Reading `position` refers into the node (reference_internal); assigning copies.
  py::class_<Node> node(m, "Node", "A node to visit or a depot, named by its id.", kNoGilDtor);
  node.def(py::init<>(), "Id 0 at the origin, a TARGET with demand 0.0.")
      .def_readwrite("id", &Node::id,
                     "The id by which agents and constraints name the node (unsigned 64-bit int).")
      .def_readwrite("position", &Node::position,
                     "Refers into the node: `node.position.x = 2.0` changes the node; assigning copies.")
      .def_readwrite("type", &Node::type, "NodeType.DEPOT or NodeType.TARGET (the default).")
      .def_readwrite("demand", &Node::demand,
                     "The node's demand; limited by the agents' capacities when Options.enforce_capacity is on.");
  GuardClass(node);

  py::class_<Agent> agent(m, "Agent", "An agent (vehicle) with its type and its start and end nodes.", kNoGilDtor);
  agent.def(py::init<>(), "Id 0, empty type, start and end at node id 0, no limits.")
      .def_readwrite("id", &Agent::id, "The agent's id (unsigned 64-bit int).")
      .def_readwrite("type", &Agent::type,
                     "Agent type name: selects the cost matrix and is what assignment constraints name.")
      .def_readwrite("start_node", &Agent::start_node, "Id of the node where the agent starts.")
      .def_readwrite("end_node", &Agent::end_node, "Id of the node where the agent's route closes.")
      .def_readwrite("capacity_limit", &Agent::capacity_limit,
                     "The agent's capacity; with Options.enforce_capacity on, the demands it serves add up to at "
                     "most this (0 or less: no limit).")
      .def_readwrite("time_limit", &Agent::time_limit,
                     "Largest cost of the agent's route (waits included); 0 or less: no limit. Not a time "
                     "budget of the solve.");
  GuardClass(agent);

  py::class_<Options> options(m, "Options", "How a Solver searches: objective, time budget, route closing.",
                              kNoGilDtor);
  options.def(py::init<>(), "return_to_end True, objective MinSum, time_limit 60.0, improve False.")
      .def_readwrite("return_to_end", &Options::return_to_end,
                     "True: every route closes at its agent's end node. False: a route may also close at "
                     "its start node, and the closing move costs nothing.")
      .def_readwrite("objective", &Options::objective, "The ObjectiveType to minimise (default MinSum).")
      .def_property(
          "time_limit", [](const Options& o) { return o.time_limit; },
          [](Options& o, double seconds) {
            if (std::isnan(seconds)) throw py::value_error("Options.time_limit must not be NaN");
            o.time_limit = seconds;
          },
          "Time budget of one solve, in processor seconds of the thread running the search (default "
          "60.0). math.inf searches until the search ends or is stopped (Solver.stop(), Ctrl-C, a "
          "callback); 0 or less stops at the first check; NaN raises ValueError.")
      .def_readwrite("improve", &Options::improve,
                     "After the focal search's first solution, spend the rest of the budget improving the "
                     "routes (default False).")
      .def_readwrite("seed", &Options::seed,
                     "Seed of the improvement's random choices (unsigned 64-bit int, default 0).")
      .def_readwrite("improve_iterations", &Options::improve_iterations,
                     "Largest number of improvement iterations; 0 or less (the default): no cap.")
      .def_readwrite("threads", &Options::threads,
                     "Improvement searches on one instance, one thread each (unsigned int, default 1; 0: one "
                     "per processor the process may use). They exchange their best routes at fixed iteration "
                     "counts, so a seed, a thread count and improve_iterations give the same routes on every "
                     "run; the budget stays time_limit for each thread. Without improve, no effect.")
      .def_readwrite("enforce_capacity", &Options::enforce_capacity,
                     "The routes obey the agents' capacities: an agent whose capacity_limit is above 0 serves "
                     "targets whose demands add up to at most that limit (default False). Needs improve; "
                     "solve() then runs the improvement engine alone.")
      .def_readwrite("enforce_precedence", &Options::enforce_precedence,
                     "The routes obey the instance's precedence pairs (default False): a plain or \"diff\" "
                     "pair serves `before` no later than `after` (\"diff\": by two different agents), a "
                     "\"same\" pair serves both with one agent, `before` first. A pair never makes an agent "
                     "wait. Needs improve; solve() then runs the improvement engine alone.");
  GuardClass(options);
}

void RegisterConstraints(py::module_& m) {
  py::class_<AssignmentConstraint> assignment(
      m, "AssignmentConstraint",
      "Which agent types may serve which nodes; a node without an entry may be served by every type.", kNoGilDtor);
  assignment.def(py::init<>(), "No entries.")
      .def("set_assignment", &AssignmentConstraint::set_assignment, py::arg("node"), py::arg("types"),
           "Let only the agent types named in `types` serve the node with id `node` (replacing an earlier "
           "entry).");
  GuardClass(assignment);

  py::class_<TimeWindowConstraint> windows(
      m, "TimeWindowConstraint",
      "Time windows of nodes, in route-cost units: an agent arriving before a window opens waits; "
      "arriving after it closes is not allowed.",
      kNoGilDtor);
  windows.def(py::init<>(), "No windows.")
      .def("set_timewindow", &TimeWindowConstraint::set_timewindow, py::arg("node"), py::arg("start"),
           py::arg("end"), "Give the node with id `node` the window [start, end] (replacing an earlier one).");
  GuardClass(windows);
}

// A two-dimensional buffer of doubles (a NumPy array, a cast memoryview) is copied
// row by row, strided or not; anything else goes through the sequence conversion.
void SetCostMatrix(Problem& problem, const std::string& agent_type, const py::object& matrix) {
  if (PyObject_CheckBuffer(matrix.ptr()) != 0) {
    const py::buffer_info info = py::reinterpret_borrow<py::buffer>(matrix).request();
    if (info.ndim == 2 && info.format == py::format_descriptor<double>::format() &&
        info.itemsize == static_cast<py::ssize_t>(sizeof(double))) {
      const py::ssize_t rows = info.shape[0];
      const py::ssize_t cols = info.shape[1];
      const char* base = static_cast<const char*>(info.ptr);
      velmora::Matrix cells(static_cast<size_t>(rows), std::vector<double>(static_cast<size_t>(cols)));
      for (py::ssize_t i = 0; i < rows; ++i) {
        double* row = cells[static_cast<size_t>(i)].data();
        const char* src = base + i * info.strides[0];
        if (info.strides[1] == static_cast<py::ssize_t>(sizeof(double))) {
          if (cols > 0) std::memcpy(row, src, static_cast<size_t>(cols) * sizeof(double));
        } else {
          for (py::ssize_t j = 0; j < cols; ++j) std::memcpy(row + j, src + j * info.strides[1], sizeof(double));
        }
      }
      problem.set_cost_matrix(agent_type, cells);
      return;
    }
  }
  velmora::Matrix cells;
  try {
    cells = matrix.cast<velmora::Matrix>();
  } catch (const py::cast_error&) {
    throw py::type_error(
        "set_cost_matrix(): incompatible function arguments: matrix must be a sequence of rows of numbers or a "
        "two-dimensional buffer of doubles");
  }
  problem.set_cost_matrix(agent_type, cells);
}

void RegisterProblem(py::module_& m) {
  // options(), nodes() and agents_ordered() hand out objects that point into the problem;
  // reference_internal ties each of them (every list element included) to the problem's
  // lifetime. Nodes and agents sit in deques, so elements stay valid across later appends.
  py::class_<Problem> problem(
      m, "Problem",
      "A routing instance: nodes, agents, cost matrices per agent type, constraints and options. A Solver "
      "works on its own copy.",
      kNoGilDtor);
  problem.def(py::init<>(), "An empty problem with default options.")
      .def("add_node", &Problem::add_node, py::arg("node"),
           "Append a copy of `node`; its position in the node list is its node index.")
      .def("add_agent", &Problem::add_agent, py::arg("agent"), py::arg("id"),
           "Append a copy of `agent`, filed under `id` (pass the agent's own id); its position in "
           "agents_ordered() is its agent index.")
      .def("set_cost_matrix", &SetCostMatrix, py::arg("agent_type"), py::arg("matrix"),
           "Arc costs for the agents of type `agent_type` (replacing an earlier matrix): matrix[i][j] is the "
           "cost from node index i to node index j; a missing cell costs 9999.0. A two-dimensional NumPy "
           "array (or any buffer of doubles) is read without converting cell by cell.")
      .def("set_assignment_constraint", &Problem::set_assignment_constraint, py::arg("constraint"),
           "Replace the assignment table with a copy of `constraint`.")
      .def("set_timewindow_constraint", &Problem::set_timewindow_constraint, py::arg("constraint"),
           "Replace the time-window table with a copy of `constraint`.")
      .def(
          "options", [](Problem& p) -> Options& { return p.options(); },
          py::return_value_policy::reference_internal,
          "The problem's own options (changes write through; keeps the problem alive).")
      .def(
          "nodes", [](Problem& p) -> std::deque<Node>& { return p.nodes(); },
          py::return_value_policy::reference_internal,
          "A new list whose elements refer to the problem's stored nodes.")
      .def(
          "agents_ordered", [](Problem& p) -> std::deque<Agent>& { return p.agents_ordered(); },
          py::return_value_policy::reference_internal,
          "A new list, one entry per add_agent call, referring to the stored agents.");
  GuardClass(problem);
}

void RegisterResult(py::module_& m) {
  // No constructor: results come from the solver. paths and times convert to a new dict on
  // every read, so changing that dict leaves the Result as it was.
  py::class_<Result> result(
      m, "Result",
      "A solver's solution, in agent indices and node indices: routes, their costs, counters and timing. "
      "Comes from Solver.get_result() and Solver.get_result_process().",
      kNoGilDtor);
  result.def_readonly("n_generated", &Result::n_generated, "Number of search states generated.")
      .def_readonly("n_expanded", &Result::n_expanded, "Number of search states expanded.")
      .def_readonly("timeout", &Result::timeout,
                    "True when the search stopped before it ended: its budget was spent, its memory bound "
                    "reached, or it was stopped (Solver.stop(), Ctrl-C, a callback).")
      .def_readonly("last_update_time", &Result::last_update_time,
                    "When the last solution was recorded: processor seconds of the thread running the "
                    "search, counted from the start of the solve.")
      .def_readonly("paths", &Result::paths,
                    "Agent index -> node indices of its route (a new dict on every read).")
      .def_readonly("times", &Result::times, "Agent index -> cost of its route (a new dict on every read).");
  GuardClass(result);
}

}  // namespace

void RegisterModel(py::module_& m) {
  RegisterEnums(m);
  RegisterValueTypes(m);
  RegisterConstraints(m);
  RegisterProblem(m);
  RegisterResult(m);
}
