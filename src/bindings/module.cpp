#include <pybind11/pybind11.h>

#include "bindings/constants_bindings.hpp"
#include "bindings/model_bindings.hpp"
#include "bindings/solve_bindings.hpp"

PYBIND11_MODULE(_kvt_core, m) {
  m.doc() = "KVT MTSP Solver — C++ core bindings";
  RegisterModel(m);
  RegisterSolveEntryPoints(m);
  RegisterConstants(m);
}
