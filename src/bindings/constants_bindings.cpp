#include "bindings/constants_bindings.hpp"

#include "core/constants.hpp"
#include "model/options.hpp"

namespace py = pybind11;

void RegisterConstants(py::module_& m) {
  // The cost of an arc no matrix cell gives.
  m.attr("MISSING_COST") = velmora::kMissingCost;
  // Nodes a solve takes with improvement off, and with it on.
  m.attr("MAX_NODES") = velmora::kMaxNodes;
  m.attr("MAX_IMPROVE_NODES") = velmora::kMaxImproveNodes;
  // The budget of a document without options.time_limit, in processor seconds.
  m.attr("DEFAULT_TIME_LIMIT") = velmora::Options{}.time_limit;
}
