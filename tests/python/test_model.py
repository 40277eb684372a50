"""Value classes, constraints, Problem and Result of _kvt_core."""

import array
import copy
import gc
import math
import pickle
import weakref

import pytest

import _kvt_core as core
from _kvt_core import (
    Agent,
    AssignmentConstraint,
    Node,
    NodeType,
    ObjectiveType,
    Options,
    Position,
    Problem,
    Result,
    Solver,
    TimeWindowConstraint,
)

U64_MAX = 2**64 - 1

DEFAULTS = [
    (Position, "x", 0.0),
    (Position, "y", 0.0),
    (Position, "z", 0.0),
    (Node, "id", 0),
    (Node, "type", NodeType.TARGET),
    (Node, "demand", 0.0),
    (Agent, "id", 0),
    (Agent, "type", ""),
    (Agent, "start_node", 0),
    (Agent, "end_node", 0),
    (Agent, "capacity_limit", 0.0),
    (Agent, "time_limit", 0.0),
    (Options, "return_to_end", True),
    (Options, "objective", ObjectiveType.MinSum),
    (Options, "time_limit", 60.0),
    (Options, "improve", False),
    (Options, "seed", 0),
    (Options, "improve_iterations", 0),
    (Options, "threads", 1),
]


@pytest.mark.parametrize("cls,attr,expected", DEFAULTS)
def test_defaults(cls, attr, expected):
    value = getattr(cls(), attr)
    assert type(value) is type(expected)
    assert value == expected


def test_default_node_position_is_origin():
    pos = Node().position
    assert (pos.x, pos.y, pos.z) == (0.0, 0.0, 0.0)


@pytest.mark.parametrize("cls", [Position, Node, Agent, Options, AssignmentConstraint, TimeWindowConstraint, Problem])
@pytest.mark.parametrize("args,kwargs", [((1,), {}), ((), {"id": 1}), ((None,), {})])
def test_only_no_argument_constructor(cls, args, kwargs):
    with pytest.raises(TypeError, match="incompatible constructor arguments"):
        cls(*args, **kwargs)


# --- properties: accepted values ---------------------------------------------------------

ID_PROPS = [(Node, "id"), (Agent, "id"), (Agent, "start_node"), (Agent, "end_node"), (Options, "seed")]
FLOAT_PROPS = [
    (Position, "x"),
    (Position, "y"),
    (Position, "z"),
    (Node, "demand"),
    (Agent, "capacity_limit"),
    (Agent, "time_limit"),
    (Options, "time_limit"),
]


@pytest.mark.parametrize("cls,attr", ID_PROPS)
@pytest.mark.parametrize("value", [0, 1, 2**32, 2**63, U64_MAX])
def test_id_properties_take_the_full_unsigned_range(cls, attr, value):
    obj = cls()
    setattr(obj, attr, value)
    assert getattr(obj, attr) == value


@pytest.mark.parametrize("cls,attr", FLOAT_PROPS)
@pytest.mark.parametrize(
    "value,expected", [(3, 3.0), (-2, -2.0), (2.5, 2.5), (1e300, 1e300), (float("inf"), float("inf"))]
)
def test_float_properties_accept_int_and_float(cls, attr, value, expected):
    obj = cls()
    setattr(obj, attr, value)
    stored = getattr(obj, attr)
    assert type(stored) is float
    assert stored == expected


@pytest.mark.parametrize("value", [-(2**63), -1, 0, 7, 2**63 - 1])
def test_improve_iterations_takes_the_signed_range(value):
    opts = Options()
    opts.improve_iterations = value
    assert opts.improve_iterations == value


@pytest.mark.parametrize(
    "attr,value",
    [
        ("improve_iterations", 2**63),
        ("improve_iterations", 1.5),
        ("seed", -1),
        ("seed", 2**64),
        ("improve", "yes"),
        ("threads", -1),
        ("threads", 2**32),
        ("threads", 1.5),
    ],
)
def test_improvement_options_refuse_other_values(attr, value):
    with pytest.raises(TypeError):
        setattr(Options(), attr, value)


def test_float_property_keeps_nan():
    node = Node()
    node.demand = float("nan")
    assert math.isnan(node.demand)


