#include "bindings/solve_bindings.hpp"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/solve_report.hpp"
#include "bindings/binding_guards.hpp"
#include "bindings/solve_events.hpp"
#include "bindings/solve_runner.hpp"
#include "solver/solver.hpp"

namespace py = pybind11;
using velmora::Options;
using velmora::Problem;
using velmora::Result;
using velmora::Solver;
using velmora::SolveReport;

namespace {

void CheckTimeLimit(double seconds) {
  if (std::isnan(seconds)) throw py::value_error("time_limit must not be NaN");
}

void CheckCallback(const py::object& callback) {
  if (!callback.is_none() && !PyCallable_Check(callback.ptr())) {
    throw py::type_error("callback must be callable or None");
  }
}

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

// The Python face of a solver. The search runs on a worker thread without the
// interpreter lock (SolveRunner), so the handle serialises access: a second
// solve() while one runs is refused and reads wait for a running search to end,
// except from inside the callback, while the search waits for it.
class SolverHandle {
 public:
  SolverHandle(const Problem& problem, const Options& options, const py::object& diagnostics)
      : solver_(std::make_unique<Solver>(problem, options, PythonSink(diagnostics))) {}

  int Solve(const py::object& callback) {
    CheckCallback(callback);
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) throw std::runtime_error("this solver is already running a search");
    Solver& solver = *solver_;
    solver.ClearStop();
    SolveRunner runner(callback, [&solver] { solver.RequestStop(); });
    if (runner.has_callback()) {
      solver.set_on_record([&runner](const velmora::AnytimeEntry& entry) {
        return runner.Deliver([&entry] { return RecordArgument(entry); });
      });
    }
    runner_ = &runner;
    int found = 0;
    try {
      runner.Run([&] { found = solver.solve(); });
    } catch (...) {
      Detach();
      throw;
    }
    Detach();
    return found;
  }

  void Stop() { solver_->RequestStop(); }

  Result GetResult() {
    if (runner_ != nullptr && runner_->in_callback()) return solver_->get_result();
    std::unique_lock<std::mutex> lock = Lock();
    return solver_->get_result();
  }

  py::list GetResultProcess() {
    if (runner_ != nullptr && runner_->in_callback()) return LogOf(*solver_);
    std::unique_lock<std::mutex> lock = Lock();
    return LogOf(*solver_);
  }

 private:
  static py::list LogOf(const Solver& solver) {
    py::list out;
    for (const velmora::AnytimeEntry& entry : solver.get_result_process()) {
      out.append(py::make_tuple(entry.time, entry.result));
    }
    return out;
  }

  void Detach() {
    solver_->set_on_record(nullptr);
    runner_ = nullptr;
    std::cout.flush();
  }

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
  SolveRunner* runner_ = nullptr;  // while solve() runs
};

