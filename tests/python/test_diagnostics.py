"""The diagnostics sink: the solver's console lines reach the caller's callable, and only its own."""

from __future__ import annotations

import json
import math
import random
import signal
import subprocess
import sys
import threading

import pytest

import _kvt_core as core


def doc(first_id: int, n: int = 9, time_limit: float = 0.5) -> dict:
    """An instance without assignment constraints: one warning per node, naming its id."""
    rng = random.Random(first_id)
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    return {
        "nodes": [{"id": first_id + i, "x": x, "y": y} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "truck", "start_node": first_id, "end_node": first_id} for k in range(2)],
        "costs": {"truck": [[round(math.dist(a, b), 3) for b in points] for a in points]},
        "options": {"objective": "min_max", "time_limit": time_limit},
    }


def warnings_for(first_id: int, n: int = 9) -> list[tuple[str, str]]:
    return [
        ("stderr", f"[warning] node {first_id + i} has no assignment constraint; allowing all types") for i in range(n)
    ]


def test_solve_json_str_hands_each_line_with_its_stream():
    lines: list[tuple[str, str]] = []
    result = core.solve_json_str(json.dumps(doc(100)), diagnostics=lambda s, line: lines.append((s, line)))
    assert result["status"] == "success"
    assert lines[:9] == warnings_for(100)
    assert all(stream in ("stdout", "stderr") and "\n" not in line for stream, line in lines)


def test_solve_json_file_and_solver_take_the_sink(tmp_path):
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(doc(300)))
    lines: list[tuple[str, str]] = []
    core.solve_json_file(str(path), 0.2, diagnostics=lambda s, line: lines.append((s, line)))
    assert lines[:9] == warnings_for(300)

    problem = core.Problem()
    for i in range(3):
        node = core.Node()
        node.id = i
        node.position.x = float(i)
        problem.add_node(node)
    agent = core.Agent()
    agent.id, agent.type, agent.start_node, agent.end_node = 0, "truck", 0, 0
    problem.add_agent(agent, 0)
    problem.set_cost_matrix("truck", [[abs(i - j) * 1.0 for j in range(3)] for i in range(3)])
    options = core.Options()
    options.time_limit = 0.2
    captured: list[tuple[str, str]] = []
    solver = core.Solver(problem, options, diagnostics=lambda s, line: captured.append((s, line)))
    assert captured == [
        ("stderr", f"[warning] node {i} has no assignment constraint; allowing all types") for i in range(3)
    ]
    solver.solve()


def test_without_a_sink_the_lines_go_to_the_process_streams(capfd):
    core.solve_json_str(json.dumps(doc(500, n=4)), 0.2)
    out, err = capfd.readouterr()
    assert err.splitlines()[:4] == [line for _, line in warnings_for(500, n=4)]


def test_two_threads_each_get_only_their_own_lines():
    seen: dict[int, list[tuple[str, str]]] = {1000: [], 2000: []}
    errors: list[BaseException] = []
    start = threading.Barrier(2)

    def work(first_id: int) -> None:
        try:
            start.wait()
            core.solve_json_str(
                json.dumps(doc(first_id, n=12, time_limit=1.0)),
                diagnostics=lambda s, line: seen[first_id].append((s, line)),
            )
        except BaseException as err:  # reported below
            errors.append(err)

    threads = [threading.Thread(target=work, args=(first_id,)) for first_id in seen]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(60)
    assert not errors
    for first_id, lines in seen.items():
        other = 3000 - first_id
        assert lines[:12] == warnings_for(first_id, n=12)
        assert not any(f"node {other + i} " in line for _, line in lines for i in range(12))


def test_what_the_sink_raises_propagates_and_a_non_callable_is_refused():
    def refuse(stream: str, line: str) -> None:
        raise LookupError(line)

    with pytest.raises(LookupError, match=r"^\[warning\] node 700 has no assignment constraint"):
        core.solve_json_str(json.dumps(doc(700)), 0.2, diagnostics=refuse)
    with pytest.raises(TypeError, match="diagnostics must be callable or None"):
        core.solve_json_str(json.dumps(doc(700)), 0.2, diagnostics=42)


def test_console_lines_collects_a_solve_and_reports_a_crash():
    from kvt_mtsp.console import ConsoleLines

    with ConsoleLines() as console:
        core.solve_json_str(json.dumps(doc(800, n=3)), 0.2, diagnostics=console)
    assert console.lines[:3] == warnings_for(800, n=3)
    assert console.text.startswith(
        "[warning] node 800 has no assignment constraint; allowing all types\n[warning] node 801 "
    )
    code = "import os\nfrom kvt_mtsp.console import ConsoleLines\nwith ConsoleLines():\n    os.abort()\n"
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert proc.returncode == -signal.SIGABRT
    assert proc.stderr.startswith("Fatal Python error: Aborted")
