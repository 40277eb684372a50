#include "bindings/solve_bindings.hpp"

#include <pybind11/stl.h>

#include <functional>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "bindings/binding_guards.hpp"
#include "app/solve_report.hpp"
#include "solver/solver.hpp"

namespace py = pybind11;
using velmora::Options;
using velmora::Problem;
using velmora::Result;
using velmora::SolveReport;
using velmora::Solver;

namespace {

// A Python callable as the solver's diagnostics sink: called with the stream
// name ("stdout" or "stderr") and the line, under the interpreter lock, which
// the search does not hold. None keeps the process's streams. What the
// callable raises ends the solve with that exception.
velmora::DiagnosticsSink PythonSink(const py::object& callable) {
  if (callable.is_none()) return {};
  if (!PyCallable_Check(callable.ptr())) throw py::type_error("diagnostics must be callable or None");
  // The sink may be dropped without the lock (the solver's destructor runs without it).
  std::shared_ptr<py::object> target(new py::object(callable), [](py::object* object) {
    py::gil_scoped_acquire gil;
    delete object;
  });
  return [target](velmora::DiagnosticStream stream, const std::string& line) {
    py::gil_scoped_acquire gil;
    (*target)(stream == velmora::DiagnosticStream::kStdout ? "stdout" : "stderr", line);
  };
}

// The Python face of a solver. The search runs without the interpreter lock, so
// the handle serialises access: a second solve() while one runs is refused and
// reads wait for a running search to end.
class SolverHandle {
 public:
  SolverHandle(const Problem& problem, const Options& options, const py::object& diagnostics)
      : solver_(std::make_unique<Solver>(problem, options, PythonSink(diagnostics))) {}

  int Solve() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) throw std::runtime_error("this solver is already running a search");
    int found;
    {
      py::gil_scoped_release release;
      found = solver_->solve();
    }
    std::cout.flush();
    return found;
  }

  Result GetResult() {
    std::unique_lock<std::mutex> lock = Lock();
    return solver_->get_result();
  }

  py::list GetResultProcess() {
    std::unique_lock<std::mutex> lock = Lock();
    py::list out;
    for (const velmora::AnytimeEntry& entry : solver_->get_result_process()) {
      out.append(py::make_tuple(entry.time, entry.result));
    }
    return out;
  }

 private:
  std::unique_lock<std::mutex> Lock() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
      py::gil_scoped_release release;
      lock.lock();
    }
    return lock;
  }

  std::unique_ptr<Solver> solver_;
  std::mutex mutex_;
};

py::dict ToDict(const SolveReport& report) {
  py::list routes;
  for (const velmora::RouteReport& r : report.routes) {
    py::dict route;
    route["agent_id"] = r.agent_id;
    route["path"] = py::cast(r.path);
    route["cost"] = r.cost;
    routes.append(route);
  }
  py::dict statistics;
  statistics["solve_time"] = report.solve_time;
  statistics["max_cost"] = report.max_cost;
  statistics["sum_cost"] = report.sum_cost;
  statistics["n_generated"] = report.n_generated;
  statistics["n_expanded"] = report.n_expanded;
  statistics["last_update_time"] = report.last_update_time;
  py::list anytime;
  for (const velmora::AnytimePoint& p : report.anytime) {
    py::dict entry;
    entry["time"] = p.time;
    entry["max_cost"] = p.max_cost;
    entry["sum_cost"] = p.sum_cost;
    anytime.append(entry);
  }
  py::dict out;
  out["status"] = report.success ? "success" : "failed";
  out["timeout"] = report.timeout;
  out["routes"] = routes;
  out["statistics"] = statistics;
  out["anytime"] = anytime;
  return out;
}

py::dict SolveJsonStr(const std::string& json_str, double time_limit, const py::object& diagnostics) {
  const SolveReport report = velmora::SolveInstanceText(
      json_str, time_limit,
      [](const std::function<void()>& work) {
        py::gil_scoped_release release;
        work();
      },
      PythonSink(diagnostics));
  std::cout.flush();
  return ToDict(report);
}

py::dict SolveJsonFile(const std::string& input_path, double time_limit, const py::object& diagnostics) {
  std::ifstream in(input_path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file: " + input_path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return SolveJsonStr(text, time_limit, diagnostics);
}

}  // namespace

void RegisterSolveEntryPoints(py::module_& m) {
  py::class_<SolverHandle> solver(m, "Solver", py::release_gil_before_calling_cpp_dtor());
  solver.def(py::init<const Problem&, const Options&, const py::object&>(), py::arg("problem"), py::arg("options"),
             py::kw_only(), py::arg("diagnostics") = py::none())
      .def("solve", &SolverHandle::Solve, "Run the KVT solver. Returns 1 on success, 0 on failure.")
      .def("get_result", &SolverHandle::GetResult)
      .def("get_result_process", &SolverHandle::GetResultProcess);
  GuardClass(solver);

  m.def("solve_json_file", &SolveJsonFile, py::arg("input_path"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("diagnostics") = py::none(),
        "Solve an MTSP instance from a JSON file path.\nReturns a dict with keys: status, routes, statistics, "
        "anytime, timeout.");
  m.def("solve_json_str", &SolveJsonStr, py::arg("json_str"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("diagnostics") = py::none(),
        "Solve an MTSP instance from a JSON string.\nReturns a dict with keys: status, routes, statistics, "
        "anytime, timeout.");
}
