#pragma once

#include <pybind11/pybind11.h>

// Registers the problem model with the module: ObjectiveType, NodeType, Position, Node, Agent,
// Options, AssignmentConstraint, TimeWindowConstraint, Problem and Result, in that order.
void RegisterModel(pybind11::module_& m);
