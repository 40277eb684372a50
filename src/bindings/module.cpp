#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(_kvt_core, m) { m.doc() = "KVT MTSP Solver — C++ core bindings"; }
