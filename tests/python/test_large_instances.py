"""Instances beyond the focal search's 256 nodes: solved by the improvement alone, refused without it."""

from __future__ import annotations

import array
import json
import math
import random

import pytest

import _kvt_core as core
from routecheck import check_solution

RESULT_KEYS = ["status", "timeout", "routes", "statistics", "anytime"]
REFUSED_WITHOUT_IMPROVE = "the problem has {n} nodes; the solver handles at most 256 (up to 2000 with improve on)"
REFUSED_WITH_IMPROVE = "the problem has {n} nodes; the solver handles at most 2000 with improve on"


def points(n, seed):
    rng = random.Random(seed)
    return [(rng.uniform(0, 1000), rng.uniform(0, 1000)) for _ in range(n)]


def euclid(pts, speed=1.0):
    return [[round(math.dist(a, b) / speed) for b in pts] for a in pts]


def large_doc(
    n=300,
    agents=4,
    objective="min_max",
    return_to_end=True,
    two_types=False,
    windows=False,
    limit=None,
    distinct_ends=False,
    seed=5,
    iterations=30,
):
    pts = points(n, seed)
    ends = 1 if distinct_ends else 0
    doc = {
        "nodes": [
            {"id": i, "x": x, "y": y, **({"type": "depot"} if i in (0, ends) else {})} for i, (x, y) in enumerate(pts)
        ],
        "agents": [
            {
                "id": k,
                "type": "drone" if two_types and k % 3 == 2 else "truck",
                "start_node": 0,
                "end_node": ends,
                **({"max_length": limit} if limit else {}),
            }
            for k in range(agents)
        ],
        "costs": {"truck": euclid(pts)},
        "options": {
            "objective": objective,
            "return_to_end": return_to_end,
            "time_limit": 20.0,
            "improve": True,
            "seed": 1,
            "improve_iterations": iterations,
        },
    }
    if two_types:
        doc["costs"]["drone"] = euclid(pts, 2.0)
        doc["constraints"] = [
            {
                "kind": "assignment",
                "items": [{"node": i, "types": ["truck"] if i % 5 == 0 else ["truck", "drone"]} for i in range(n)],
            }
        ]
    if windows:
        doc.setdefault("constraints", []).append(
            {"kind": "timewindow", "items": [{"node": i, "start": 0.0, "end": 1e6} for i in range(10, n, 10)]}
        )
    return doc


def solve(doc):
    return core.solve_json_str(json.dumps(doc), -1.0)


SHAPES = {
    "min_max": {},
    "min_sum": {"objective": "min_sum", "agents": 3},
    "open_routes_distinct_ends": {"return_to_end": False, "distinct_ends": True, "n": 320},
    "two_types_windows_limits": {"two_types": True, "windows": True, "limit": 40000, "agents": 6},
}


@pytest.mark.parametrize("shape", SHAPES)
def test_improve_solves_beyond_256_nodes_with_valid_routes(shape):
    doc = large_doc(**SHAPES[shape])
    result = solve(doc)
    assert list(result) == RESULT_KEYS
    assert result["status"] == "success"
    assert [r["agent_id"] for r in result["routes"]] == [a["id"] for a in doc["agents"]]
    check_solution(doc, result)
    costs = [r["cost"] for r in result["routes"]]
    assert result["statistics"]["max_cost"] == pytest.approx(max(costs))
    assert result["statistics"]["sum_cost"] == pytest.approx(sum(costs))
    # The anytime curve improves strictly and ends at the result.
    values = [
        entry["max_cost" if doc["options"]["objective"] == "min_max" else "sum_cost"] for entry in result["anytime"]
    ]
    assert values and all(b < a for a, b in zip(values, values[1:]))


def test_same_seed_and_iterations_give_the_same_routes():
    doc = large_doc(n=280, agents=3, iterations=20)
    assert [r["path"] for r in solve(doc)["routes"]] == [r["path"] for r in solve(doc)["routes"]]


def bare_problem(n, agents=1):
    problem = core.Problem()
    for i in range(n):
        node = core.Node()
        node.id = i
        problem.add_node(node)
    for k in range(agents):
        agent = core.Agent()
        agent.id = k
        agent.type = "truck"
        problem.add_agent(agent, k)
    return problem


def improving(on):
    options = core.Options()
    options.improve = on
    options.improve_iterations = 10
    return options


@pytest.mark.parametrize(
    "n, improve, refusal",
    [
        (256, False, None),
        (257, False, REFUSED_WITHOUT_IMPROVE),
        (257, True, None),
        (2000, True, None),
        (2001, True, REFUSED_WITH_IMPROVE),
    ],
)
def test_node_limits(n, improve, refusal):
    problem = bare_problem(n)
    if refusal is None:
        core.Solver(problem, improving(improve), diagnostics=lambda stream, line: None)
    else:
        with pytest.raises(ValueError) as err:
            core.Solver(problem, improving(improve), diagnostics=lambda stream, line: None)
        assert str(err.value) == refusal.format(n=n)


@pytest.mark.parametrize(
    "n, improve, refusal", [(257, False, REFUSED_WITHOUT_IMPROVE), (2001, True, REFUSED_WITH_IMPROVE)]
)
def test_json_entry_refuses_with_the_same_message(n, improve, refusal):
    doc = {
        "nodes": [{"id": i, "x": 0.0, "y": 0.0} for i in range(n)],
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": [[0.0]]},
        "options": {"improve": improve},
    }
    with pytest.raises(ValueError) as err:
        solve(doc)
    assert str(err.value) == refusal.format(n=n)


def test_solver_reads_a_buffer_matrix_and_solves_300_nodes():
    pts = points(300, 9)
    problem = bare_problem(300, agents=3)
    flat = array.array("d", (round(math.dist(a, b), 1) for a in pts for b in pts))
    problem.set_cost_matrix("truck", memoryview(flat).cast("B").cast("d", [300, 300]))
    options = improving(True)
    options.objective = core.ObjectiveType.MinMax
    solver = core.Solver(problem, options, diagnostics=lambda stream, line: None)
    assert solver.solve() == 1
    result = solver.get_result()
    served = sorted(v for path in result.paths.values() for v in path if v != 0)
    assert served == list(range(1, 300))
    for k, path in result.paths.items():
        assert path[0] == 0 and path[-1] == 0
        cost = sum(flat[u * 300 + v] for u, v in zip(path, path[1:]) if u != v)
        assert result.times[k] == pytest.approx(cost, abs=1e-6)
    assert solver.get_result_process()
