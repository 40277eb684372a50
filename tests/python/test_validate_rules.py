"""`kvt_mtsp.validate` with capacities and precedence pairs turned on: a table of tiny instances and
routes with the exact violations, and the agreement of validate with a literal reading of the rules."""

from __future__ import annotations

import itertools
import json
import pathlib
import subprocess
import sys

import pytest

from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import validate_result

SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")


def instance(pairs=(), capacity=(5, 5), windows=(), rules=("enforce_capacity", "enforce_precedence")) -> dict:
    """Depot 0 and targets 1-4 on a line (arc i -> j costs |i - j|), demands 1, 2, 3, 4, two trucks."""
    doc = {
        "nodes": [{"id": 0, "x": 0, "y": 0, "type": "depot"}]
        + [{"id": i, "x": i, "y": 0, "demand": i} for i in range(1, 5)],
        "agents": [
            {"id": 10 + k, "type": "truck", "start_node": 0, "end_node": 0, "capacity": c}
            for k, c in enumerate(capacity)
        ],
        "costs": {"truck": [[float(abs(i - j)) for j in range(5)] for i in range(5)]},
        "constraints": [
            {"kind": "sequence", "precedence": [dict(zip(("before", "after", "type"), p)) for p in pairs]},
            {"kind": "timewindow", "items": [{"node": v, "start": s, "end": e} for v, s, e in windows]},
        ],
        "options": {"improve": True, **{rule: True for rule in rules}},
    }
    return doc


def result(doc: dict, *paths) -> dict:
    inst = Instance.from_document(doc)
    from kvt_mtsp.validate import time_route

    routes = [
        {"agent_id": a.id, "path": list(p), "cost": time_route(inst, a, list(p)).cost}
        for a, p in zip(inst.agents, paths)
    ]
    costs = [r["cost"] for r in routes]
    return {"status": "success", "routes": routes, "statistics": {"max_cost": max(costs), "sum_cost": sum(costs)}}


CASES = [
    # (name, instance, routes, violations)
    ("within capacity", instance(), ([0, 1, 4, 0], [0, 2, 3, 0]), []),
    (
        "over capacity",
        instance(),
        ([0, 1, 2, 3, 0], [0, 4, 0]),
        ["route 0 (agent 10): carries a load of 6 over 3 targets, above its capacity 5"],
    ),
    ("capacity 0 carries any load", instance(capacity=(0, 5)), ([0, 1, 2, 3, 4, 0], [0, 0]), []),
    ("capacity off", instance(rules=("enforce_precedence",)), ([0, 1, 2, 3, 4, 0], [0, 0]), []),
    ("plain pair met across routes", instance(pairs=[(1, 3)]), ([0, 1, 4, 0], [0, 2, 3, 0]), []),
    (
        "plain pair met at the same time",
        instance(pairs=[(2, 3)], capacity=(0, 0), windows=[(2, 3, 9)]),
        ([0, 2, 1, 0], [0, 3, 4, 0]),
        [],
    ),
    (
        "plain pair broken across routes",
        instance(pairs=[(4, 2)]),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        [
            "route 1 (agent 11): serves node 2 at 2, before node 4 is served at 4 by route 0, against the "
            "precedence pair (4, 2)"
        ],
    ),
    (
        "a wait for a window counts as the time served",
        instance(pairs=[(1, 2)], windows=[(1, 5, 9)]),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        [
            "route 1 (agent 11): serves node 2 at 2, before node 1 is served at 5 by route 0, against the "
            "precedence pair (1, 2)"
        ],
    ),
    ("same pair in order", instance(pairs=[(1, 4, "same")]), ([0, 1, 4, 0], [0, 2, 3, 0]), []),
    (
        "same pair reversed",
        instance(pairs=[(4, 1, "same")]),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        ['route 0 (agent 10): serves node 1 before node 4, against the "same" pair (4, 1)'],
    ),
    (
        "same pair split",
        instance(pairs=[(2, 1, "same")]),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        ['route 0 (agent 10): serves node 1 of the "same" pair (2, 1), whose node 2 route 1 serves'],
    ),
    ("diff pair on two routes", instance(pairs=[(1, 3, "diff")]), ([0, 1, 4, 0], [0, 2, 3, 0]), []),
    (
        "diff pair on one route",
        instance(pairs=[(1, 4, "diff")]),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        ['route 0 (agent 10): serves both nodes of the "diff" pair (1, 4)'],
    ),
    (
        "diff pair late",
        instance(pairs=[(4, 3, "diff")]),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        [
            'route 1 (agent 11): serves node 3 at 3, before node 4 is served at 4 by route 0, against the "diff" '
            "pair (4, 3)"
        ],
    ),
    (
        "pairs off",
        instance(pairs=[(4, 1, "same"), (1, 4, "diff")], rules=("enforce_capacity",)),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        [],
    ),
    (
        "several broken at once",
        instance(pairs=[(3, 2, "same"), (4, 1)], capacity=(3, 3)),
        ([0, 1, 4, 0], [0, 2, 3, 0]),
        [
            "route 0 (agent 10): carries a load of 5 over 2 targets, above its capacity 3",
            "route 1 (agent 11): carries a load of 5 over 2 targets, above its capacity 3",
            'route 1 (agent 11): serves node 2 before node 3, against the "same" pair (3, 2)',
            "route 0 (agent 10): serves node 1 at 1, before node 4 is served at 4 by route 0, against the "
            "precedence pair (4, 1)",
        ],
    ),
]


