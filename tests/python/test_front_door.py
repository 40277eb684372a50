"""kvt_mtsp.solve: the package's front door, against the module and a literal schedule."""

from __future__ import annotations

import json
import math
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import _kvt_core as core
import kvt_mtsp
from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import validate_result

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = sorted(p for p in (ROOT / "examples").glob("*.json") if not p.name.endswith(".solution.json"))
TIMING_KEYS = {"solve_time", "last_update_time", "improve_start_time", "improve_time"}


def untimed(result: dict) -> dict:
    """The result without what depends on the clock."""
    stats = {k: v for k, v in result["statistics"].items() if k not in TIMING_KEYS and not k.endswith("_time")}
    return {**result, "statistics": stats, "anytime": [(e["max_cost"], e["sum_cost"]) for e in result["anytime"]]}


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.stem)
def test_threads_reach_the_module(path):
    doc = json.loads(path.read_text())
    solution = kvt_mtsp.solve(path, seed=7, iterations=150, time_limit=60.0, threads=2)
    options = {**doc.get("options", {}), "improve": True, "seed": 7, "improve_iterations": 150, "time_limit": 60.0}
    options["threads"] = 2
    module = core.solve_json_str(json.dumps({**doc, "options": options}), -1.0, diagnostics=lambda s, t: None)
    assert [r.path for r in solution.routes] == [r["path"] for r in module["routes"]]
    assert solution.to_dict()["statistics"]["improve_iterations"] == module["statistics"]["improve_iterations"]


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.stem)
def test_same_routes_as_the_module_with_the_same_seed_and_cap(path):
    doc = json.loads(path.read_text())
    solution = kvt_mtsp.solve(path, seed=7, iterations=150, time_limit=60.0)
    options = {**doc.get("options", {}), "improve": True, "seed": 7, "improve_iterations": 150, "time_limit": 60.0}
    module = core.solve_json_str(json.dumps({**doc, "options": options}), -1.0, diagnostics=lambda s, t: None)
    assert untimed(solution.to_dict()) == untimed(module)
    assert solution.status == "success"
    assert [r.path for r in solution.routes] == [r["path"] for r in module["routes"]]
    assert [r.cost for r in solution.routes] == [r["cost"] for r in module["routes"]]
    assert solution.longest_route == module["statistics"]["max_cost"]
    assert solution.total == module["statistics"]["sum_cost"]
    objective = "min_max" if doc.get("options", {}).get("objective") in ("min_max", "MIN_MAX") else "min_sum"
    assert solution.objective == objective
    assert solution.objective_value == (solution.longest_route if objective == "min_max" else solution.total)
    assert validate_result(Instance.from_document(doc), solution.to_dict()) == []


def literal_schedule(doc: dict, agent: dict, path: list[int]) -> list[tuple[int, float, float, float]]:
    """(node, arrival, wait, start) per stop, straight from the document's matrices and windows."""
    position = {n["id"]: i for i, n in enumerate(doc["nodes"])}
    windows = {}
    for c in doc.get("constraints", []):
        if c["kind"] == "timewindow":
            windows.update({item["node"]: (item["start"], item["end"]) for item in c["items"]})
    return_to_end = doc.get("options", {}).get("return_to_end", True)
    matrix = doc["costs"][agent["type"]]
    out, t = [], 0.0
    for i, v in enumerate(path):
        if i > 0 and path[i - 1] != v and (return_to_end or v not in (agent["start_node"], agent["end_node"])):
            t += matrix[position[path[i - 1]]][position[v]]
        opens = windows.get(v, (-math.inf, 0))[0]
        start = max(t, opens)
        out.append((v, t, start - t, start))
        t = start
    return out


@pytest.mark.parametrize("name", ["time_windows", "open_routes", "two_types"])
def test_the_schedule_follows_the_route_walk(name):
    doc = json.loads((ROOT / "examples" / f"{name}.json").read_text())
    solution = kvt_mtsp.solve(doc, seed=1, iterations=100)
    rows = solution.schedule()
    assert len(rows) == sum(len(r.stops) for r in solution.routes)
    waited = 0
    for agent, route in zip(doc["agents"], solution.routes):
        want = literal_schedule(doc, agent, route.path)
        got = [(s.node, s.arrival, s.wait, s.start) for s in route.stops]
        assert [g[0] for g in got] == [w[0] for w in want]
        for g, w in zip(got, want):
            assert g[1:] == pytest.approx(w[1:], abs=1e-9)
        assert route.stops[-1].start == pytest.approx(route.cost, abs=1e-9)
        waited += sum(s.wait > 0 for s in route.stops)
    mine = [r for r in rows if r["agent_id"] == solution.routes[0].agent_id]
    assert [r["position"] for r in mine] == list(range(len(solution.routes[0].stops)))
    assert set(rows[0]) == {"agent_id", "agent_type", "position", "node", "arrival", "wait", "start"}
    if name == "time_windows":
        assert waited > 0  # the windows make some agent wait, so the walk is not trivial


def test_every_form_of_the_instance_gives_the_same_routes(tmp_path):
    path = ROOT / "examples" / "two_types.json"
    text = path.read_text()
    with_bom = tmp_path / "bom.json"
    with_bom.write_text("\ufeff" + text, encoding="utf-8")
    forms = [str(path), path, text, "\ufeff" + text, json.loads(text), with_bom]
    paths = [[r.path for r in kvt_mtsp.solve(f, seed=2, iterations=80).routes] for f in forms]
    assert all(p == paths[0] for p in paths)


