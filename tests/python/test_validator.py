"""The result validator (kvt_mtsp.validate): every violation named, open routes, missing matrix cells."""

from __future__ import annotations

import copy
import json

import pytest

from cli_support import run, write
from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import validate_result

# --- validate ----------------------------------------------------------------------------------------

# Nodes on a grid with Manhattan costs. Agent 0 (truck) lives at node 0, agent 1 (drone) at node 5.
#   0 (0,0) depot, 1 (2,0) trucks only, 2 (4,0) window [0, 5], 3 (0,3) window [10, 20], 4 (0,6), 5 (6,6) depot
POINTS = [(0, 0), (2, 0), (4, 0), (0, 3), (0, 6), (6, 6)]
MANHATTAN = [[float(abs(a[0] - b[0]) + abs(a[1] - b[1])) for b in POINTS] for a in POINTS]
GRID = {
    "nodes": [
        {"id": i, "x": x, "y": y, **({"type": "depot"} if i in (0, 5) else {})} for i, (x, y) in enumerate(POINTS)
    ],
    "agents": [
        {"id": 0, "type": "truck", "start_node": 0, "end_node": 0},
        {"id": 1, "type": "drone", "start_node": 5, "end_node": 5, "max_length": 25},
    ],
    "costs": {"truck": MANHATTAN, "drone": MANHATTAN},
    "constraints": [
        {"kind": "assignment", "items": [{"node": 1, "types": ["truck"]}]},
        {"kind": "timewindow", "items": [{"node": 2, "start": 0, "end": 5}, {"node": 3, "start": 10, "end": 20}]},
    ],
    "options": {"objective": "min_max"},
}


def grid_result(paths=([0, 1, 2, 0], [5, 4, 3, 5]), costs=(8.0, 19.0)):
    # Route 1 arrives at node 3 at 9 and waits for its window to open at 10.
    return {
        "status": "success",
        "timeout": False,
        "routes": [{"agent_id": k, "path": list(p), "cost": c} for k, (p, c) in enumerate(zip(paths, costs))],
        "statistics": {
            "solve_time": 0.1,
            "max_cost": max(costs),
            "sum_cost": sum(costs),
            "n_generated": 9,
            "n_expanded": 3,
            "last_update_time": 0.0,
        },
        "anytime": [],
    }


def tampered(**routes):
    """The valid result with some routes replaced by (path, cost); statistics follow."""
    paths, costs = [[0, 1, 2, 0], [5, 4, 3, 5]], [8.0, 19.0]
    for key, (path, cost) in routes.items():
        k = int(key[1:])
        paths[k], costs[k] = path, cost
    return grid_result(paths, costs)


def edit(result, change):
    result = copy.deepcopy(result)
    change(result)
    return result


TAMPERED = {
    "wrong_cost": (tampered(r0=([0, 1, 2, 0], 7.5)), ["route 0 (agent 0): reports cost 7.5, but the route costs 8"]),
    "missing_node": (tampered(r1=([5, 4, 5], 12.0)), ["1 node(s) not visited: 3"]),
    "window_broken": (
        tampered(r0=([0, 3, 1, 2, 0], 21.0), r1=([5, 4, 5], 12.0)),
        ["route 0 (agent 0): arrives at node 2 at 17, after its window [0, 5] closes"],
    ),
    "wrong_start": (
        tampered(r1=([0, 4, 3, 5], 19.0)),
        ["route 1 (agent 1): starts at node 0, not at its start node 5"],
    ),
    "wrong_end": (tampered(r0=([0, 1, 2], 4.0)), ["route 0 (agent 0): ends at node 2, not at its end node 0"]),
    "other_depot": (
        tampered(r0=([0, 1, 2, 5, 0], 24.0)),
        ["route 0 (agent 0): passes node 5, the start node of agent 1"],
    ),
    "assignment": (
        tampered(r0=([0, 2, 0], 8.0), r1=([5, 4, 3, 1, 5], 25.0)),
        ["route 1 (agent 1): serves node 1 with type drone, but only truck may serve it"],
    ),
    "twice": (tampered(r0=([0, 1, 2, 3, 0], 14.0)), ["route 1 (agent 1): serves node 3, already served by route 0"]),
    "unknown_node": (
        tampered(r0=([0, 1, 2, 9, 0], 8.0)),
        ["route 0 (agent 0): visits node 9, which the instance does not have"],
    ),
    "agent_id": (
        edit(grid_result(), lambda r: r["routes"][1].update(agent_id=7)),
        ["route 1 (agent 1): reports agent id 7, but agent 1 of the instance has id 1"],
    ),
    "statistics": (
        edit(grid_result(), lambda r: r["statistics"].update(max_cost=20.0)),
        ["statistics max_cost is 20, but the largest route cost is 19"],
    ),
    "route_count": (
        edit(grid_result(), lambda r: r["routes"].pop()),
        [
            "the result has 1 routes, the instance 2 agents",
            "2 node(s) not visited: 3, 4",
            "statistics max_cost is 19, but the largest route cost is 8",
            "statistics sum_cost is 27, but the sum of the route costs is 8",
        ],
    ),
    "no_route": (tampered(r1=([], 0.0)), ["route 1 (agent 1): has no route", "2 node(s) not visited: 3, 4"]),
}


def test_untampered_grid_result_is_valid():
    assert validate_result(Instance.from_document(GRID), grid_result()) == []