@pytest.mark.parametrize(
    "cls,attr,value",
    [
        (Node, "type", NodeType.DEPOT),
        (Node, "type", NodeType(5)),
        (Agent, "type", "truck"),
        (Agent, "type", "Lkw \u00fc \u2014 \U0001f69a"),
        (Options, "return_to_end", False),
        (Options, "objective", ObjectiveType.MinMax),
        (Options, "objective", ObjectiveType(7)),
    ],
)
def test_other_properties_round_trip(cls, attr, value):
    obj = cls()
    setattr(obj, attr, value)
    assert getattr(obj, attr) == value


# --- properties: refused values ----------------------------------------------------------

BAD_VALUES = (
    [(cls, attr, bad) for cls, attr in ID_PROPS for bad in (-1, 2**64, 2**100, 1.5, 1.0, "1", None, [1])]
    + [(cls, attr, bad) for cls, attr in FLOAT_PROPS for bad in ("1.0", None, [1.0], 10**400, Position())]
    + [(Node, "type", bad) for bad in (1, "TARGET", ObjectiveType.MinSum, None)]
    + [(Node, "position", bad) for bad in (None, (1.0, 2.0, 3.0), Node())]
    + [(Agent, "type", bad) for bad in (None, 1, ["a"])]
    + [(Options, "return_to_end", bad) for bad in ("yes", [], Options())]
    + [(Options, "objective", bad) for bad in (0, NodeType.DEPOT, "MinMax", None)]
)


@pytest.mark.parametrize("cls,attr,bad", BAD_VALUES)
def test_wrong_property_value_raises_type_error_and_changes_nothing(cls, attr, bad):
    obj = cls()
    before = getattr(obj, attr)
    if attr == "position":
        before = (before.x, before.y, before.z)
    # The message names the property and the type it takes (not pybind11's bare signature text).
    with pytest.raises(TypeError, match=rf"^{cls.__name__}\.{attr}: expected \S+, got {type(bad).__name__}$"):
        setattr(obj, attr, bad)
    after = getattr(obj, attr)
    if attr == "position":
        after = (after.x, after.y, after.z)
    assert after == before


def test_spelled_out_cases():
    node = Node()
    for bad in (-1, 2**64, 1.5):
        with pytest.raises(TypeError):
            node.id = bad
    assert node.id == 0
    node.demand = 3
    assert node.demand == 3.0 and isinstance(node.demand, float)
    problem = Problem()
    with pytest.raises(TypeError):
        problem.add_agent(Agent(), -1)
    assert problem.agents_ordered() == []


@pytest.mark.parametrize("cls,attr", [(Node, "nope"), (Agent, "speed"), (Options, "objectives")])
def test_unknown_attribute_is_refused(cls, attr):
    with pytest.raises(AttributeError):
        setattr(cls(), attr, 1)


# --- Node.position -----------------------------------------------------------------------


def test_position_reads_refer_into_the_node():
    node = Node()
    node.position.x = 2.0
    node.position.y = -1
    pos = node.position
    pos.z = 7.5
    assert (node.position.x, node.position.y, node.position.z) == (2.0, -1.0, 7.5)


def test_position_assignment_copies():
    node = Node()
    p = Position()
    p.x, p.y, p.z = 1.0, 2.0, 3.0
    node.position = p
    p.x = 99.0
    assert (node.position.x, node.position.y, node.position.z) == (1.0, 2.0, 3.0)
    node.position.y = 5.0
    assert p.y == 2.0


def test_position_keeps_its_node_alive():
    node = Node()
    node.position.x = 4.0
    alive = weakref.ref(node)
    pos = node.position
    del node
    gc.collect()
    assert alive() is not None
    assert pos.x == 4.0
    pos.x = 5.0
    assert alive().position.x == 5.0
    del pos
    gc.collect()
    assert alive() is None


# --- constraints -------------------------------------------------------------------------

SEQUENCES_OF_STR = [
    ["truck", "drone"],
    ("truck", "drone"),
    {"truck"},
    frozenset({"drone"}),
    (t for t in ["a", "b"]),
    {"a": 1, "b": 2}.keys(),
    [],
    ["dup", "dup"],
]


@pytest.mark.parametrize("types", SEQUENCES_OF_STR)
def test_set_assignment_accepts_sequences_of_str(types):
    assert AssignmentConstraint().set_assignment(3, types) is None
    assert AssignmentConstraint().set_assignment(node=U64_MAX, types=types) is None