py::dict ToDict(const SolveReport& report) {
  py::list routes = RouteList(report.routes);
  py::dict statistics;
  statistics["solve_time"] = report.solve_time;
  statistics["max_cost"] = report.max_cost;
  statistics["sum_cost"] = report.sum_cost;
  statistics["n_generated"] = report.n_generated;
  statistics["n_expanded"] = report.n_expanded;
  statistics["last_update_time"] = report.last_update_time;
  for (const auto& [name, value] : report.improve_counts) statistics[py::str(name)] = value;
  if (report.improve_start_time >= 0.0) statistics["improve_start_time"] = report.improve_start_time;
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

py::dict SolveJsonStr(const std::string& json_str, double time_limit, const py::object& diagnostics,
                      const py::object& callback) {
  CheckTimeLimit(time_limit);
  CheckCallback(callback);
  Solver* solver = nullptr;
  SolveRunner runner(callback, [&solver] { solver->RequestStop(); });
  std::optional<velmora::ImprovementFilter> filter;
  velmora::SolveHooks hooks;
  hooks.sink = PythonSink(diagnostics);
  hooks.setup = [&](Solver& s, const Problem& problem) {
    solver = &s;
    if (!runner.has_callback()) return;
    filter.emplace(problem.options().objective);
    s.set_on_record([&runner, &filter, &problem](const velmora::AnytimeEntry& entry) {
      const velmora::AnytimePoint point = velmora::PointOf(entry);
      if (!filter->Improves(point)) return false;
      return runner.Deliver([&] { return ImprovementArgument(point, entry, problem); });
    });
  };
  hooks.run_search = [&runner](const std::function<void()>& search) { runner.Run(search); };
  hooks.destroy_solver = [](const std::function<void()>& destroy) {
    py::gil_scoped_release release;
    destroy();
  };
  const SolveReport report = velmora::SolveInstanceText(json_str, time_limit, hooks);
  std::cout.flush();
  return ToDict(report);
}

py::dict SolveJsonFile(const std::filesystem::path& input_path, double time_limit, const py::object& diagnostics,
                       const py::object& callback) {
  CheckTimeLimit(time_limit);
  std::ifstream in(input_path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file: " + input_path.string());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return SolveJsonStr(text, time_limit, diagnostics, callback);
}

}  // namespace

void RegisterSolveEntryPoints(py::module_& m) {
  py::class_<SolverHandle> solver(
      m, "Solver",
      "The search engine for one problem: construct it from a Problem and Options, call solve(), read the "
      "results.",
      py::release_gil_before_calling_cpp_dtor());
  solver
      .def(py::init<const Problem&, const Options&, const py::object&>(), py::arg("problem"), py::arg("options"),
           py::kw_only(), py::arg("diagnostics") = py::none(),
           "Copy `problem` and `options` and set the search up; later changes to either do not reach the "
           "solver.\n\n"
           "diagnostics: None (the solver's console lines go to standard output and standard error), or a "
           "callable receiving each line of this solver (set-up warnings, post-optimizer reports, search "
           "notes) as (stream, line): stream \"stdout\" or \"stderr\", the line without its line break. It is "
           "called with the interpreter lock held, on the thread that runs the solver; what it raises "
           "propagates.")
      .def("solve", &SolverHandle::Solve, py::kw_only(), py::arg("callback") = py::none(),
           "Run the KVT solver. Returns 1 on success, 0 on failure.\n\n"
           "The search ends when it is done, when its budget (Options.time_limit, in processor seconds of the "
           "thread running the search) is spent, or when it is stopped: by stop(), by the callback, or by a "
           "Python signal such as Ctrl-C (noticed within a quarter of a second when solve() runs on the main "
           "thread; solve() then raises what the signal handler raised, KeyboardInterrupt for Ctrl-C). A "
           "stopped search ends as on a spent budget: Result.timeout is True and the best solution found "
           "stays readable through get_result() and get_result_process().\n\n"
           "callback: None, or a callable taking one dict for each anytime entry as it is recorded, in "
           "order: \"time\" (processor seconds since the solve started), \"max_cost\", \"sum_cost\", "
           "\"n_generated\", \"n_expanded\", \"paths\" and \"times\" (as in Result). It runs on the calling "
           "thread with the interpreter lock held while the search waits. A truthy return value stops the "
           "search; an exception raised in it stops the search and propagates from solve().")
      .def("stop", &SolverHandle::Stop,
           "Make a running solve() end as on a spent budget, within a quarter of a second; solve() then "
           "returns normally. Callable from any thread; does nothing when no solve runs.")
      .def("get_result", &SolverHandle::GetResult,
           "A copy of the current Result: the last recorded solution, with last_update_time refreshed. While "
           "solve() runs on another thread this waits for it to end; inside the callback it shows the solver "
           "as of that entry.")
      .def("get_result_process", &SolverHandle::GetResultProcess,
           "The anytime log: one (time, Result) tuple per recorded entry, in recording order, two per "
           "solution (before and after post-optimisation); time is in processor seconds since the solve "
           "started. Waits like get_result().");
  GuardClass(solver);

  m.def("solve_json_file", &SolveJsonFile, py::arg("input_path"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("diagnostics") = py::none(), py::arg("callback") = py::none(),
        "Solve an MTSP instance from a JSON file path.\nReturns a dict with keys: status, routes, statistics, "
        "anytime, timeout.\n\n"
        "input_path: a str, bytes or os.PathLike. time_limit (processor seconds of the thread running the "
        "search), callback and diagnostics: as for solve_json_str; \"solve_time\" is wall-clock seconds.");
  m.def("solve_json_str", &SolveJsonStr, py::arg("json_str"), py::arg("time_limit") = -1.0, py::kw_only(),
        py::arg("diagnostics") = py::none(), py::arg("callback") = py::none(),
        "Solve an MTSP instance from a JSON string.\nReturns a dict with keys: status, routes, statistics, "
        "anytime, timeout.\n\n"
        "time_limit: the budget in processor seconds of the thread running the search when greater than 0, "
        "else the instance's options.time_limit (default 60). math.inf searches until the search ends or is "
        "stopped; NaN raises ValueError. In the result, \"solve_time\" is wall-clock seconds; \"time\" and "
        "\"last_update_time\" are processor seconds since the solve started.\n\n"
        "callback: None, or a callable taking one dict for each entry of \"anytime\" as it is recorded, in "
        "order: \"time\", \"max_cost\", \"sum_cost\", \"n_generated\", \"n_expanded\" and \"routes\" (as in "
        "the result). It runs on the calling thread with the interpreter lock held while the search waits. "
        "A truthy return value stops the search (the result then has \"timeout\" True); an exception raised "
        "in it stops the search and propagates. Ctrl-C stops the search and raises KeyboardInterrupt.\n\n"
        "diagnostics: None (the solver's console lines go to standard output and standard error), or a "
        "callable receiving each line of this solve as (stream, line): stream \"stdout\" or \"stderr\", the "
        "line without its line break; as for Solver. Solves in parallel threads each reach only their own.");
}
