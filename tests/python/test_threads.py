"""Several improvement searches on one instance (`Options.threads`): the same routes on every run, valid
routes, one strictly improving curve, stops, and solves side by side in Python threads."""

from __future__ import annotations

import json
import os
import pathlib
import sys
import threading

import pytest

import _kvt_core as core
from kvt_mtsp.tsplib import build_instance, load_tsplib
from routecheck import check_solution
from test_improve import improved, instance, solve, with_everything
from test_interrupts import long_doc, problem_of

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "bench"))
import variants  # noqa: E402

EIL51 = ROOT / "bench" / "data" / "eil51.tsp"

CAPPED = {
    "min_max": improved(instance(n=30, agents=3, seed=2), seed=4, improve_iterations=1500, time_limit=60.0),
    "min_sum": improved(instance(n=30, agents=4, seed=3, objective="min_sum"), seed=1, improve_iterations=1500),
    "everything_open": improved(with_everything(False), seed=6, improve_iterations=1500, time_limit=60.0),
    "everything_closed": improved(with_everything(True), seed=2, improve_iterations=1500, time_limit=60.0),
}


def with_threads(doc, threads):
    doc = json.loads(json.dumps(doc))
    doc["options"]["threads"] = threads
    return doc


@pytest.mark.parametrize("threads", [2, 4])
@pytest.mark.parametrize("name", CAPPED)
def test_same_seed_threads_and_iterations_give_the_same_valid_routes(name, threads):
    doc = with_threads(CAPPED[name], threads)
    first, second = solve(doc), solve(doc)
    assert first["status"] == "success"
    assert first["routes"] == second["routes"]
    # The others' bests are reported at the meetings, so the whole curve of values repeats.
    curve = [(p["max_cost"], p["sum_cost"]) for p in first["anytime"]]
    assert [(p["max_cost"], p["sum_cost"]) for p in second["anytime"]] == curve
    check_solution(doc, first)
    # Every search runs the whole cap; the counts add up.
    assert first["statistics"]["improve_iterations"] == threads * 1500
    assert first["timeout"] is False


@pytest.mark.parametrize("name", CAPPED)
def test_one_thread_is_the_single_search(name):
    doc = CAPPED[name]
    alone, one = solve(doc), solve(with_threads(doc, 1))
    assert one["routes"] == alone["routes"]
    costs = [(p["max_cost"], p["sum_cost"]) for p in alone["anytime"]]
    assert [(p["max_cost"], p["sum_cost"]) for p in one["anytime"]] == costs
    assert one["statistics"]["improve_iterations"] == alone["statistics"]["improve_iterations"] == 1500


def test_without_improve_threads_change_nothing():
    doc = long_doc(9, 2, time_limit=5.0)  # the search ends on its own
    plain, threaded = solve(doc), solve(with_threads(doc, 4))
    assert threaded["routes"] == plain["routes"]
    assert list(threaded["statistics"]) == list(plain["statistics"])
    assert threaded["statistics"]["n_expanded"] == plain["statistics"]["n_expanded"]


def test_the_curve_improves_strictly_and_every_report_is_valid():
    doc = improved(build_instance(load_tsplib(EIL51), 3, "min_max", 1.0), seed=3, threads=2)
    seen = []
    result = core.solve_json_str(json.dumps(doc), callback=seen.append)
    check_solution(doc, result)
    points = [p["max_cost"] for p in result["anytime"]]
    assert len(points) >= 2
    assert all(b < a for a, b in zip(points, points[1:]))
    times = [p["time"] for p in result["anytime"]]
    assert times == sorted(times)
    assert seen and seen[-1]["max_cost"] == pytest.approx(result["statistics"]["max_cost"])
    for entry in seen:
        check_solution(doc, {"status": "success", "routes": entry["routes"]})


def test_two_threaded_solves_side_by_side_return_what_each_returns_alone():
    docs = [with_threads(CAPPED["min_max"], 2), with_threads(CAPPED["everything_open"], 2)]
    alone = [solve(doc)["routes"] for doc in docs]
    together: list = [None, None]

    def run(i):
        together[i] = solve(docs[i])["routes"]

    workers = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert together == alone


def test_stop_ends_a_threaded_solve_with_its_best_routes():
    options = core.Options()
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = 30.0
    options.improve = True
    options.threads = 2
    solver = core.Solver(problem_of(long_doc(60, 3)), options)
    timer = threading.Timer(0.5, solver.stop)
    timer.start()
    assert solver.solve() == 1
    timer.join()
    result = solver.get_result()
    assert result.timeout is True and len(result.paths) == 3
    assert result.times == solver.get_result_process()[-1][1].times


def test_zero_threads_use_the_cores():
    doc = with_threads(CAPPED["min_max"], 0)
    result = solve(doc)
    assert result["status"] == "success"
    cores = len(os.sched_getaffinity(0))
    assert result["statistics"]["improve_iterations"] == min(cores, 256) * 1500


def test_without_a_focal_solution_the_engine_starts_after_a_twentieth_of_the_budget():
    spec = next(v for v in variants.VARIANTS if v.name == "rat99-limits")
    points = load_tsplib(ROOT / "bench" / "data" / "rat99.tsp").points
    doc, _ = variants.generate(spec, points, budget=2.0)
    doc["options"].update(improve=True, seed=1)
    result = solve(doc)
    assert result["status"] == "success"
    check_solution(doc, result)
    start = result["statistics"]["improve_start_time"]
    # 5 % of 2 s; the focal search finds nothing in it.
    assert 0.1 <= start < 0.5
    assert result["anytime"][0]["time"] >= start


CHILD = r"""
import json, sys
sys.path.insert(0, {tests!r})
import _kvt_core as core
from test_interrupts import long_doc

doc = long_doc(60, 3)
doc["options"].update(improve=True, threads=2)
seen = []
try:
    print("solving", flush=True)
    core.solve_json_str(json.dumps(doc), callback=seen.append)
except KeyboardInterrupt:
    print(json.dumps({{"seen": len(seen), "routes": len(seen[-1]["routes"]), "best": seen[-1]["max_cost"],
                      "curve": [e["max_cost"] for e in seen]}}), flush=True)
    raise
"""


def test_ctrl_c_stops_a_threaded_solve_and_keeps_its_best():
    import signal
    import subprocess
    import time

    code = CHILD.format(tests=str(pathlib.Path(__file__).resolve().parent))
    proc = subprocess.Popen(
        [sys.executable, "-c", code],
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
    assert time.monotonic() - sent < 1.5  # generous: a stop is noticed within a quarter of a second
    assert proc.returncode == -signal.SIGINT and err.rstrip().endswith("KeyboardInterrupt")
    report = json.loads(out)
    assert report["seen"] >= 1 and report["routes"] == 3
    assert all(b < a for a, b in zip(report["curve"], report["curve"][1:]))
