#pragma once

#include <pybind11/pybind11.h>

// Adds the engine's limits and defaults to the module as plain values: MISSING_COST,
// MAX_NODES, MAX_IMPROVE_NODES and DEFAULT_TIME_LIMIT, so that Python code reads them from the
// engine instead of keeping copies.
void RegisterConstants(pybind11::module_& m);
