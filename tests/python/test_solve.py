"""Solving through Solver, solve_json_str and solve_json_file."""

from __future__ import annotations

import json
import math
import pathlib
import random
import threading

import pytest

import _kvt_core as core
from routecheck import check_solution, route_cost

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def euclid(points, speed=1.0):
    return [[round(math.dist(a, b) / speed, 3) for b in points] for a in points]


def instance(n=8, agents=2, seed=1, objective="min_max", return_to_end=True, time_limit=10.0, **extra):
    rng = random.Random(seed)
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    doc = {
        "nodes": [
            {"id": i, "x": x, "y": y, **({"type": "depot"} if i == 0 else {})} for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"truck": euclid(points)},
        "options": {"objective": objective, "return_to_end": return_to_end, "time_limit": time_limit},
    }
    doc.update(extra)
    return doc


def solve(doc, time_limit=-1.0):
    return core.solve_json_str(json.dumps(doc), time_limit)


# --- every kind of instance gives valid routes ------------------------------------------------


def two_types_doc():
    doc = instance(n=9, agents=3, seed=3)
    points = [(n["x"], n["y"]) for n in doc["nodes"]]
    doc["agents"][2]["type"] = "drone"
    doc["costs"]["drone"] = euclid(points, speed=2.0)
    truck_only = {1, 4, 7}
    doc["constraints"] = [
        {
            "kind": "assignment",
            "items": [{"node": i, "types": ["truck"] if i in truck_only else ["truck", "drone"]} for i in range(9)],
        }
    ]
    return doc


def time_window_doc():
    doc = instance(n=7, agents=2, seed=5, objective="min_sum")
    doc["constraints"] = [
        {"kind": "timewindow", "items": [{"node": i, "start": 10.0 * i, "end": 10.0 * i + 120.0} for i in range(1, 7)]}
    ]
    return doc


def time_limit_doc():
    doc = instance(n=8, agents=3, seed=9)
    for agent in doc["agents"]:
        agent["max_length"] = 250
    return doc


def distinct_depots_doc(return_to_end):
    doc = instance(n=8, agents=2, seed=11, return_to_end=return_to_end)
    doc["nodes"][1]["type"] = "depot"
    for agent in doc["agents"]:
        agent.update(start_node=0, end_node=1)
    return doc


KINDS = {
    "euclid_min_max": lambda: instance(n=9, agents=3, seed=2),
    "euclid_min_sum": lambda: instance(n=9, agents=2, seed=4, objective="min_sum"),
    "two_types": two_types_doc,
    "time_windows": time_window_doc,
    "time_limits": time_limit_doc,
    "open_routes": lambda: instance(n=9, agents=2, seed=6, return_to_end=False),
    "distinct_depots_return": lambda: distinct_depots_doc(True),
    "distinct_depots_open": lambda: distinct_depots_doc(False),
    "single_agent": lambda: instance(n=7, agents=1, seed=8),
}


@pytest.mark.parametrize("kind", sorted(KINDS))
def test_every_kind_of_instance_gives_valid_routes(kind):
    doc = KINDS[kind]()
    result = solve(doc, 5.0)
    check_solution(doc, result)
    assert result["anytime"], "a solved instance logs at least one improving solution"


@pytest.mark.parametrize("name", ["euclid_one_type.json", "two_types.json", "time_windows.json", "open_routes.json"])
def test_bundled_examples_solve(name):
    path = EXAMPLES / name
    doc = json.loads(path.read_text())
    result = core.solve_json_file(str(path), 0.5)
    check_solution(doc, result)


def test_ids_that_are_not_positions_are_reported_as_ids():
    doc = instance(n=6, agents=2, seed=12)
    node_ids = [100, 7, 55, 3, 9, 42]
    for node, new_id in zip(doc["nodes"], node_ids):
        node["id"] = new_id
    for agent, new_id in zip(doc["agents"], [31, 17]):
        agent["id"] = new_id
        agent["start_node"] = agent["end_node"] = 100
    result = solve(doc, 5.0)
    check_solution(doc, result)
    assert [r["agent_id"] for r in result["routes"]] == [31, 17]


# --- the result dictionary ---------------------------------------------------------------------


def test_result_dictionary_layout():
    result = solve(instance(n=5, agents=2), 5.0)
    assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]
    assert list(result["routes"][0]) == ["agent_id", "path", "cost"]
    assert list(result["statistics"]) == [
        "solve_time",
        "max_cost",
        "sum_cost",
        "n_generated",
        "n_expanded",
        "last_update_time",
    ]
    for entry in result["anytime"]:
        assert list(entry) == ["time", "max_cost", "sum_cost"]
    assert isinstance(result["statistics"]["n_generated"], int)
    assert result["statistics"]["n_generated"] >= result["statistics"]["n_expanded"] > 0
    assert result["statistics"]["solve_time"] > 0


