"""Solves with the improvement phase (`Options.improve`): valid, improving, reproducible routes."""

from __future__ import annotations

import json
import math
import pathlib
import random
import threading

import pytest

import _kvt_core as core
from kvt_mtsp.tsplib import build_instance, load_tsplib
from routecheck import check_solution

ROOT = pathlib.Path(__file__).resolve().parents[2]
BERLIN = ROOT / "bench" / "data" / "berlin52.tsp"
# The local search's moves, in the engine's order; each adds its attempts and moves.
MOVES = ["relocate", "swap", "two_opt", "two_opt_star", "relocate_to_ends"]
ENGINE_KEYS = [
    "improve_iterations",
    "improve_moves",
    "improve_accepted",
    "improve_improvements",
    "improve_restarts",
    *[f"improve_{move}_{count}" for move in MOVES for count in ("attempts", "moves")],
    "improve_start_time",
]


def euclid(points, speed=1.0):
    return [[math.dist(a, b) / speed for b in points] for a in points]


def instance(n=12, agents=3, seed=1, objective="min_max", return_to_end=True, **options):
    rng = random.Random(seed)
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    return {
        "nodes": [
            {"id": 10 + i, "x": x, "y": y, **({"type": "depot"} if i == 0 else {})} for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": 100 + k, "type": "truck", "start_node": 10, "end_node": 10} for k in range(agents)],
        "costs": {"truck": euclid(points)},
        "options": {"objective": objective, "return_to_end": return_to_end, "time_limit": 1.0, **options},
    }


def with_everything(return_to_end):
    """Two types with assignments, windows, limits and distinct depots."""
    doc = instance(n=16, agents=3, seed=7, return_to_end=return_to_end)
    points = [(n["x"], n["y"]) for n in doc["nodes"]]
    doc["nodes"][1]["type"] = "depot"
    doc["nodes"][2]["type"] = "depot"
    doc["agents"][0].update(start_node=10, end_node=11)
    doc["agents"][1].update(start_node=12, end_node=12, type="drone", max_length=400)
    doc["agents"][2].update(start_node=10, end_node=10, max_length=600)
    doc["costs"]["drone"] = euclid(points, speed=1.5)
    doc["constraints"] = [
        {
            "kind": "assignment",
            "items": [{"node": 10 + i, "types": ["truck"] if i % 4 == 3 else ["truck", "drone"]} for i in range(16)],
        },
        {
            "kind": "timewindow",
            "items": [{"node": 10 + i, "start": 5.0 * i, "end": 5.0 * i + 300.0} for i in range(3, 16, 2)],
        },
    ]
    return doc


def solve(doc, time_limit=-1.0):
    return core.solve_json_str(json.dumps(doc), time_limit)


def improved(doc, **options):
    doc = json.loads(json.dumps(doc))
    doc["options"].update(improve=True, **options)
    return doc


def objective(doc, result):
    key = "max_cost" if doc["options"]["objective"] == "min_max" else "sum_cost"
    return result["statistics"][key]


@pytest.mark.parametrize("objective_name", ["min_max", "min_sum"])
def test_tsplib_instance_is_valid_and_no_worse_than_the_focal_search(objective_name):
    doc = build_instance(load_tsplib(BERLIN), 3, objective_name, 1.0)
    plain = solve(doc)
    better = solve(improved(doc))
    assert better["status"] == "success"
    check_solution(doc, better)
    assert objective(doc, better) <= objective(doc, plain) + 1e-9
    # The curve starts with the focal search's solutions and improves strictly.
    points = [p[objective_name.replace("min_", "") + "_cost"] for p in better["anytime"]]
    assert len(points) >= 2
    assert all(b < a for a, b in zip(points, points[1:]))
    times = [p["time"] for p in better["anytime"]]
    assert times == sorted(times)
    assert better["statistics"]["last_update_time"] >= times[-1]


@pytest.mark.parametrize(
    "name,doc",
    [
        ("min_max", instance()),
        ("min_sum", instance(objective="min_sum")),
        ("open_routes", instance(return_to_end=False)),
        ("everything_closed", with_everything(True)),
        ("everything_open", with_everything(False)),
    ],
)
def test_every_variant_gives_valid_routes(name, doc):
    result = solve(improved(doc, improve_iterations=300))
    assert result["status"] == "success", name
    check_solution(doc, result)


def test_same_seed_and_iterations_give_the_same_routes_also_in_parallel_threads():
    doc = improved(with_everything(False), seed=5, improve_iterations=400, time_limit=30.0)
    alone = solve(doc)
    assert alone["status"] == "success"
    results = [None] * 4

    def run(i):
        results[i] = solve(doc)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        assert r["routes"] == alone["routes"]
    assert alone["statistics"]["improve_iterations"] == 400
    assert alone["timeout"] is False


@pytest.mark.parametrize(
    "name,doc",
    [
        ("more_agents_than_targets", instance(n=3, agents=5)),
        ("only_a_depot", instance(n=1, agents=2)),
    ],
)
def test_instances_with_idle_agents_are_solved_with_and_without_improve(name, doc):
    # Agents left at home close their routes in place (the focal search once lost those states).
    for variant in (doc, improved(doc, improve_iterations=50)):
        result = solve(variant)
        assert result["status"] == "success", name
        check_solution(doc, result)
        assert len(result["anytime"]) >= 1


def test_only_a_depot_gives_empty_routes():
    doc = instance(n=1, agents=2)
    result = solve(improved(doc, improve_iterations=5))
    assert [r["path"] for r in result["routes"]] == [[10, 10], [10, 10]]
    assert result["statistics"]["max_cost"] == 0.0


def test_improve_off_changes_nothing():
    # Both focal searches stop at their second improving solution: a point that does not depend on
    # the machine's speed (the search goes on until its budget once its first solutions are found).
    def stopped(document):
        seen = []

        def stop(entry):
            seen.append(entry)
            return len(seen) >= 2

        return core.solve_json_str(json.dumps(document), -1.0, diagnostics=lambda s, t: None, callback=stop)

    doc = instance(n=10, agents=3, seed=4)
    default = stopped(doc)
    off = json.loads(json.dumps(doc))
    off["options"].update(improve=False, seed=99, improve_iterations=7)
    explicit = stopped(off)
    for key in ("status", "timeout", "routes", "anytime"):
        if key == "anytime":
            strip = [{k: v for k, v in p.items() if k != "time"} for p in explicit[key]]
            assert strip == [{k: v for k, v in p.items() if k != "time"} for p in default[key]]
        else:
            assert explicit[key] == default[key]
    assert list(explicit["statistics"]) == list(default["statistics"])
    assert not set(ENGINE_KEYS) & set(default["statistics"])


def test_statistics_carry_the_engine_counts_after_the_documented_keys():
    doc = instance(n=10, agents=3, seed=4)
    plain = solve(doc)
    result = solve(improved(doc, improve_iterations=100))
    keys = list(result["statistics"])
    assert keys[: len(plain["statistics"])] == list(plain["statistics"])
    assert keys[len(plain["statistics"]) :] == ENGINE_KEYS
    assert result["statistics"]["improve_iterations"] == 100
    # The engine takes over once the focal search has recorded its first solution.
    start = result["statistics"]["improve_start_time"]
    assert isinstance(start, float)
    assert result["anytime"][0]["time"] <= start <= result["statistics"]["solve_time"]
    assert start < 0.5 * doc["options"]["time_limit"]


@pytest.mark.parametrize("objective_name", ["min_max", "min_sum"])
def test_per_move_counts_add_up_to_the_engine_moves(objective_name):
    doc = improved(with_everything(False), objective=objective_name, seed=3, improve_iterations=300, time_limit=30.0)
    stats = solve(doc)["statistics"]
    applied = [stats[f"improve_{move}_moves"] for move in MOVES]
    attempts = [stats[f"improve_{move}_attempts"] for move in MOVES]
    assert sum(applied) == stats["improve_moves"] > 0
    assert all(0 <= a <= t for a, t in zip(applied, attempts))
    assert attempts[0] > 0  # relocation is tried with every neighbour


def test_solver_class_improves_through_options():
    rng = random.Random(3)
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(12)]
    problem = core.Problem()
    for i, (x, y) in enumerate(points):
        node = core.Node()
        node.id = i
        node.position.x, node.position.y = x, y
        problem.add_node(node)
    for k in range(3):
        agent = core.Agent()
        agent.id, agent.type, agent.start_node, agent.end_node = k, "truck", 0, 0
        problem.add_agent(agent, k)
    problem.set_cost_matrix("truck", euclid(points))
    options = core.Options()
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = 30.0
    options.improve = True
    options.seed = 8
    options.improve_iterations = 200
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    result = solver.get_result()
    assert sorted(result.paths) == [0, 1, 2]
    served = sorted(v for k in range(3) for v in result.paths[k][1:-1])
    assert served == list(range(1, 12))
    for k in range(3):
        path = result.paths[k]
        assert path[0] == 0 and path[-1] == 0
        cost = sum(math.dist(points[a], points[b]) for a, b in zip(path, path[1:]))
        assert result.times[k] == pytest.approx(cost, rel=1e-9)
    process = solver.get_result_process()
    assert result.last_update_time == pytest.approx(process[-1][0])
    longest = [max(r.times.values()) for _, r in process]
    assert longest[-1] == pytest.approx(max(result.times.values()))
    assert longest[-1] <= min(longest) + 1e-9
