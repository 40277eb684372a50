"""`kvt-mtsp solve` enforces the capacities and precedence pairs an instance carries, unless its
options or the flags say otherwise, and says which rules it enforces."""

from __future__ import annotations

import json

import pytest

from cli_support import run, write
from kvt_mtsp.document import parse_document
from kvt_mtsp.inputs import as_solved
from test_rules import tiny

CAPACITY = {"agents": [{"capacity": 10}], "nodes": [{"demand": 0}, {"demand": 3}]}
PAIRS = {"constraints": [{"kind": "sequence", "precedence": [{"before": 1, "after": 2}]}]}
BOTH = {**CAPACITY, **PAIRS}


def solved_options(doc, improve=None, capacity=None, precedence=None):
    text = json.dumps(doc)
    rules = {"enforce_capacity": capacity, "enforce_precedence": precedence}
    return json.loads(as_solved(text, parse_document(text), improve, None, rules=rules)[0]).get("options", {})


@pytest.mark.parametrize(
    "doc, improve, capacity, precedence, expected",
    [
        (BOTH, None, None, None, {"improve": True, "enforce_capacity": True, "enforce_precedence": True}),
        (CAPACITY, None, None, None, {"improve": True, "enforce_capacity": True}),
        (PAIRS, None, None, None, {"improve": True, "enforce_precedence": True}),
        # a capacity without a positive demand, or a demand without a capacity, carries no rule
        ({"agents": [{"capacity": 10}], "nodes": [{"demand": 0}]}, None, None, None, {"improve": True}),
        ({"agents": [{"capacity": 0}], "nodes": [{"demand": 4}]}, None, None, None, {"improve": True}),
        ({"constraints": [{"kind": "sequence", "precedence": []}]}, None, None, None, {"improve": True}),
        (BOTH, None, False, None, {"improve": True, "enforce_capacity": False, "enforce_precedence": True}),
        (BOTH, None, None, False, {"improve": True, "enforce_capacity": True, "enforce_precedence": False}),
        # the engine alone enforces them: not turned on for a focal search
        (BOTH, False, None, None, {"improve": False}),
        ({**BOTH, "options": {"improve": False}}, None, None, None, {"improve": False}),
        # the instance's own setting stays
        (
            {**BOTH, "options": {"enforce_capacity": False}},
            None,
            None,
            None,
            {"enforce_capacity": False, "improve": True, "enforce_precedence": True},
        ),
        (
            {**PAIRS, "options": {"improve": True, "enforce_precedence": False}},
            None,
            None,
            None,
            {"improve": True, "enforce_precedence": False},
        ),
    ],
)
def test_rules_the_solver_receives(doc, improve, capacity, precedence, expected):
    assert solved_options(doc, improve, capacity, precedence) == expected


def test_solve_prints_the_rules_and_keeps_them(tmp_path):
    doc = tiny(n=7, agents=2, capacity=20, pairs=[("precedence_same", 1, 2)], improve_iterations=200)
    del doc["options"]["improve"]
    path = write(tmp_path, "rules.json", json.dumps(doc))
    out = tmp_path / "result.json"
    proc = run("solve", str(path), "--time-limit", "2", "-q", "-o", str(out))
    assert proc.returncode == 0, proc.stderr
    assert "enforcing capacities and precedence pairs\n" in proc.stdout
    result = json.loads(out.read_text())
    demand = {n["id"]: n["demand"] for n in doc["nodes"]}
    routes = [r["path"] for r in result["routes"]]
    assert all(sum(demand[v] for v in path[1:-1]) <= 20 for path in routes)
    assert any(path.index(1) < path.index(2) for path in routes if 1 in path and 2 in path)

    proc = run("solve", str(path), "--time-limit", "1", "-q", "--no-enforce-capacity", "--no-enforce-precedence")
    assert proc.returncode == 0, proc.stderr
    assert "enforcing" not in proc.stdout
