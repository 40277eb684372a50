"""The focal search (improve off) finds a solution whenever one exists.

Small random instances with integer travel times 0-4 (zero-cost arcs make many states tie) are
solved by the focal search alone and by an exhaustive enumeration of every route set; the search must
succeed exactly when the enumeration does, and its routes must validate."""

from __future__ import annotations

import json
import random

import pytest

import _kvt_core as core
from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import time_route, validate_result


def random_doc(seed: int, *, symmetric: bool, windows: bool, return_to_end: bool, types: bool = False) -> dict:
    rng = random.Random(seed)
    n = rng.randint(3, 7)
    m = rng.randint(1, 3)
    cost = [[0 if i == j else rng.randint(0, 4) for j in range(n)] for i in range(n)]
    if symmetric:
        cost = [[cost[min(i, j)][max(i, j)] for j in range(n)] for i in range(n)]
    depots = [0] if rng.random() < 0.7 or n < 5 else [0, 1]
    agents = []
    for k in range(m):
        start = depots[k % len(depots)]
        agents.append({"id": k, "type": "b" if types and k % 2 else "a", "start_node": start, "end_node": start})
    doc = {
        "nodes": [{"id": i, "x": i, "y": 0} for i in range(n)],
        "agents": agents,
        "costs": {"a": cost},
        "constraints": [],
        "options": {"objective": rng.choice(["min_max", "min_sum"]), "return_to_end": return_to_end},
    }
    if types and m > 1:
        doc["costs"]["b"] = [[0 if i == j else rng.randint(0, 4) for j in range(n)] for i in range(n)]
        items = [{"node": i, "types": rng.choice([["a"], ["b"], ["a", "b"]])} for i in range(n)]
        doc["constraints"].append({"kind": "assignment", "items": items})
    if windows:
        items = []
        for i in range(n):
            if i not in depots and rng.random() < 0.6:
                start = rng.randint(0, 6)
                items.append({"node": i, "start": start, "end": start + rng.randint(0, 5)})
        doc["constraints"].append({"kind": "timewindow", "items": items})
    if rng.random() < 0.3:
        agents[0]["max_length"] = rng.randint(4, 12)
    return doc


def feasible(instance: Instance) -> bool:
    """Whether some route set serves every target: depth-first over the routes, agent by agent."""
    agents = instance.agents
    depots = instance.depot_ids()
    targets = [node.id for node in instance.nodes if node.id not in depots]

    def may_serve(agent, v) -> bool:
        types = instance.assignments.get(v)
        return types is None or agent.type in types

    def extend(k: int, path: list[int], left: frozenset) -> bool:
        agent = agents[k]
        closing = agent.end_node if instance.return_to_end else agent.start_node
        closed = path + [closing]
        if not time_route(instance, agent, closed).violations:
            if not left or (k + 1 < len(agents) and extend(k + 1, [agents[k + 1].start_node], left)):
                return True
        for v in sorted(left):
            if not may_serve(agent, v):
                continue
            longer = path + [v]
            if time_route(instance, agent, longer).violations:
                continue  # windows and limits only get worse further on
            if extend(k, longer, left - {v}):
                return True
        return False

    return extend(0, [agents[0].start_node], frozenset(targets))


FAMILIES = [
    # (symmetric, windows, return_to_end, types)
    (False, False, True, False),
    (True, False, True, False),
    (False, True, True, False),
    (True, True, False, False),
    (False, False, False, False),
    (False, True, True, True),
    (False, True, False, True),
]


@pytest.mark.parametrize("symmetric, windows, return_to_end, types", FAMILIES)
def test_focal_search_succeeds_whenever_a_solution_exists(symmetric, windows, return_to_end, types):
    found = 0
    for seed in range(250):
        doc = random_doc(seed, symmetric=symmetric, windows=windows, return_to_end=return_to_end, types=types)
        instance = Instance.from_document(doc)
        result = core.solve_json_str(json.dumps(doc), 5.0, diagnostics=lambda stream, text: None)
        exists = feasible(instance)
        assert (result["status"] == "success") == exists, (seed, doc, result["status"])
        if exists:
            found += 1
            assert validate_result(instance, result) == [], (seed, doc)
            assert not result["timeout"]
    # Most instances have a solution, some do not: neither answer is vacuous.
    assert 75 <= found < 250


def test_three_node_zero_cost_instance():
    doc = {
        "nodes": [{"id": i, "x": i, "y": 0} for i in range(3)],
        "agents": [{"id": k, "type": "a", "start_node": 0, "end_node": 0} for k in range(2)],
        "costs": {"a": [[0, 0, 10], [10, 0, 14], [10, 0, 0]]},
        "options": {"objective": "min_max"},
    }
    lines: list[tuple[str, str]] = []
    result = core.solve_json_str(json.dumps(doc), 5.0, diagnostics=lambda s, t: lines.append((s, t)))
    assert result["status"] == "success"
    assert [r["path"] for r in result["routes"]] == [[0, 0], [0, 2, 1, 0]]
    assert [r["cost"] for r in result["routes"]] == [0.0, 20.0]
    assert validate_result(Instance.from_document(doc), result) == []
    assert ("stdout", "w = 1") not in lines


@pytest.mark.parametrize(
    "value, text",
    [
        (float("nan"), "cost matrix of agent type 'a' holds a value that is not a number at (1, 2)"),
        (float("-inf"), "cost matrix of agent type 'a' holds minus infinity at (1, 2)"),
    ],
)
def test_a_cost_that_no_sum_survives_is_refused_at_construction(value, text):
    problem = core.Problem()
    for i in range(3):
        node = core.Node()
        node.id = i
        problem.add_node(node)
    agent = core.Agent()
    agent.id, agent.type, agent.start_node, agent.end_node = 0, "a", 0, 0
    problem.add_agent(agent, 0)
    problem.set_cost_matrix("a", [[0.0, 1.0, 1.0], [1.0, 0.0, value], [1.0, 1.0, 0.0]])
    with pytest.raises(ValueError) as caught:
        core.Solver(problem, core.Options())
    assert str(caught.value) == text
