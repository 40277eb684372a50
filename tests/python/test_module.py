"""Module-level surface of _kvt_core: docstring, registration order, what is (not) exported."""

import inspect

import pytest

import _kvt_core

MODEL_NAMES = [
    "ObjectiveType",
    "NodeType",
    "Position",
    "Node",
    "Agent",
    "Options",
    "AssignmentConstraint",
    "TimeWindowConstraint",
    "Problem",
    "Result",
]
SOLVE_NAMES = ["Solver", "solve_json_file", "solve_json_str"]
# The engine's limits and defaults, so that the Python package reads them instead of copying them.
CONSTANTS = {"MISSING_COST": 9999.0, "MAX_NODES": 256, "MAX_IMPROVE_NODES": 2000, "DEFAULT_TIME_LIMIT": 60.0}


def public_names():
    return [name for name in vars(_kvt_core) if not name.startswith("_")]


def test_module_docstring_exact():
    assert _kvt_core.__doc__ == "KVT MTSP Solver \u2014 C++ core bindings"


def test_registration_order_and_nothing_else():
    names = public_names()
    assert names[: len(MODEL_NAMES)] == MODEL_NAMES
    # The solve entry points follow the model, all three in order, then the engine's constants.
    assert names[len(MODEL_NAMES) :] == SOLVE_NAMES + list(CONSTANTS)


@pytest.mark.parametrize("name", sorted(CONSTANTS))
def test_constants_are_the_engines(name):
    value = getattr(_kvt_core, name)
    assert (type(value), value) == (type(CONSTANTS[name]), CONSTANTS[name])


@pytest.mark.parametrize("name", ["MinMax", "MinSum", "DEPOT", "TARGET"])
def test_enum_members_not_exported(name):
    assert not hasattr(_kvt_core, name)


@pytest.mark.parametrize("name", MODEL_NAMES)
def test_model_types_are_classes_of_the_module(name):
    cls = getattr(_kvt_core, name)
    assert inspect.isclass(cls)
    assert cls.__module__ == "_kvt_core"
    assert cls.__qualname__ == name


CLASS_MEMBERS = {
    "Position": ["x", "y", "z"],
    "Node": ["demand", "id", "position", "type"],
    "Agent": ["capacity_limit", "end_node", "id", "start_node", "time_limit", "type"],
    "Options": [
        "enforce_capacity",
        "enforce_precedence",
        "improve",
        "improve_iterations",
        "objective",
        "return_to_end",
        "seed",
        "threads",
        "time_limit",
    ],
    "AssignmentConstraint": ["set_assignment"],
    "TimeWindowConstraint": ["set_timewindow"],
    "Problem": [
        "add_agent",
        "add_node",
        "agents_ordered",
        "nodes",
        "options",
        "set_assignment_constraint",
        "set_cost_matrix",
        "set_timewindow_constraint",
    ],
    "Result": ["last_update_time", "n_expanded", "n_generated", "paths", "timeout", "times"],
}


@pytest.mark.parametrize("name", sorted(CLASS_MEMBERS))
def test_public_members_exact(name):
    cls = getattr(_kvt_core, name)
    assert sorted(a for a in dir(cls) if not a.startswith("_")) == CLASS_MEMBERS[name]


@pytest.mark.parametrize("name", ["Problem", "AssignmentConstraint", "TimeWindowConstraint"])
def test_methods_are_not_properties(name):
    cls = getattr(_kvt_core, name)
    for member in CLASS_MEMBERS[name]:
        assert not isinstance(inspect.getattr_static(cls, member), property), member