@pytest.mark.parametrize("objective, key", [("min_max", "max_cost"), ("min_sum", "sum_cost")])
def test_anytime_lists_strict_improvements_of_the_objective(objective, key):
    doc = instance(n=12, agents=3, seed=21, objective=objective)
    result = solve(doc, 1.0)
    values = [e[key] for e in result["anytime"]]
    assert values, "at least one solution"
    assert all(b < a - 1e-9 for a, b in zip(values, values[1:]))
    times = [e["time"] for e in result["anytime"]]
    assert times == sorted(times)


def test_agent_without_route_in_failed_solve_is_listed_with_empty_path():
    doc = instance(n=4, agents=2)
    doc["options"]["time_limit"] = -1.0  # over budget at the first check
    result = solve(doc)
    assert result["status"] == "failed"
    assert result["timeout"] is True
    assert [r["path"] for r in result["routes"]] == [[], []]
    assert [r["cost"] for r in result["routes"]] == [0.0, 0.0]
    assert result["statistics"]["max_cost"] == 0.0 and result["statistics"]["sum_cost"] == 0.0
    assert result["anytime"] == []


@pytest.mark.parametrize("override, expect_timeout", [(None, True), (-1.0, True), (0.0, True), (5.0, False)])
def test_positive_time_limit_argument_overrides_the_document(override, expect_timeout):
    doc = instance(n=5, agents=2)
    doc["options"]["time_limit"] = -1.0
    text = json.dumps(doc)
    result = core.solve_json_str(text) if override is None else core.solve_json_str(text, override)
    assert result["timeout"] is expect_timeout
    assert (result["status"] == "success") is (not expect_timeout)


def test_missing_options_use_the_default_budget_and_min_sum():
    doc = instance(n=5, agents=2)
    del doc["options"]
    result = solve(doc)
    check_solution(doc, result)
    assert result["timeout"] is False


# --- failures ------------------------------------------------------------------------------------


def test_missing_file_raises_runtime_error(tmp_path):
    path = str(tmp_path / "nope.json")
    with pytest.raises(RuntimeError) as err:
        core.solve_json_file(path)
    assert str(err.value) == "Cannot open file: " + path


@pytest.mark.parametrize(
    "text, fragment",
    [
        ("", "attempting to parse an empty input; check that your input string or stream contains the expected JSON"),
        ('{"nodes": []} // comment', "parse_error"),
        ('{"nodes": [], "agents": []} {}', "parse_error"),
        ('{"nodes": []}', "[json.exception.out_of_range.403] key 'agents' not found"),
        ('{"nodes": [{"id": 0, "x": 0}], "agents": []}', "[json.exception.out_of_range.403] key 'y' not found"),
    ],
)
def test_malformed_documents_raise_runtime_error(text, fragment):
    with pytest.raises(RuntimeError) as err:
        core.solve_json_str(text)
    assert fragment in str(err.value)
    if text == "":
        assert str(err.value).endswith(fragment)


def test_unknown_start_node_raises_index_error():
    doc = instance(n=4, agents=1)
    doc["agents"][0]["start_node"] = 99
    with pytest.raises(IndexError, match="^unordered_map::at: key not found$"):
        solve(doc)


def test_unknown_cost_type_raises_index_error():
    doc = instance(n=4, agents=1)
    doc["costs"]["bike"] = [[0.0]]
    with pytest.raises(IndexError, match="^unordered_map::at: key not found$"):
        solve(doc)


@pytest.mark.parametrize("rows, cols", [(5, 4), (4, 5)])
def test_cost_matrix_larger_than_the_node_count_raises_value_error(rows, cols):
    doc = instance(n=4, agents=1)
    doc["costs"]["truck"] = [[1.0] * cols for _ in range(rows)]
    with pytest.raises(ValueError, match="truck") as err:
        solve(doc)
    assert "4 nodes" in str(err.value)


def test_smaller_and_ragged_matrices_are_allowed():
    doc = instance(n=4, agents=1)
    doc["costs"]["truck"] = [[0, 1, 2, 3], [1, 0, 1], [2, 1, 0, 1], [3, 2, 1, 0]]
    result = solve(doc, 5.0)
    assert result["status"] == "success"


@pytest.mark.parametrize("n, accepted", [(256, True), (257, False)])
def test_node_limit(n, accepted):
    doc = instance(n=n, agents=2, seed=2)
    if accepted:
        result = solve(doc, 0.2)
        assert len(result["routes"]) == 2
    else:
        with pytest.raises(ValueError, match="257.*256"):
            solve(doc, 0.2)


def test_solver_class_refuses_more_than_256_nodes():
    problem = core.Problem()
    for i in range(257):
        node = core.Node()
        node.id = i
        problem.add_node(node)
    with pytest.raises(ValueError, match="257"):
        core.Solver(problem, core.Options())


# --- console lines -------------------------------------------------------------------------------


