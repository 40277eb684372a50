"""Checks of a solve result against its JSON instance, through the package's route validator.

The validator recomputes every route in Python from the instance alone, independently of the
solver's own cost bookkeeping."""

from __future__ import annotations

from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import route_cost as _route_cost
from kvt_mtsp.validate import validate_result


def route_cost(doc, agent, path):
    """Arrival time at the last node of `path` (node ids), waits included.

    `agent`: one of the document's agents. Returns None when the route breaks a window or the
    agent's limit."""
    instance = Instance.from_document(doc)
    return _route_cost(instance, instance.agents[doc["agents"].index(agent)], path)


def check_solution(doc, result, expect_all_visited=True):
    """Asserts that every route of `result` is a valid route of `doc`."""
    violations = validate_result(Instance.from_document(doc), result, require_all_visited=expect_all_visited)
    assert not violations, "\n".join(str(v) for v in violations)
