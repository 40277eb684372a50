"""The package's reader (`kvt_mtsp.instance.read_instance`) against the engine's own reading of the
same documents: a `_kvt_core.Problem` built from what Python read must solve exactly as the engine
solves the JSON text, for documents that use every conversion the reader applies (ids, 32-bit
limits, objectives, list sections given as objects, matrices given as an array, shared ids, time
windows, assignments, closing of routes)."""

from __future__ import annotations

import copy
import json
import math

import pytest

import _kvt_core as core
from kvt_mtsp.instance import Instance, read_instance

POINTS = [(0, 0), (3, 0), (0, 3), (-3, 0), (0, -4)]


def base() -> dict:
    """One depot at the centre of four customers, two trucks; an arc costs the distance, 0.25 more
    away from the depot's side (i < j)."""
    n = len(POINTS)
    return {
        "nodes": [{"id": 0, "x": 0, "y": 0, "type": "depot"}]
        + [{"id": i, "x": x, "y": y} for i, (x, y) in enumerate(POINTS) if i],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(2)],
        "costs": {
            "truck": [[math.dist(POINTS[i], POINTS[j]) + (0.25 if i < j else 0.0) for j in range(n)] for i in range(n)]
        },
        "options": {"objective": "min_sum", "time_limit": 5},
    }


def changed(change) -> dict:
    doc = base()
    change(doc)
    return doc


def add_van(doc: dict, **extra) -> None:
    doc["agents"].append({"id": 2, "type": "van", "start_node": 0, "end_node": 0, **extra})
    doc["costs"]["van"] = [[0.5 * c for c in row] for row in doc["costs"]["truck"]]


def window(doc: dict, node, start, end) -> None:
    doc.setdefault("constraints", []).append(
        {"kind": "timewindow", "items": [{"node": node, "start": start, "end": end}]}
    )


DOCUMENTS = {
    "base": lambda d: None,
    "min_max": lambda d: d["options"].update(objective="min_max"),
    "MinMax reads as min_sum": lambda d: d["options"].update(objective="MinMax"),
    "MIN_MAX": lambda d: d["options"].update(objective="MIN_MAX"),
    "fractional and boolean ids": lambda d: (
        d["nodes"][1].update(id=7.9),
        d["nodes"][2].update(id=True),
        d["agents"][1].update(id=False),
        d["agents"][0].update(id=-2),
    ),
    "negative node id as reference": lambda d: (
        d["nodes"][0].update(id=-1),
        [a.update(start_node=-1, end_node=18446744073709551615) for a in d["agents"]],
    ),
    "max_length truncated to 32 bits": lambda d: [a.update(max_length=13.9) for a in d["agents"]],
    "max_length wrapping to 0": lambda d: [a.update(max_length=2**32) for a in d["agents"]],
    "nodes as an object": lambda d: d.update(nodes={k: n for k, n in zip("bdace", d["nodes"])}),
    "agents and constraints as objects": lambda d: (
        d.update(agents={"z": d["agents"][0], "a": d["agents"][1]}),
        d.update(constraints={"x": {"kind": "assignment", "items": {"q": {"node": 3, "types": ["truck"]}}}}),
    ),
    "matrices as an array": lambda d: (
        d.update(costs=[d["costs"]["truck"]]),
        [a.update(type="0") for a in d["agents"]],
    ),
    "shared agent id takes the last type": lambda d: (add_van(d), d["agents"][2].update(id=0)),
    "assignment": lambda d: (
        add_van(d),
        d.update(constraints=[{"kind": "assignment", "items": [{"node": 2, "types": ["truck"]}]}]),
    ),
    "assignment replaced": lambda d: (
        add_van(d),
        d.update(
            constraints=[
                {"kind": "assignment", "items": [{"node": 2, "types": ["van"]}]},
                {"kind": "assignment", "items": [{"node": 2, "types": ["truck"]}]},
            ]
        ),
    ),
    "time windows": lambda d: (window(d, 4, 7.0, 7.5), window(d, 1, 0, 3.5)),
    "inverted window": lambda d: window(d, 2, 9.0, 8.0),
    "open routes": lambda d: (
        d["options"].update(return_to_end=False),
        d["nodes"].append({"id": 5, "x": 9, "y": 9, "type": "depot"}),
        [row.append(4.0) for row in d["costs"]["truck"]],
        d["costs"]["truck"].append([4.0] * 6),
        d["agents"][1].update(end_node=5),
    ),
    "short rows cost the missing arc": lambda d: [row.pop() for row in d["costs"]["truck"][1:3]],
    "duplicate node id": lambda d: d["nodes"][3].update(id=2),
    "unknown kinds and keys ignored": lambda d: (
        d.update(constraints=[{"kind": "Assignment", "items": [{"node": 2, "types": []}]}]),
        d["agents"][0].update(max_lenght=1),
    ),
}