@pytest.mark.parametrize("name, doc, paths, expected", CASES, ids=[c[0] for c in CASES])
def test_validate_names_the_agent_and_the_pair_or_load(name, doc, paths, expected):
    assert [str(v) for v in validate_result(Instance.from_document(doc), result(doc, *paths))] == expected


def literal_faults(doc: dict, paths) -> int:
    """How many rules the routes break, read straight off the rules: loads against capacities, then
    each pair by its route, position and time served."""
    demand = {n["id"]: n.get("demand", 0) for n in doc["nodes"]}
    windows = {i["node"]: i["start"] for c in doc["constraints"] if c["kind"] == "timewindow" for i in c["items"]}
    served = {}
    faults = 0
    for k, (agent, path) in enumerate(zip(doc["agents"], paths)):
        if agent["capacity"] > 0 and sum(demand[v] for v in path[1:-1]) > agent["capacity"]:
            faults += 1
        t = 0.0
        for pos, (u, v) in enumerate(zip(path, path[1:]), start=1):
            t = max(t + abs(u - v), windows.get(v, 0.0))
            served.setdefault(v, (k, pos, t))
    for c in doc["constraints"]:
        for p in c.get("precedence", []):
            (ra, pa, ta), (rb, pb, tb) = served[p["before"]], served[p["after"]]
            kind = p.get("type")
            if kind == "same":
                faults += ra != rb or pa > pb
            else:
                faults += (kind == "diff" and ra == rb) or (not (kind == "diff" and ra == rb) and ta > tb)
    return faults


def plans():
    """Every split of targets 1-4 over two routes, each in both orders of its own targets."""
    for mask in range(16):
        first = [v for v in range(1, 5) if mask >> (v - 1) & 1]
        second = [v for v in range(1, 5) if not mask >> (v - 1) & 1]
        for a, b in itertools.product(itertools.permutations(first), itertools.permutations(second)):
            yield [0, *a, 0], [0, *b, 0]


PAIR_SETS = [
    [(1, 2), (3, 4, "same"), (2, 4, "diff")],
    [(4, 1, "same"), (2, 3), (1, 3, "diff")],
]


@pytest.mark.parametrize("pairs", PAIR_SETS)
def test_validate_agrees_with_a_literal_reading_on_every_plan(pairs):
    doc = instance(pairs=pairs, capacity=(6, 5), windows=[(2, 3, 20)])
    inst = Instance.from_document(doc)
    for paths in plans():
        violations = [v for v in validate_result(inst, result(doc, *paths)) if v.kind in ("capacity", "precedence")]
        assert len(violations) == literal_faults(doc, paths), paths


def test_the_command_line_lists_the_violations(tmp_path):
    doc = instance(pairs=[(4, 1, "same")])
    (tmp_path / "i.json").write_text(json.dumps(doc))
    (tmp_path / "r.json").write_text(json.dumps(result(doc, [0, 1, 4, 0], [0, 2, 3, 0])))
    proc = subprocess.run(
        [str(SCRIPT), "validate", tmp_path / "i.json", tmp_path / "r.json"], capture_output=True, text=True
    )
    assert proc.returncode == 1
    assert proc.stdout.splitlines() == [
        f'{tmp_path / "r.json"}: route 0 (agent 10): serves node 1 before node 4, against the "same" pair (4, 1)',
        f"{tmp_path / 'r.json'}: 1 violation",
    ]


@pytest.mark.parametrize(
    "rules, line",
    [
        (
            ("enforce_capacity", "enforce_precedence"),
            "OK: 2 routes cover all 5 nodes, min_sum 14.00; capacities and precedence pairs obeyed",
        ),
        (("enforce_capacity",), "OK: 2 routes cover all 5 nodes, min_sum 14.00; capacities obeyed"),
        ((), "OK: 2 routes cover all 5 nodes, min_sum 14.00"),
    ],
)
def test_a_valid_result_says_which_rules_it_obeys(tmp_path, rules, line):
    doc = instance(pairs=[(1, 4, "same")], rules=rules)
    (tmp_path / "i.json").write_text(json.dumps(doc))
    (tmp_path / "r.json").write_text(json.dumps(result(doc, [0, 1, 4, 0], [0, 2, 3, 0])))
    proc = subprocess.run(
        [str(SCRIPT), "validate", tmp_path / "i.json", tmp_path / "r.json"], capture_output=True, text=True
    )
    assert (proc.returncode, proc.stdout) == (0, line + "\n")