def test_options_given_override_the_document():
    doc = json.loads((ROOT / "examples" / "euclid_one_type.json").read_text())
    doc["options"] = {**doc.get("options", {}), "improve": False, "seed": 99}
    solution = kvt_mtsp.solve(doc, iterations=40, seed=3)
    assert solution.statistics["improve_iterations"] == 40
    focal = kvt_mtsp.solve(doc, improve=False, time_limit=0.5)
    assert "improve_iterations" not in focal.statistics


def test_refusals_and_missing_files():
    with pytest.raises(FileNotFoundError):
        kvt_mtsp.solve(ROOT / "examples" / "no_such_instance.json")
    with pytest.raises(TypeError):
        kvt_mtsp.solve(42)  # type: ignore[arg-type]
    doc = json.loads((ROOT / "examples" / "two_types.json").read_text())
    doc["agents"][0]["start_node"] = 999
    with pytest.raises(kvt_mtsp.InstanceError, match=r"^agents\[0\]\.start_node: 999 is not a node id"):
        kvt_mtsp.solve(doc)


def test_no_solution_says_why():
    doc = json.loads((ROOT / "examples" / "euclid_one_type.json").read_text())
    doc["constraints"] = [{"kind": "assignment", "items": [{"node": doc["nodes"][1]["id"], "types": []}]}]
    solution = kvt_mtsp.solve(doc, iterations=20, time_limit=0.5)
    assert solution.status == "failed"
    assert solution.objective_value is None
    assert solution.reason and "types" in solution.reason


CHILD = textwrap.dedent(
    """
    import json, os, sys
    import kvt_mtsp
    doc = json.loads(open(sys.argv[1]).read())
    out = os.dup(1)
    if sys.argv[2] == "quiet":  # nothing may reach the process's own streams
        sink = os.open(sys.argv[3], os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
        os.dup2(sink, 1)
        os.dup2(sink, 2)
    print("ready", flush=True, file=os.fdopen(os.dup(out), "w"))
    solution = kvt_mtsp.solve(doc, time_limit=float(sys.argv[4]), iterations=int(sys.argv[5]) or None)
    os.write(out, (json.dumps({"status": solution.status, "result": solution.to_dict()}) + "\\n").encode())
    """
)


def large_doc(n: int = 120, agents: int = 4) -> dict:
    import random

    rng = random.Random(5)
    points = [(rng.uniform(0, 1000), rng.uniform(0, 1000)) for _ in range(n)]
    return {
        "nodes": [{"id": i, "x": x, "y": y} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "t", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"t": [[math.dist(a, b) for b in points] for a in points]},
        "options": {"objective": "min_max"},
    }


def run_child(tmp_path, doc, mode, budget, iterations=0, interrupt_after=None, signum=signal.SIGINT):
    instance = tmp_path / "instance.json"
    instance.write_text(json.dumps(doc))
    sink = tmp_path / "streams.txt"
    env = {**os.environ, "PYTHONUNBUFFERED": "1"}
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD, str(instance), mode, str(sink), str(budget), str(iterations)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
        # A child of a background job inherits an ignored SIGINT; give it the default a terminal would.
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    assert child.stdout.readline().strip() == "ready"
    if interrupt_after is not None:
        time.sleep(interrupt_after)
        child.send_signal(signum)
    out, err = child.communicate(timeout=120)
    return child.returncode, out, err, sink


def test_nothing_reaches_the_process_streams(tmp_path):
    doc = json.loads((ROOT / "examples" / "euclid_one_type.json").read_text())
    doc["constraints"] = []  # every node lacks an assignment: the set-up warns once per node
    code, out, err, sink = run_child(tmp_path, doc, "quiet", 5.0, iterations=50)
    assert code == 0, err
    assert json.loads(out.splitlines()[-1])["status"] == "success"
    assert sink.read_text() == ""
    lines: list[tuple[str, str]] = []
    kvt_mtsp.solve(doc, iterations=20, diagnostics=lambda stream, text: lines.append((stream, text)))
    assert any(text.startswith("[warning] node") for _, text in lines)


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM])
def test_ctrl_c_returns_the_best_routes_so_far(tmp_path, signum):
    doc = large_doc()
    code, out, err, _ = run_child(tmp_path, doc, "plain", 60.0, interrupt_after=2.0, signum=signum)
    assert code == 0, err
    answer = json.loads(out.splitlines()[-1])
    assert answer["status"] == "stopped"
    result = answer["result"]
    assert result["status"] == "success" and result["timeout"] is True
    assert validate_result(Instance.from_document(doc), result) == []
    assert result["anytime"], "the improvements found before Ctrl-C are kept"


def test_an_instance_read_from_a_document_is_solved_from_it():
    doc = json.loads((ROOT / "examples" / "two_types.json").read_text())
    instance = Instance.from_document(doc)
    assert [r.path for r in kvt_mtsp.solve(instance, seed=4, iterations=60).routes] == [
        r.path for r in kvt_mtsp.solve(doc, seed=4, iterations=60).routes
    ]
    built = Instance(nodes=instance.nodes, agents=instance.agents)
    with pytest.raises(TypeError, match="not read from a document"):
        kvt_mtsp.solve(built)


@pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_a_stopped_command_line_solve_writes_its_best_routes(tmp_path, signum, status):
    doc = large_doc()
    instance = tmp_path / "instance.json"
    instance.write_text(json.dumps(doc))
    output = tmp_path / "out.json"
    child = subprocess.Popen(
        [sys.executable, "-m", "kvt_mtsp", "solve", str(instance), "--time-limit", "60", "--quiet", "-o", str(output)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    time.sleep(2.5)
    child.send_signal(signum)
    out, err = child.communicate(timeout=60)
    assert child.returncode == status, err
    assert "Traceback" not in err
    result = json.loads(output.read_text())
    assert result["status"] == "success" and result["timeout"] is True
    assert validate_result(Instance.from_document(doc), result) == []
    assert "interrupted" in out