@pytest.mark.parametrize("types", ["truck", "", b"truck", 5, None, {"a": 1}, ["a", 1], [None], [["a"]]])
def test_set_assignment_refuses_other_types(types):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        AssignmentConstraint().set_assignment(1, types)


@pytest.mark.parametrize("node", [-1, 2**64, 1.0, "1", None])
def test_constraint_node_ids_are_unsigned_64(node):
    with pytest.raises(TypeError):
        AssignmentConstraint().set_assignment(node, ["a"])
    with pytest.raises(TypeError):
        TimeWindowConstraint().set_timewindow(node, 0.0, 1.0)


@pytest.mark.parametrize("start,end", [(0, 10), (5.0, 2.0), (-1.5, float("inf"))])
def test_set_timewindow_accepts_numbers(start, end):
    tw = TimeWindowConstraint()
    assert tw.set_timewindow(1, start, end) is None
    assert tw.set_timewindow(node=2, start=start, end=end) is None


@pytest.mark.parametrize("start,end", [("0", 1.0), (0.0, None), ([0.0], 1.0)])
def test_set_timewindow_refuses_non_numbers(start, end):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        TimeWindowConstraint().set_timewindow(1, start, end)


@pytest.mark.parametrize(
    "call",
    [
        lambda: AssignmentConstraint().set_assignment(nodes=1, types=["a"]),
        lambda: AssignmentConstraint().set_assignment(1, type=["a"]),
        lambda: TimeWindowConstraint().set_timewindow(1, begin=0.0, end=1.0),
        lambda: TimeWindowConstraint().set_timewindow(1, 0.0),
    ],
)
def test_constraint_methods_refuse_wrong_keywords_and_arity(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("cls,attr", [(AssignmentConstraint, "assignments"), (TimeWindowConstraint, "windows")])
def test_constraint_contents_are_not_readable(cls, attr):
    assert not hasattr(cls(), attr)


# --- Problem -----------------------------------------------------------------------------


def make_node(node_id, demand=0.0):
    node = Node()
    node.id = node_id
    node.demand = demand
    return node


def make_agent(agent_id, agent_type="truck"):
    agent = Agent()
    agent.id = agent_id
    agent.type = agent_type
    return agent


def test_fresh_problem():
    p = Problem()
    assert p.nodes() == []
    assert p.agents_ordered() == []
    opts = p.options()
    assert (opts.return_to_end, opts.objective, opts.time_limit) == (True, ObjectiveType.MinSum, 60.0)


def test_add_node_copies_and_keeps_duplicates():
    p = Problem()
    node = make_node(4, 1.5)
    assert p.add_node(node) is None
    p.add_node(node=node)
    node.demand = 9.0
    node.position.x = 3.0
    stored = p.nodes()
    assert [(n.id, n.demand, n.position.x) for n in stored] == [(4, 1.5, 0.0), (4, 1.5, 0.0)]
    assert all(type(n) is Node for n in stored)


def test_add_agent_copies_and_files_every_call():
    p = Problem()
    first = make_agent(3, "truck")
    assert p.add_agent(first, 3) is None
    p.add_agent(agent=make_agent(3, "drone"), id=3)
    p.add_agent(make_agent(42, "truck"), 9)  # filed under 9, keeps its own id field
    first.type = "changed"
    assert [(a.id, a.type) for a in p.agents_ordered()] == [(3, "truck"), (3, "drone"), (42, "truck")]


def test_nodes_returns_a_new_list_whose_elements_write_through():
    p = Problem()
    p.add_node(make_node(1))
    first = p.nodes()
    assert first is not p.nodes()
    first.append(Node())
    first[0].demand = 2.5
    first[0].position.x = -4.0
    first[0].type = NodeType.DEPOT
    again = p.nodes()
    assert len(again) == 1
    assert (again[0].demand, again[0].position.x, again[0].type) == (2.5, -4.0, NodeType.DEPOT)


def test_agents_ordered_elements_write_through():
    p = Problem()
    p.add_agent(make_agent(1), 1)
    p.agents_ordered()[0].time_limit = 12
    p.agents_ordered()[0].type = "drone"
    stored = p.agents_ordered()[0]
    assert (stored.time_limit, stored.type) == (12.0, "drone")


def test_options_refer_into_the_problem():
    p = Problem()
    p.options().objective = ObjectiveType.MinMax
    p.options().time_limit = 5
    opts = p.options()
    opts.return_to_end = False
    again = p.options()
    assert (again.objective, again.time_limit, again.return_to_end) == (ObjectiveType.MinMax, 5.0, False)


@pytest.mark.parametrize(
    "getter",
    [
        lambda p: p.options(),
        lambda p: p.nodes()[0],
        lambda p: p.agents_ordered()[0],
        lambda p: p.nodes()[0].position,
    ],
)
def test_returned_objects_keep_the_problem_alive(getter):
    p = Problem()
    p.add_node(make_node(11, 1.25))
    p.add_agent(make_agent(12, "drone"), 12)
    alive = weakref.ref(p)
    obj = getter(p)
    del p
    gc.collect()
    assert alive() is not None
    # Reads and writes still reach the live record.
    if isinstance(obj, Options):
        assert obj.time_limit == 60.0
        obj.time_limit = 1.0
        assert alive().options().time_limit == 1.0
    elif isinstance(obj, Node):
        assert (obj.id, obj.demand) == (11, 1.25)
        obj.demand = 2.0
        assert alive().nodes()[0].demand == 2.0
    elif isinstance(obj, Agent):
        assert (obj.id, obj.type) == (12, "drone")
        obj.type = "truck"
        assert alive().agents_ordered()[0].type == "truck"
    else:
        obj.z = 8.0
        assert alive().nodes()[0].position.z == 8.0
    del obj
    gc.collect()
    assert alive() is None


def test_list_elements_outlive_the_list_and_the_problem():
    p = Problem()
    for i in range(3):
        p.add_node(make_node(i, float(i)))
    nodes = p.nodes()
    del p
    gc.collect()
    keep = nodes[2]
    del nodes
    gc.collect()
    assert (keep.id, keep.demand) == (2, 2.0)


def test_stale_elements_stay_valid_after_many_appends():
    p = Problem()
    p.add_node(make_node(7, 1.0))
    p.add_agent(make_agent(8, "truck"), 8)
    node = p.nodes()[0]
    pos = node.position
    agent = p.agents_ordered()[0]
    opts = p.options()
    for i in range(600):
        p.add_node(make_node(1000 + i, float(i)))
        p.add_agent(make_agent(1000 + i, "t%d" % (i % 5)), 1000 + i)
    assert (node.id, node.demand) == (7, 1.0)
    assert (agent.id, agent.type) == (8, "truck")
    node.demand = 6.5
    node.id = U64_MAX
    pos.y = 3.0
    agent.type = "drone"
    agent.end_node = 5
    opts.time_limit = 2.0
    nodes = p.nodes()
    agents = p.agents_ordered()
    assert len(nodes) == 601 and len(agents) == 601
    assert (nodes[0].id, nodes[0].demand, nodes[0].position.y) == (U64_MAX, 6.5, 3.0)
    assert (agents[0].type, agents[0].end_node) == ("drone", 5)
    assert p.options().time_limit == 2.0
    # The appended records are intact too.
    assert [(n.id, n.demand) for n in nodes[1:4]] == [(1000, 0.0), (1001, 1.0), (1002, 2.0)]
    assert nodes[-1].id == 1599 and agents[-1].type == "t4"


@pytest.mark.parametrize(
    "matrix",
    [
        [[0.0, 1.0], [1.0, 0.0]],
        ((0, 1), (2, 3)),
        [[0.0], [1.0, 2.0, 3.0], []],
        [],
        (row for row in [[1.0], [2.0]]),
    ],
)
def test_set_cost_matrix_accepts_sequences_of_numbers(matrix):
    p = Problem()
    assert p.set_cost_matrix("truck", matrix) is None
    assert p.set_cost_matrix(agent_type="truck", matrix=[[5.0]]) is None


def _solved_costs(matrix) -> dict:
    """Route costs of a small min-max solve whose only cost matrix is `matrix`."""
    p = Problem()
    for i in range(4):
        node = Node()
        node.id = i
        p.add_node(node)
    agent = Agent()
    agent.type = "t"
    p.add_agent(agent, 0)
    p.set_cost_matrix("t", matrix)
    options = Options()
    options.objective, options.time_limit = ObjectiveType.MinMax, 5.0
    solver = Solver(p, options)
    assert solver.solve() == 1
    return dict(solver.get_result().times)


ROWS = [[0.0, 2.5, 9.0, 4.0], [1.0, 0.0, 3.5, 8.0], [7.0, 2.0, 0.0, 1.5], [3.0, 6.0, 5.0, 0.0]]


def _buffer_matrices():
    """Two-dimensional buffers of doubles holding ROWS, with and without NumPy."""
    flat = array.array("d", [c for row in ROWS for c in row])
    yield "memoryview", memoryview(flat).cast("B").cast("d", [4, 4])
    np = pytest.importorskip("numpy")
    yield "ndarray", np.array(ROWS)
    yield "transposed", np.array(ROWS).T.copy().T  # Fortran order: strided rows
    wide = np.zeros((4, 8))
    wide[:, ::2] = ROWS
    yield "strided", wide[:, ::2]


@pytest.mark.parametrize("case", ["memoryview", "ndarray", "transposed", "strided"])
def test_set_cost_matrix_reads_buffers_like_lists(case):
    matrices = dict(_buffer_matrices())
    assert _solved_costs(matrices[case]) == _solved_costs(ROWS)


def test_set_cost_matrix_converts_other_buffers_cell_by_cell():
    np = pytest.importorskip("numpy")
    whole = [[0, 3, 1, 2], [3, 0, 2, 1], [1, 2, 0, 3], [2, 1, 3, 0]]
    assert _solved_costs(np.array(whole, dtype=np.int64)) == _solved_costs(whole)
    assert _solved_costs(np.array(whole, dtype=np.float32)) == _solved_costs(whole)
    with pytest.raises(TypeError, match="incompatible function arguments: matrix must be"):
        Problem().set_cost_matrix("t", b"ab")
    with pytest.raises(TypeError, match="incompatible function arguments: matrix must be"):
        Problem().set_cost_matrix("t", np.zeros((2, 2, 2)))


@pytest.mark.parametrize(
    "agent_type,matrix",
    [
        (1, [[0.0]]),
        (None, [[0.0]]),
        ("t", "ab"),
        ("t", [[0.0], "ab"]),
        ("t", [["0"]]),
        ("t", [0.0, 1.0]),
        ("t", None),
        ("t", [[None]]),
    ],
)
def test_set_cost_matrix_refuses_wrong_types(agent_type, matrix):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        Problem().set_cost_matrix(agent_type, matrix)


def test_set_constraints_by_position_and_keyword():
    p = Problem()
    ac = AssignmentConstraint()
    ac.set_assignment(1, ["truck"])
    tw = TimeWindowConstraint()
    tw.set_timewindow(1, 0.0, 4.0)
    assert p.set_assignment_constraint(ac) is None
    assert p.set_assignment_constraint(constraint=AssignmentConstraint()) is None
    assert p.set_timewindow_constraint(tw) is None
    assert p.set_timewindow_constraint(constraint=tw) is None


PROBLEM_BAD_CALLS = [
    ("add_node", (None,), {}),
    ("add_node", (Agent(),), {}),
    ("add_node", (), {"nodes": Node()}),
    ("add_agent", (Agent(),), {}),
    ("add_agent", (Node(), 1), {}),
    ("add_agent", (Agent(), 2**64), {}),
    ("add_agent", (Agent(), 1.0), {}),
    ("add_agent", (Agent(), "1"), {}),
    ("add_agent", (), {"agent": Agent(), "agent_id": 1}),
    ("set_assignment_constraint", (TimeWindowConstraint(),), {}),
    ("set_assignment_constraint", ({1: ["a"]},), {}),
    ("set_timewindow_constraint", (AssignmentConstraint(),), {}),
    ("set_timewindow_constraint", (None,), {}),
    ("options", (1,), {}),
    ("nodes", (), {"x": 1}),
    ("agents_ordered", (0,), {}),
]


@pytest.mark.parametrize("method,args,kwargs", PROBLEM_BAD_CALLS)
def test_problem_bad_calls_raise_type_error_and_change_nothing(method, args, kwargs):
    p = Problem()
    p.add_node(make_node(1))
    p.add_agent(make_agent(1), 1)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        getattr(p, method)(*args, **kwargs)
    assert [n.id for n in p.nodes()] == [1]
    assert [a.id for a in p.agents_ordered()] == [1]


# --- Result ------------------------------------------------------------------------------


def test_result_has_no_constructor():
    with pytest.raises(TypeError) as info:
        Result()
    assert str(info.value) == "_kvt_core.Result: No constructor defined!"


@pytest.mark.parametrize("name", ["n_generated", "n_expanded", "timeout", "last_update_time", "paths", "times"])
def test_result_properties_are_read_only(name):
    prop = vars(Result)[name]
    assert isinstance(prop, property)
    assert prop.fget is not None
    assert prop.fset is None


# --- objects that never got their native value ------------------------------------------


@pytest.mark.parametrize("cls", [Position, Node, Agent, Options, AssignmentConstraint, TimeWindowConstraint, Problem])
def test_bare_new_gives_a_default_object(cls):
    obj = cls.__new__(cls)
    assert type(obj) is cls
    if cls is Problem:
        assert obj.nodes() == [] and obj.options().time_limit == 60.0
    elif cls is Agent:
        assert obj.type == "" and obj.id == 0
    elif cls is Node:
        assert obj.id == 0 and obj.type == NodeType.TARGET
    elif cls is Position:
        assert (obj.x, obj.y, obj.z) == (0.0, 0.0, 0.0)
    elif cls is Options:
        assert obj.time_limit == 60.0
    obj.__init__()  # a second initialisation leaves the object as it is
    assert type(obj) is cls


def test_bare_new_of_result_is_refused():
    with pytest.raises(TypeError) as info:
        Result.__new__(Result)
    assert str(info.value) == "_kvt_core.Result: No constructor defined!"


@pytest.mark.parametrize("target", [int, Agent, 5, None])
def test_new_refuses_foreign_types(target):
    with pytest.raises(TypeError):
        Node.__new__(target)


def test_python_subclass_gets_a_constructed_base():
    class Depot(Node):
        def __init__(self, node_id):
            super().__init__()
            self.id = node_id
            self.type = NodeType.DEPOT

    depot = Depot(9)
    assert (depot.id, depot.type, depot.demand) == (9, NodeType.DEPOT, 0.0)
    p = Problem()
    p.add_node(depot)
    assert p.nodes()[0].id == 9
    bare = Depot.__new__(Depot)
    assert bare.id == 0


@pytest.mark.parametrize(
    "factory",
    [
        Position,
        Node,
        Agent,
        Options,
        AssignmentConstraint,
        TimeWindowConstraint,
        Problem,
        lambda: Problem().options(),
        lambda: Node().position,
    ],
)
@pytest.mark.parametrize(
    "how",
    [
        *[(lambda obj, p=p: pickle.dumps(obj, p)) for p in range(pickle.HIGHEST_PROTOCOL + 1)],
        copy.copy,
        copy.deepcopy,
        lambda obj: obj.__reduce__(),
        lambda obj: obj.__reduce_ex__(0),
    ],
)
def test_model_objects_refuse_pickling_and_copying(factory, how):
    obj = factory()
    with pytest.raises(TypeError) as info:
        how(obj)
    assert str(info.value) == "cannot pickle '_kvt_core.%s' object" % type(obj).__name__


@pytest.mark.parametrize(
    "make, name, value, text",
    [
        (core.Node, "id", "x", "Node.id: expected int, got str"),
        (core.Node, "demand", "heavy", "Node.demand: expected float, got str"),
        (core.Node, "type", 3, "Node.type: expected _kvt_core.NodeType, got int"),
        (core.Agent, "start_node", 1.5, "Agent.start_node: expected int, got float"),
        (core.Agent, "type", None, "Agent.type: expected str, got NoneType"),
        (core.Options, "time_limit", "soon", "Options.time_limit: expected float, got str"),
        (core.Options, "objective", 1, "Options.objective: expected _kvt_core.ObjectiveType, got int"),
        (core.Options, "improve", "yes", "Options.improve: expected bool, got str"),
    ],
)
def test_a_wrong_type_names_the_property_and_its_type(make, name, value, text):
    obj = make()
    before = getattr(obj, name)
    with pytest.raises(TypeError) as caught:
        setattr(obj, name, value)
    assert str(caught.value) == text
    assert getattr(obj, name) == before
