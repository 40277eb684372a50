"""Uses the whole `_kvt_core` API the way a typed program would; checked by `mypy --strict` and run."""

from __future__ import annotations

import json
import pickle
import sys

from typing_extensions import assert_type

import _kvt_core as core
from kvt_mtsp import RouteEntry, SolveResult


def enums() -> None:
    objective = core.ObjectiveType(1)
    assert_type(objective, core.ObjectiveType)
    assert objective == core.ObjectiveType.MinSum and objective != core.ObjectiveType.MinMax
    assert_type(objective.name, str)
    assert_type(objective.value, int)
    assert int(core.NodeType.DEPOT) == 0 and [10, 20][core.NodeType.TARGET] == 20
    members: dict[str, core.NodeType] = core.NodeType.__members__
    assert sorted(members) == ["DEPOT", "TARGET"]
    assert hash(core.NodeType.DEPOT) == hash(core.NodeType(0))
    state = core.ObjectiveType.MinMax.__getstate__()
    assert_type(state, int)
    assert pickle.loads(pickle.dumps(core.ObjectiveType.MinMax)) == core.ObjectiveType.MinMax


def build() -> core.Problem:
    problem = core.Problem()
    points = [(0.0, 0.0), (3.0, 0.0), (3.0, 4.0), (0.0, 4.0)]
    for i, (x, y) in enumerate(points):
        node = core.Node()
        node.id = i
        node.type = core.NodeType.DEPOT if i == 0 else core.NodeType.TARGET
        node.demand = 1
        position = core.Position()
        position.x, position.y, position.z = x, y, 0.0
        node.position = position
        node.position.x = x
        assert_type(node.position.y, float)
        problem.add_node(node=node)
    for k, kind in enumerate(["truck", "drone"]):
        agent = core.Agent()
        agent.id, agent.type = k, kind
        agent.start_node = agent.end_node = 0
        agent.capacity_limit = 10.0
        agent.time_limit = 100
        problem.add_agent(agent, id=k)
    matrix = [[abs(a[0] - b[0]) + abs(a[1] - b[1]) for b in points] for a in points]
    problem.set_cost_matrix("truck", matrix)
    problem.set_cost_matrix(agent_type="drone", matrix=[[d / 2 for d in row] for row in matrix])
    assignment = core.AssignmentConstraint()
    assignment.set_assignment(1, ["truck"])
    assignment.set_assignment(node=2, types=("truck", "drone"))
    problem.set_assignment_constraint(assignment)
    windows = core.TimeWindowConstraint()
    windows.set_timewindow(3, 0.0, 50)
    problem.set_timewindow_constraint(constraint=windows)
    options = problem.options()
    options.return_to_end = True
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = 1.0
    nodes: list[core.Node] = problem.nodes()
    agents: list[core.Agent] = problem.agents_ordered()
    assert [n.id for n in nodes] == [0, 1, 2, 3] and [a.type for a in agents] == ["truck", "drone"]
    return problem


def solve(problem: core.Problem) -> None:
    options = core.Options()
    options.objective = problem.options().objective
    options.time_limit = 1.0
    solver = core.Solver(problem, options)
    found: int = solver.solve()
    assert found == 1
    result = solver.get_result()
    assert_type(result, core.Result)
    paths: dict[int, list[int]] = result.paths
    times: dict[int, float] = result.times
    assert sorted(paths) == sorted(times) == [0, 1]
    counters: tuple[int, int, bool, float] = (
        result.n_generated,
        result.n_expanded,
        result.timeout,
        result.last_update_time,
    )
    assert counters[0] >= counters[1]
    for time, snapshot in solver.get_result_process():
        assert_type(time, float)
        assert_type(snapshot, core.Result)


def solve_json(path: str) -> None:
    result = core.solve_json_file(path, time_limit=0.5)
    assert_type(result, SolveResult)
    route: RouteEntry = result["routes"][0]
    assert_type(route["path"], list[int])
    assert_type(result["statistics"]["n_generated"], int)
    assert result["status"] in ("success", "failed")
    text = json.dumps(
        {
            "nodes": [{"id": 0, "x": 0, "y": 0, "type": "depot"}, {"id": 1, "x": 1, "y": 0}],
            "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
            "costs": {"t": [[0, 1], [1, 0]]},
        }
    )
    again = core.solve_json_str(text, 0.5)
    best = min((entry["max_cost"] for entry in again["anytime"]), default=0.0)
    assert_type(best, float)
    assert again["routes"][0]["path"] == [0, 1, 0] and again["timeout"] is False


if __name__ == "__main__":
    enums()
    solve(build())
    solve_json(sys.argv[1])
    print("sample ok")
