"""The service's worker side without HTTP: the result of an interrupted solve."""

from __future__ import annotations

import json

import pytest

from kvt_mtsp.service.worker import agent_ids, stopped_result

ROUTES_A = [{"agent_id": 0, "path": [0, 2, 1, 0], "cost": 9.0}, {"agent_id": 1, "path": [0, 0], "cost": 0.0}]
ROUTES_B = [{"agent_id": 0, "path": [0, 1, 0], "cost": 4.0}, {"agent_id": 1, "path": [0, 2, 0], "cost": 3.5}]


def _entry(time, max_cost, sum_cost, generated, expanded, routes):
    return {
        "time": time,
        "max_cost": max_cost,
        "sum_cost": sum_cost,
        "n_generated": generated,
        "n_expanded": expanded,
        "routes": routes,
    }


def test_an_interrupted_solve_reports_its_last_improvement():
    log = [_entry(0.01, 9.0, 9.0, 10, 3, ROUTES_A), _entry(0.25, 4.0, 7.5, 90, 40, ROUTES_B)]
    assert stopped_result(log[-1], log, 1.5) == {
        "status": "success",
        "timeout": True,
        "routes": ROUTES_B,
        "statistics": {
            "solve_time": 1.5,
            "max_cost": 4.0,
            "sum_cost": 7.5,
            "n_generated": 90,
            "n_expanded": 40,
            "last_update_time": 0.25,
        },
        "anytime": [
            {"time": 0.01, "max_cost": 9.0, "sum_cost": 9.0},
            {"time": 0.25, "max_cost": 4.0, "sum_cost": 7.5},
        ],
    }


def test_an_interrupted_solve_without_a_solution_has_failed():
    result = stopped_result(None, [], 0.75, [4, 2])
    assert result == {
        "status": "failed",
        "timeout": True,
        "routes": [{"agent_id": 4, "path": [], "cost": 0.0}, {"agent_id": 2, "path": [], "cost": 0.0}],
        "statistics": {
            "solve_time": 0.75,
            "max_cost": 0.0,
            "sum_cost": 0.0,
            "n_generated": 0,
            "n_expanded": 0,
            "last_update_time": 0.0,
        },
        "anytime": [],
    }
    assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]


@pytest.mark.parametrize(
    ("agents", "ids"),
    [
        ([{"id": 3}, {"id": 0}], [3, 0]),
        ([{"id": -1}], [18446744073709551615]),
        ([{"id": 2.7}, {"id": -2.5}], [2, 0]),
        ({"b": {"id": 5}, "a": {"id": 6}}, [6, 5]),
    ],
)
def test_agent_ids_as_the_solver_reports_them(agents, ids):
    assert agent_ids(json.dumps({"agents": agents})) == ids
