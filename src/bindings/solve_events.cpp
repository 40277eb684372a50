#include "bindings/solve_events.hpp"

#include <pybind11/stl.h>

namespace py = pybind11;

py::dict RecordArgument(const velmora::AnytimeEntry& entry) {
  const velmora::AnytimePoint point = velmora::PointOf(entry);
  py::dict out;
  out["time"] = entry.time;
  out["max_cost"] = point.max_cost;
  out["sum_cost"] = point.sum_cost;
  out["n_generated"] = entry.result.n_generated;
  out["n_expanded"] = entry.result.n_expanded;
  out["paths"] = py::cast(entry.result.paths);
  out["times"] = py::cast(entry.result.times);
  return out;
}

py::dict ImprovementArgument(const velmora::AnytimePoint& point, const velmora::AnytimeEntry& entry,
                             const velmora::Problem& problem) {
  py::dict out;
  out["time"] = point.time;
  out["max_cost"] = point.max_cost;
  out["sum_cost"] = point.sum_cost;
  out["n_generated"] = entry.result.n_generated;
  out["n_expanded"] = entry.result.n_expanded;
  out["routes"] = RouteList(velmora::ReportRoutes(problem, entry.result));
  return out;
}

py::list RouteList(const std::vector<velmora::RouteReport>& routes) {
  py::list out;
  for (const velmora::RouteReport& r : routes) {
    py::dict route;
    route["agent_id"] = r.agent_id;
    route["path"] = py::cast(r.path);
    route["cost"] = r.cost;
    out.append(route);
  }
  return out;
}
