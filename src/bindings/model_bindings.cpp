#include "bindings/model_bindings.hpp"

#include "bindings/binding_guards.hpp"

#include <pybind11/stl.h>

#include <deque>

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

void RegisterEnums(py::module_& m) {
  py::enum_<ObjectiveType> objective(m, "ObjectiveType", kNoGilDtor);
  objective.value("MinMax", ObjectiveType::MinMax).value("MinSum", ObjectiveType::MinSum);
  GuardEnum(objective);

  py::enum_<NodeType> node_type(m, "NodeType", kNoGilDtor);
  node_type.value("DEPOT", NodeType::DEPOT).value("TARGET", NodeType::TARGET);
  GuardEnum(node_type);
}

void RegisterValueTypes(py::module_& m) {
  py::class_<Position> position(m, "Position", kNoGilDtor);
  position.def(py::init<>())
      .def_readwrite("x", &Position::x)
      .def_readwrite("y", &Position::y)
      .def_readwrite("z", &Position::z);
  GuardClass(position);

  // Reading `position` refers into the node (reference_internal); assigning copies.
  py::class_<Node> node(m, "Node", kNoGilDtor);
  node.def(py::init<>())
      .def_readwrite("id", &Node::id)
      .def_readwrite("position", &Node::position)
      .def_readwrite("type", &Node::type)
      .def_readwrite("demand", &Node::demand);
  GuardClass(node);

  py::class_<Agent> agent(m, "Agent", kNoGilDtor);
  agent.def(py::init<>())
      .def_readwrite("id", &Agent::id)
      .def_readwrite("type", &Agent::type)
      .def_readwrite("start_node", &Agent::start_node)
      .def_readwrite("end_node", &Agent::end_node)
      .def_readwrite("capacity_limit", &Agent::capacity_limit)
      .def_readwrite("time_limit", &Agent::time_limit);
  GuardClass(agent);

  py::class_<Options> options(m, "Options", kNoGilDtor);
  options.def(py::init<>())
      .def_readwrite("return_to_end", &Options::return_to_end)
      .def_readwrite("objective", &Options::objective)
      .def_readwrite("time_limit", &Options::time_limit)
      .def_readwrite("improve", &Options::improve)
      .def_readwrite("seed", &Options::seed)
      .def_readwrite("improve_iterations", &Options::improve_iterations);
  GuardClass(options);
}

void RegisterConstraints(py::module_& m) {
  py::class_<AssignmentConstraint> assignment(m, "AssignmentConstraint", kNoGilDtor);
  assignment.def(py::init<>())
      .def("set_assignment", &AssignmentConstraint::set_assignment, py::arg("node"), py::arg("types"));
  GuardClass(assignment);

  py::class_<TimeWindowConstraint> windows(m, "TimeWindowConstraint", kNoGilDtor);
  windows.def(py::init<>())
      .def("set_timewindow", &TimeWindowConstraint::set_timewindow, py::arg("node"), py::arg("start"),
           py::arg("end"));
  GuardClass(windows);
}

void RegisterProblem(py::module_& m) {
  // options(), nodes() and agents_ordered() hand out objects that point into the problem;
  // reference_internal ties each of them (every list element included) to the problem's
  // lifetime. Nodes and agents sit in deques, so elements stay valid across later appends.
  py::class_<Problem> problem(m, "Problem", kNoGilDtor);
  problem.def(py::init<>())
      .def("add_node", &Problem::add_node, py::arg("node"))
      .def("add_agent", &Problem::add_agent, py::arg("agent"), py::arg("id"))
      .def("set_cost_matrix", &Problem::set_cost_matrix, py::arg("agent_type"), py::arg("matrix"))
      .def("set_assignment_constraint", &Problem::set_assignment_constraint, py::arg("constraint"))
      .def("set_timewindow_constraint", &Problem::set_timewindow_constraint, py::arg("constraint"))
      .def(
          "options", [](Problem& p) -> Options& { return p.options(); },
          py::return_value_policy::reference_internal)
      .def(
          "nodes", [](Problem& p) -> std::deque<Node>& { return p.nodes(); },
          py::return_value_policy::reference_internal)
      .def(
          "agents_ordered", [](Problem& p) -> std::deque<Agent>& { return p.agents_ordered(); },
          py::return_value_policy::reference_internal);
  GuardClass(problem);
}

void RegisterResult(py::module_& m) {
  // No constructor: results come from the solver. paths and times convert to a new dict on
  // every read, so changing that dict leaves the Result as it was.
  py::class_<Result> result(m, "Result", kNoGilDtor);
  result.def_readonly("n_generated", &Result::n_generated)
      .def_readonly("n_expanded", &Result::n_expanded)
      .def_readonly("timeout", &Result::timeout)
      .def_readonly("last_update_time", &Result::last_update_time)
      .def_readonly("paths", &Result::paths)
      .def_readonly("times", &Result::times);
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