def problem_of(instance: Instance) -> tuple[core.Problem, core.Options]:
    """The engine's model of what the Python reader read."""
    problem = core.Problem()
    for node in instance.nodes:
        record = core.Node()
        record.id = node.id
        record.position.x, record.position.y = node.x, node.y
        record.type = core.NodeType.DEPOT if node.depot else core.NodeType.TARGET
        problem.add_node(record)
    for agent in instance.agents:
        record = core.Agent()
        record.id, record.type = agent.id, agent.type
        record.start_node, record.end_node = agent.start_node, agent.end_node
        record.time_limit = float(agent.max_length)
        problem.add_agent(record, agent.id)
    for name, rows in instance.costs.items():
        problem.set_cost_matrix(name, [list(row) for row in rows])
    assignment = core.AssignmentConstraint()
    for node_id, types in instance.assignments.items():
        assignment.set_assignment(node_id, types)
    problem.set_assignment_constraint(assignment)
    windows = core.TimeWindowConstraint()
    for node_id, (start, end) in instance.windows.items():
        windows.set_timewindow(node_id, start, end)
    problem.set_timewindow_constraint(windows)
    options = core.Options()
    options.objective = core.ObjectiveType.MinMax if instance.objective == "min_max" else core.ObjectiveType.MinSum
    options.return_to_end = instance.return_to_end
    options.time_limit = instance.time_limit
    return problem, options


@pytest.mark.parametrize("name", sorted(DOCUMENTS))
def test_the_engine_solves_what_python_read_as_it_solves_the_text(name):
    doc = changed(DOCUMENTS[name])
    reading = read_instance(copy.deepcopy(doc))
    assert not reading.refused, reading.findings
    instance = reading.instance
    from_text = core.solve_json_str(json.dumps(doc))
    assert from_text["timeout"] is False  # the search ran to its end: the answer is the optimum it found
    problem, options = problem_of(instance)
    solver = core.Solver(problem, options)
    solver.solve()
    result = solver.get_result()
    ids = [node.id for node in instance.nodes]
    routes = [
        {
            "agent_id": agent.id,
            "path": [ids[i] for i in result.paths.get(k, [])],
            "cost": pytest.approx(result.times.get(k, 0.0), abs=1e-9),
        }
        for k, agent in enumerate(instance.agents)
    ]
    assert from_text["routes"] == routes
    assert [a["agent_id"] for a in from_text["routes"]] == [a.id for a in instance.agents]


def test_the_documents_use_the_conversions_they_are_named_for():
    # Guards the table above: each document reads differently from the base in the way named.
    read = {name: read_instance(changed(change)).instance for name, change in DOCUMENTS.items()}
    assert [n.id for n in read["fractional and boolean ids"].nodes] == [0, 7, 1, 3, 4]
    assert [a.id for a in read["fractional and boolean ids"].agents] == [2**64 - 2, 0]
    assert [a.max_length for a in read["max_length truncated to 32 bits"].agents] == [13, 13]
    assert [a.max_length for a in read["max_length wrapping to 0"].agents] == [0, 0]
    assert [n.id for n in read["nodes as an object"].nodes] == [2, 0, 3, 1, 4]
    assert read["MinMax reads as min_sum"].objective == "min_sum"
    assert read["MIN_MAX"].objective == "min_max"
    assert [a.type for a in read["shared agent id takes the last type"].agents] == ["van", "truck", "van"]
    assert read["assignment replaced"].assignments == {2: ["truck"]}
    assert read["agents and constraints as objects"].assignments == {3: ["truck"]}
    assert read["duplicate node id"].index_of(2) == 3
    assert read["time windows"].time_limit == 5.0