def test_console_lines(capfd):
    doc = instance(n=4, agents=1, seed=3)
    doc["constraints"] = [
        {
            "kind": "assignment",
            "items": [
                {"node": 0, "types": ["truck"]},
                {"node": 1, "types": ["truck"]},
                {"node": 2, "types": ["truck"]},
            ],
        },
        {"kind": "timewindow", "items": [{"node": 77, "start": 0, "end": 1}]},
    ]
    solve(doc, 5.0)
    out, err = capfd.readouterr()
    assert "[warning] node 3 has no assignment constraint; allowing all types\n" in err
    assert "[warning] node 0 has" not in err
    assert "[warning] time window node id 77 not found in nodes\n" in err


def test_blocked_pairs_and_unreachable_depots_are_reported(capfd):
    doc = instance(n=3, agents=1)
    matrix = doc["costs"]["truck"]
    for a, b in [(1, 2), (2, 1)]:
        matrix[a][b] = 9999.0
    solve(doc, 1.0)
    out, _ = capfd.readouterr()
    assert "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n" in out

    doc = instance(n=3, agents=1)
    doc["costs"]["truck"][0] = [0.0, 9999.0, 9999.0]
    solve(doc, 1.0)
    _, err = capfd.readouterr()
    assert "point: 0 can't be reached\n" in err


# --- the Solver class ---------------------------------------------------------------------------


def build_problem(doc):
    problem = core.Problem()
    for n in doc["nodes"]:
        node = core.Node()
        node.id = n["id"]
        node.position.x, node.position.y = n["x"], n["y"]
        problem.add_node(node)
    for a in doc["agents"]:
        agent = core.Agent()
        agent.id, agent.type = a["id"], a["type"]
        agent.start_node, agent.end_node = a["start_node"], a["end_node"]
        problem.add_agent(agent, a["id"])
    for name, matrix in doc["costs"].items():
        problem.set_cost_matrix(name, matrix)
    return problem


def test_solver_class_solves_and_logs():
    doc = instance(n=7, agents=2, seed=31)
    problem = build_problem(doc)
    options = core.Options()
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = 5.0
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    # The signature line, then the fixed first paragraph.
    assert core.Solver.solve.__doc__.split("\n\n")[1] == "Run the KVT solver. Returns 1 on success, 0 on failure."
    result = solver.get_result()
    assert sorted(result.paths) == [0, 1]
    for k, agent in enumerate(doc["agents"]):
        assert route_cost(doc, agent, result.paths[k]) == pytest.approx(result.times[k])
    process = solver.get_result_process()
    assert len(process) % 2 == 0 and process
    assert all(isinstance(t, float) and isinstance(r, core.Result) for t, r in process)
    assert result.last_update_time == pytest.approx(process[-1][0])
    assert result.n_generated >= result.n_expanded > 0


def test_solver_uses_the_options_argument_not_the_problem_options():
    doc = instance(n=6, agents=2, seed=41)
    problem = build_problem(doc)
    problem.options().time_limit = -1.0  # would time out at once
    options = core.Options()
    options.time_limit = 5.0
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    assert solver.get_result().timeout is False


def test_solver_keeps_the_problem_as_it_was_at_construction():
    doc = instance(n=5, agents=1, seed=5)
    problem = build_problem(doc)
    options = core.Options()
    options.time_limit = 5.0
    solver = core.Solver(problem, options)
    extra = core.Node()
    extra.id = 99
    problem.add_node(extra)
    assert solver.solve() == 1
    assert sorted(solver.get_result().paths[0]) == [0, 0, 1, 2, 3, 4]


def test_second_solve_searches_afresh():
    solver = core.Solver(build_problem(instance(n=7, agents=2, seed=7)), core.Options())
    assert solver.solve() == 1
    first, first_log = solver.get_result(), solver.get_result_process()
    assert solver.solve() == 1
    second, second_log = solver.get_result(), solver.get_result_process()
    assert second.paths == first.paths and second.times == first.times
    assert second.n_generated == first.n_generated
    assert len(second_log) == len(first_log)


def test_solver_in_python_without_solution_returns_zero():
    options = core.Options()
    options.time_limit = -1.0
    solver = core.Solver(build_problem(instance(n=4, agents=1)), options)
    assert solver.solve() == 0
    result = solver.get_result()
    assert result.timeout is True and result.paths == {}


# --- determinism and threads --------------------------------------------------------------------


def test_same_instance_twice_gives_identical_routes():
    doc = instance(n=9, agents=3, seed=13)
    first, second = solve(doc, 30.0), solve(doc, 30.0)
    assert first["timeout"] is False
    assert first["routes"] == second["routes"]
    assert first["statistics"]["n_generated"] == second["statistics"]["n_generated"]


def test_parallel_solves_in_threads_agree_with_a_solve_alone():
    doc = instance(n=9, agents=3, seed=13)
    alone = solve(doc, 30.0)
    results = [None] * 4

    def work(k):
        results[k] = solve(doc, 30.0)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        assert r["routes"] == alone["routes"]
