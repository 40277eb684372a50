"""Stopping and watching a solve: Ctrl-C, Solver.stop(), callbacks, and the time budget's edge values.

The "returns within N s" bounds are generous: a stop is noticed within a quarter of a second."""

from __future__ import annotations

import json
import math
import pathlib
import signal
import subprocess
import sys
import threading
import time

import pytest

import _kvt_core as core

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def long_doc(n=40, agents=3, time_limit=30.0):
    """Euclidean nodes around a depot: the search finds a first solution within milliseconds and runs
    until its budget is spent."""
    points = [(50.0, 50.0)] + [
        (50 + 40 * math.cos(k * 2.4) * (k % 7 + 3) / 9, 50 + 40 * math.sin(k * 2.4) * (k % 5 + 4) / 8)
        for k in range(1, n)
    ]
    return {
        "nodes": [
            {"id": i, "x": x, "y": y, **({"type": "depot"} if i == 0 else {})} for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"truck": [[math.dist(a, b) for b in points] for a in points]},
        "constraints": [{"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(n)]}],
        "options": {"objective": "min_max", "time_limit": time_limit},
    }


def problem_of(doc):
    problem = core.Problem()
    for n in doc["nodes"]:
        node = core.Node()
        node.id = n["id"]
        node.position.x, node.position.y = n["x"], n["y"]
        if n.get("type") == "depot":
            node.type = core.NodeType.DEPOT
        problem.add_node(node)
    for a in doc["agents"]:
        agent = core.Agent()
        agent.id, agent.type, agent.start_node, agent.end_node = a["id"], a["type"], a["start_node"], a["end_node"]
        problem.add_agent(agent, a["id"])
    for name, matrix in doc["costs"].items():
        problem.set_cost_matrix(name, matrix)
    assignment = core.AssignmentConstraint()
    for item in doc["constraints"][0]["items"]:
        assignment.set_assignment(item["node"], item["types"])
    problem.set_assignment_constraint(assignment)
    return problem


def solver_for(doc, time_limit):
    options = core.Options()
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = time_limit
    return core.Solver(problem_of(doc), options)


def as_plain(result):
    return {
        "paths": result.paths,
        "times": result.times,
        "n_generated": result.n_generated,
        "n_expanded": result.n_expanded,
    }


# --- Ctrl-C in a child process -------------------------------------------------------------------

CHILD = r"""
import json, sys, threading, time
sys.path.insert(0, {tests!r})
import _kvt_core as core
from test_interrupts import long_doc, problem_of, solver_for

mode = sys.argv[1]
doc = long_doc()
report = {{}}
if mode == "json":
    seen = []
    try:
        print("solving", flush=True)
        core.solve_json_str(json.dumps(doc), callback=seen.append)
    except KeyboardInterrupt:
        report = {{"best": seen[-1]["max_cost"], "routes": len(seen[-1]["routes"]), "seen": len(seen)}}
        print(json.dumps(report), flush=True)
        raise
solver = solver_for(doc, 30.0)
if mode == "main":
    try:
        print("solving", flush=True)
        solver.solve()
    except KeyboardInterrupt:
        pass
    else:
        sys.exit("solve() returned")
elif mode == "thread":
    worker = threading.Thread(target=solver.solve)
    worker.start()
    try:
        print("solving", flush=True)
        while worker.is_alive():
            worker.join(0.05)
    except KeyboardInterrupt:
        solver.stop()
        worker.join()
result = solver.get_result()
log = solver.get_result_process()
print(json.dumps({{"timeout": result.timeout, "routes": len(result.paths), "log": len(log),
                   "best": max(result.times.values()), "last_logged": max(log[-1][1].times.values())}}),
      flush=True)
raise KeyboardInterrupt
"""


def interrupt_child(mode):
    code = CHILD.format(tests=str(pathlib.Path(__file__).resolve().parent))
    # A child of a background job inherits an ignored SIGINT: give it the default a terminal gives.
    proc = subprocess.Popen(
        [sys.executable, "-c", code, mode],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    assert proc.stdout.readline() == "solving\n"
    time.sleep(1.0)
    proc.send_signal(signal.SIGINT)
    sent = time.monotonic()
    try:
        out, err = proc.communicate(timeout=30)
    finally:
        proc.kill()
    return time.monotonic() - sent, proc.returncode, json.loads(out), err


@pytest.mark.parametrize("mode", ["main", "thread"])
def test_sigint_stops_a_30_s_solve_and_keeps_the_best_solution(mode):
    waited, code, report, err = interrupt_child(mode)
    assert waited < 1.5
    assert code == -signal.SIGINT and err.rstrip().endswith("KeyboardInterrupt")
    assert report["timeout"] is True and report["routes"] == 3 and report["log"] >= 2
    assert report["best"] == report["last_logged"]


def test_sigint_stops_solve_json_str():
    waited, code, report, err = interrupt_child("json")
    assert waited < 1.5
    assert code == -signal.SIGINT and err.rstrip().endswith("KeyboardInterrupt")
    assert report["seen"] >= 1 and report["routes"] == 3


# --- Solver.stop() -------------------------------------------------------------------------------


def test_stop_from_another_thread_ends_a_30_s_solve():
    solver = solver_for(long_doc(), 30.0)
    timer = threading.Timer(0.5, solver.stop)
    start = time.monotonic()
    timer.start()
    found = solver.solve()
    assert time.monotonic() - start < 1.5
    result = solver.get_result()
    assert found == 1 and result.timeout is True and len(result.paths) == 3
    assert result.times == solver.get_result_process()[-1][1].times


def test_stop_a_solve_running_in_a_thread_and_read_the_result():
    solver = solver_for(long_doc(), math.inf)
    outcome = []
    worker = threading.Thread(target=lambda: outcome.append(solver.solve()))
    worker.start()
    time.sleep(0.5)
    solver.stop()
    worker.join(1.0)
    assert not worker.is_alive() and outcome == [1]
    assert solver.get_result().timeout is True


def test_stop_without_a_running_solve_changes_nothing():
    doc = long_doc(8, 2)
    reference = solver_for(doc, 5.0)
    reference.solve()
    solver = solver_for(doc, 5.0)
    solver.stop()
    assert solver.solve() == 1
    assert as_plain(solver.get_result()) == as_plain(reference.get_result())
    assert solver.get_result().timeout is False


# --- callbacks -----------------------------------------------------------------------------------


def small_doc():
    return long_doc(9, 2, time_limit=5.0)  # the search ends on its own, long before its budget


def test_solver_callback_sees_every_anytime_entry_in_order():
    seen = []
    solver = solver_for(small_doc(), 5.0)
    assert solver.solve(callback=seen.append) == 1
    log = solver.get_result_process()
    assert len(seen) == len(log) >= 2
    for entry, (t, result) in zip(seen, log):
        assert list(entry) == ["time", "max_cost", "sum_cost", "n_generated", "n_expanded", "paths", "times"]
        assert entry["time"] == t
        assert entry["paths"] == result.paths and entry["times"] == result.times
        assert (entry["n_generated"], entry["n_expanded"]) == (result.n_generated, result.n_expanded)
        assert entry["max_cost"] == max(result.times.values())
        assert entry["sum_cost"] == sum(result.times.values())


def test_a_callback_leaves_the_search_as_it_was():
    plain = solver_for(small_doc(), 5.0)
    plain.solve()
    watched = solver_for(small_doc(), 5.0)
    watched.solve(callback=lambda entry: None)
    assert as_plain(watched.get_result()) == as_plain(plain.get_result())
    assert [as_plain(r) for _, r in watched.get_result_process()] == [
        as_plain(r) for _, r in plain.get_result_process()
    ]


def test_json_callback_sees_every_improvement_in_order():
    seen = []
    text = json.dumps(small_doc())
    result = core.solve_json_str(text, callback=seen.append)
    assert [{k: e[k] for k in ("time", "max_cost", "sum_cost")} for e in seen] == result["anytime"]
    for entry in seen:
        assert [r["agent_id"] for r in entry["routes"]] == [0, 1]
        assert sum(r["cost"] for r in entry["routes"]) == pytest.approx(entry["sum_cost"])
        assert all(r["path"][0] == 0 and r["path"][-1] == 0 for r in entry["routes"])
    plain = core.solve_json_str(text)
    costs = [(e["max_cost"], e["sum_cost"]) for e in result["anytime"]]
    assert (result["routes"], costs) == (plain["routes"], [(e["max_cost"], e["sum_cost"]) for e in plain["anytime"]])


@pytest.mark.parametrize("answer", [True, 1, "stop", [0]])
def test_a_truthy_answer_stops_the_solve(answer):
    calls = []

    def callback(entry):
        calls.append(entry)
        return answer

    solver = solver_for(long_doc(), 30.0)
    start = time.monotonic()
    assert solver.solve(callback=callback) == 1
    assert time.monotonic() - start < 5
    assert solver.get_result().timeout is True
    assert len(calls) == len(solver.get_result_process())
    result = core.solve_json_str(json.dumps(long_doc()), 30.0, callback=lambda entry: answer)
    assert result["timeout"] is True and result["status"] == "success"
    assert result["statistics"]["solve_time"] < 5


def test_an_exception_in_the_callback_stops_the_solve_and_propagates():
    solver = solver_for(long_doc(), 30.0)

    def callback(entry):
        raise LookupError("seen enough")

    start = time.monotonic()
    with pytest.raises(LookupError, match="seen enough"):
        solver.solve(callback=callback)
    assert time.monotonic() - start < 5
    result = solver.get_result()
    assert result.timeout is True and len(result.paths) == 3
    with pytest.raises(LookupError, match="seen enough"):
        core.solve_json_str(json.dumps(long_doc()), callback=callback)


def test_callback_may_read_the_solver_but_not_run_it_again():
    solver = solver_for(small_doc(), 5.0)
    reads, refusals = [], []

    def callback(entry):
        # The search waits for the callback: the solver reads as of this entry.
        log = solver.get_result_process()
        reads.append(
            len(log) == len(reads) + 1 and log[-1][0] == entry["time"] and solver.get_result().paths == entry["paths"]
        )
        try:
            solver.solve()
        except RuntimeError as err:
            refusals.append(str(err))

    solver.solve(callback=callback)
    assert reads and all(reads)
    assert refusals == ["this solver is already running a search"] * len(reads)


def test_callback_must_be_callable_or_none():
    solver = solver_for(small_doc(), 5.0)
    with pytest.raises(TypeError):
        solver.solve(callback=3)
    assert solver.solve(callback=None) == 1


# --- time budgets --------------------------------------------------------------------------------


def test_nan_budget_is_refused_wherever_it_enters(tmp_path):
    options = core.Options()
    with pytest.raises(ValueError, match="^Options.time_limit must not be NaN$"):
        options.time_limit = math.nan
    assert options.time_limit == 60.0
    text = json.dumps(small_doc())
    with pytest.raises(ValueError, match="^time_limit must not be NaN$"):
        core.solve_json_str(text, math.nan)
    path = tmp_path / "doc.json"
    path.write_text(text)
    with pytest.raises(ValueError, match="^time_limit must not be NaN$"):
        core.solve_json_file(path, math.nan)
    # JSON itself has no NaN or infinity: the reader refuses them as it refuses any malformed text.
    for literal in ("NaN", "1e999"):
        with pytest.raises(RuntimeError):
            core.solve_json_str(text.replace('"time_limit": 5.0', f'"time_limit": {literal}'))


def test_infinite_budget_runs_until_stopped():
    seen = []
    result = core.solve_json_str(json.dumps(long_doc()), math.inf, callback=lambda entry: seen.append(entry) or True)
    assert result["timeout"] is True and len(seen) == len(result["anytime"]) >= 1
    solver = solver_for(long_doc(), math.inf)
    threading.Timer(0.5, solver.stop).start()
    assert solver.solve() == 1 and solver.get_result().timeout is True


def test_an_infinite_budget_still_ends_with_the_search():
    solver = solver_for(small_doc(), math.inf)
    assert solver.solve() == 1 and solver.get_result().timeout is False


# --- paths ---------------------------------------------------------------------------------------


@pytest.mark.parametrize("kind", [pathlib.Path, str, lambda p: str(p).encode()])
def test_solve_json_file_takes_any_path(kind):
    result = core.solve_json_file(kind(EXAMPLES / "two_types.json"), 0.2)
    assert result["status"] == "success"


def test_solve_json_file_names_a_missing_path(tmp_path):
    missing = tmp_path / "nope.json"
    with pytest.raises(RuntimeError, match=f"^Cannot open file: {missing}$"):
        core.solve_json_file(missing)