@pytest.mark.parametrize("name", sorted(TAMPERED))
def test_validator_names_each_violation(name):
    result, expected = TAMPERED[name]
    assert [str(v) for v in validate_result(Instance.from_document(GRID), result)] == expected


def test_limit_is_checked_after_every_step():
    doc = copy.deepcopy(GRID)
    doc["agents"][1]["max_length"] = 18.9  # read as the integer 18, like the solver's reader
    assert [str(v) for v in validate_result(Instance.from_document(doc), grid_result())] == [
        "route 1 (agent 1): has cost 19 at node 5, over its max_length 18"
    ]
    doc["agents"][1]["max_length"] = 19  # reaching the limit exactly is allowed
    assert validate_result(Instance.from_document(doc), grid_result()) == []


OPEN = {
    "nodes": [{"id": 10 * i, "x": float(i), "y": 0.0} for i in range(4)],  # ids 0, 10, 20, 30
    "agents": [{"id": 4, "type": "0", "start_node": 0, "end_node": 10}],
    # An array of matrices names them "0", "1", ...; row 3 has no cells for 30 -> 20 and 30 -> 30.
    "costs": [[[0, 1, 2, 3], [1, 0, 1, 2], [2, 1, 0, 1], [3, 2]]],
    "options": {"return_to_end": False},
}


@pytest.mark.parametrize(
    "path, cost, faults",
    [
        ([0, 20, 30, 0], 3.0, []),  # closing move back to the start is free; end node 10 needs no visit
        ([0, 20, 30, 10], 3.0, []),  # closing into the end node is free too
        ([0, 20, 10, 30, 0], 4.0, []),  # passing its own end node 10: moving onto it is free
        (
            [0, 20, 30, 20],
            10002.0,
            [
                "ends at node 20, neither at its start node 0 nor at its end node 10",
                "serves node 20, already served by route 0",
            ],
        ),
    ],
)
def test_open_routes(path, cost, faults):
    result = {"status": "success", "routes": [{"agent_id": 4, "path": path, "cost": cost}]}
    found = validate_result(Instance.from_document(OPEN), result)
    assert [v.message for v in found] == faults


def test_missing_matrix_cells_cost_9999():
    doc = copy.deepcopy(OPEN)
    doc["options"]["return_to_end"] = True
    doc["agents"][0]["end_node"] = 0
    # 1 + 2, then 9999 for the missing cell 30 -> 20, then 2.
    result = {"status": "success", "routes": [{"agent_id": 4, "path": [0, 10, 30, 20, 0], "cost": 10004.0}]}
    assert validate_result(Instance.from_document(doc), result) == []


# --- convert-tsplib --------------------------------------------------------------------------------------


# --- the validate command on the same results -------------------------------------------------------


@pytest.mark.parametrize("name", ["wrong_cost", "missing_node", "window_broken", "wrong_start"])
def test_validate_command_lists_violations_and_exits_1(tmp_path, name):
    result, expected = TAMPERED[name]
    instance_path = write(tmp_path, "grid.json", json.dumps(GRID))
    result_path = write(tmp_path, "result.json", json.dumps(result))
    proc = run("validate", instance_path, result_path)
    assert proc.returncode == 1 and proc.stderr == ""
    assert proc.stdout.splitlines() == [f"{result_path}: {line}" for line in expected] + [f"{result_path}: 1 violation"]


def test_validate_command_accepts_the_valid_result(tmp_path):
    proc = run(
        "validate",
        write(tmp_path, "grid.json", json.dumps(GRID)),
        write(tmp_path, "result.json", json.dumps(grid_result())),
    )
    assert (proc.returncode, proc.stdout) == (0, "OK: 2 routes cover all 6 nodes, min_max 19.00\n")


# --- ids that several nodes carry ---------------------------------------------------------------------

# Node ids 0, 1, 2, 2 on a line (positions 0..3); the solver visits both nodes with id 2, and a route
# lists 2 twice. References to 2 mean the last of them, as for the solver.
DUPLICATE = {
    "nodes": [{"id": 0, "x": 0, "y": 0, "type": "depot"}, {"id": 1, "x": 1, "y": 0}]
    + [{"id": 2, "x": 2, "y": 0}, {"id": 2, "x": 5, "y": 0}],
    "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
    "costs": {"t": [[float(abs(a - b)) for b in (0, 1, 2, 5)] for a in (0, 1, 2, 5)]},
}


def duplicate_result(path, cost):
    return {"status": "success", "routes": [{"agent_id": 0, "path": path, "cost": cost}]}


@pytest.mark.parametrize(
    "path, cost, kinds",
    [
        ([0, 1, 2, 2, 0], 10.0, []),  # the solver's own route: 1 + 1 + 3 + 5
        ([0, 2, 2, 1, 0], 10.0, []),  # 0 -> 5 -> 2 -> 1 -> 0 is 5 + 3 + 1 + 1
        ([0, 1, 2, 2, 0], 9.0, ["cost"]),
        ([0, 1, 2, 0], 4.0, ["missing"]),  # one node with id 2 left out
        ([0, 1, 2, 2, 2, 0], 10.0, ["twice"]),
    ],
)
def test_routes_through_an_id_two_nodes_carry(path, cost, kinds):
    violations = validate_result(Instance.from_document(copy.deepcopy(DUPLICATE)), duplicate_result(path, cost))
    assert [v.kind for v in violations] == kinds, [str(v) for v in violations]
