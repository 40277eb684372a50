"""The `kvt-mtsp` command line, run as a user runs it: a separate process of the installed script."""

from __future__ import annotations

import json
import signal
import subprocess
import sys
import time

import pytest

from cli_support import EXAMPLES, SCRIPT, one_error_line, run, write
from kvt_mtsp.instance import Instance
from kvt_mtsp.results import dumps
from kvt_mtsp.validate import validate_result

# --- solve ---------------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def solved(tmp_path_factory):
    """examples/euclid_one_type.json solved once with --output and --plot."""
    out = tmp_path_factory.mktemp("solve")
    proc = run(
        "solve",
        EXAMPLES / "euclid_one_type.json",
        "--time-limit",
        "0.5",
        "--output",
        out / "result.json",
        "--plot",
        out / "routes.png",
        cwd=out,
    )
    return proc, out


def test_solve_prints_a_route_table_and_the_objective(solved):
    proc, out = solved
    assert proc.returncode == 0, proc.stderr
    result = json.loads((out / "result.json").read_text())
    lines = proc.stdout.splitlines()
    assert lines[0].split() == ["agent", "type", "stops", "cost", "route"]
    for line, route in zip(lines[1:4], result["routes"]):
        agent, kind, stops, cost, *path = line.split()
        assert (int(agent), kind, int(stops)) == (route["agent_id"], "truck", len(route["path"]) - 2)
        assert float(cost) == pytest.approx(route["cost"], abs=0.005)
        assert [int(v) for v in path] == route["path"]
    stats = result["statistics"]
    assert lines[4] == (
        f"objective min_max: {stats['max_cost']:.2f}  (max {stats['max_cost']:.2f}, sum {stats['sum_cost']:.2f})"
    )
    # The solver's own console lines ("w = 1", warnings) are kept off our output.
    assert "[warning]" not in proc.stdout + proc.stderr and "w = 1" not in proc.stdout


def test_solve_output_is_a_valid_result(solved):
    _, out = solved
    result = json.loads((out / "result.json").read_text())
    assert list(result) == ["status", "timeout", "routes", "statistics", "anytime"]
    instance = Instance.from_document(json.loads((EXAMPLES / "euclid_one_type.json").read_text()))
    assert validate_result(instance, result) == []
    proc = run("validate", EXAMPLES / "euclid_one_type.json", out / "result.json")
    assert proc.returncode == 0
    assert proc.stdout == f"OK: 3 routes cover all 15 nodes, min_max {result['statistics']['max_cost']:.2f}\n"


def test_progress_bar_is_shown_unless_quiet(solved, tmp_path):
    proc, _ = solved
    # Not a terminal: one final line instead of redraws.
    assert proc.stderr.startswith("solving [" + "#" * 30 + "] 100%") and proc.stderr.count("\n") == 1
    assert proc.stderr.rstrip().endswith("s / 0.5 s")
    quiet = run("solve", EXAMPLES / "two_types.json", "--time-limit", "0.2", "--quiet")
    assert quiet.returncode == 0 and quiet.stderr == ""
    assert quiet.stdout.splitlines()[0].split() == ["agent", "type", "stops", "cost", "route"]


def test_verbose_shows_the_solver_console_after_the_solve():
    proc = run("solve", EXAMPLES / "euclid_one_type.json", "--time-limit", "0.2", "--quiet", "--verbose")
    assert proc.returncode == 0
    assert "[warning] node 0 has no assignment constraint; allowing all types" in proc.stderr


def test_module_entry_point_matches_the_script(tmp_path):
    assert run("--version", module=True).stdout == run("--version").stdout == "kvt-mtsp 0.1.0\n"
    proc = run(
        "solve", EXAMPLES / "open_routes.json", "--time-limit", "0.2", "-q", "-o", tmp_path / "r.json", module=True
    )
    assert proc.returncode == 0, proc.stderr
    doc = json.loads((EXAMPLES / "open_routes.json").read_text())
    assert validate_result(Instance.from_document(doc), json.loads((tmp_path / "r.json").read_text())) == []


def test_solve_without_a_solution_exits_1(tmp_path):
    doc = json.loads((EXAMPLES / "euclid_one_type.json").read_text())
    doc["options"]["time_limit"] = -1.0  # the search stops before its first solution
    path = tmp_path / "hopeless.json"
    path.write_text(json.dumps(doc))
    proc = run("solve", path, "-q", "--no-improve", "-o", tmp_path / "r.json")
    assert proc.returncode == 1
    assert proc.stdout.splitlines()[1].split() == ["0", "truck", "0", "0.00", "-"]
    assert proc.stdout.splitlines()[-2:] == [
        "no solution found (stopped at the time limit)",
        f"result written to {tmp_path / 'r.json'}",
    ]
    assert json.loads((tmp_path / "r.json").read_text())["status"] == "failed"
    check = run("validate", path, tmp_path / "r.json")
    assert check.returncode == 1 and "the solver found no solution (status 'failed')" in check.stdout


def test_interrupt_stops_a_running_solve(tmp_path):
    # A child of a background job inherits an ignored SIGINT, which Python then leaves ignored;
    # give the command line the default disposition a terminal would.
    proc = subprocess.Popen(
        [str(SCRIPT), "solve", str(EXAMPLES / "euclid_one_type.json"), "--time-limit", "60"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    time.sleep(3)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=30)
    assert proc.returncode == 130
    assert err.endswith("kvt-mtsp: interrupted\n") and "Traceback" not in err


# --- plot ----------------------------------------------------------------------------------------


def test_plot_is_a_png_with_one_colour_per_route(solved):
    from matplotlib import image

    from kvt_mtsp.plot import agent_colours

    _, out = solved
    data = (out / "routes.png").read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pixels = image.imread(str(out / "routes.png"))
    height, width = pixels.shape[:2]
    assert width > 1000 and height > 500
    rgb = pixels[:, : width * 6 // 10, :3]  # the route map is the left panel
    for colour in agent_colours(3):
        close = (abs(rgb - colour[:3]) < 0.03).all(axis=2)
        assert close.sum() > 200, f"route colour {colour} barely drawn"
    distinct = {tuple(p) for p in (rgb.reshape(-1, 3) * 255).round().astype(int)[::7]}
    assert len(distinct) > 20


def test_plot_without_matplotlib_is_one_clear_line(tmp_path):
    code = (
        "import sys; sys.modules['matplotlib'] = None; from kvt_mtsp.cli import main; "
        f"sys.exit(main(['solve', {str(EXAMPLES / 'two_types.json')!r}, '--plot', 'x.png']))"
    )
    proc = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    one_error_line(proc, "--plot: plotting needs matplotlib (pip install 'kvt-mtsp[plot]')")
    assert not (tmp_path / "x.png").exists()


# --- errors users understand -----------------------------------------------------------------------


def small_doc(n=4):
    return {
        "nodes": [{"id": i, "x": float(i), "y": 0.0, **({"type": "depot"} if i == 0 else {})} for i in range(n)],
        "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0}],
        "costs": {"truck": [[abs(a - b) * 1.0 for b in range(n)] for a in range(n)]},
        "options": {"time_limit": 0.2},
    }


@pytest.mark.parametrize(
    "command",
    [
        ["solve", "{missing}"],
        ["validate", "{missing}", "{other}"],
        ["validate", "{other}", "{missing}"],
        ["convert-tsplib", "{missing}", "-m", "2"],
    ],
)
def test_missing_file(tmp_path, command):
    missing = tmp_path / "nope.json"
    other = write(tmp_path, "doc.json", json.dumps(small_doc()))
    args = [a.format(missing=missing, other=other) for a in command]
    one_error_line(run(*args), f"{missing}: no such file")


@pytest.mark.parametrize("command", ["solve", "validate"])
def test_malformed_json(tmp_path, command):
    path = write(tmp_path, "bad.json", '{"nodes": [\n  {"id": 0,, "x": 1}\n]}')
    other = write(tmp_path, "doc.json", json.dumps(small_doc()))
    args = [path] if command == "solve" else [path, other]
    one_error_line(
        run(command, *args),
        f"{path}: malformed JSON: Expecting property name enclosed in double quotes (line 2, column 12)",
    )


def refused(tmp_path, change):
    doc = small_doc()
    change(doc)
    return write(tmp_path, "doc.json", json.dumps(doc))


# The finding of the one reader names what the solver refuses (the engine's own lookup error names
# nothing); formerly the command line wrapped the engine's error or the package's own parse error.
@pytest.mark.parametrize(
    "change, reason",
    [
        (
            lambda d: d.update(small_doc(257), options={"time_limit": 0.2, "improve": False}),
            "nodes: 257 nodes; the solver handles at most 256 (up to 2000 with options.improve true)",
        ),
        (
            lambda d: d["agents"][0].update(start_node=99),
            "agents[0].start_node: 99 is not a node id; the solver refuses the instance",
        ),
        (
            lambda d: d["costs"].update(bike=[[0.0]]),
            'costs.bike: "bike" is not the type of any agent; the solver refuses the instance',
        ),
        (lambda d: d["nodes"][2].pop("y"), "nodes[2].y: required key is missing; the solver refuses the document"),
        (lambda d: d.update(options=[]), "options: expected an object, got array; the solver refuses the document"),
    ],
)
def test_refused_instances(tmp_path, change, reason):
    path = refused(tmp_path, change)
    one_error_line(run("solve", path, "-q"), f"{path}: {reason}")


@pytest.mark.parametrize(
    "text, reason",
    [
        ("[]", "not a result: result: missing key 'status'"),
        ('{"status": "success"}', "not a result: result: missing key 'routes'"),
        (
            '{"status": "success", "routes": [{"agent_id": 0, "path": "0 1", "cost": 1}]}',
            "not a result: route 0: 'path' has the wrong type",
        ),
    ],
)
def test_validate_refuses_documents_that_are_not_results(tmp_path, text, reason):
    result = write(tmp_path, "result.json", text)
    one_error_line(run("validate", write(tmp_path, "doc.json", json.dumps(small_doc())), result), f"{result}: {reason}")


def test_output_into_a_missing_directory_fails_before_solving(tmp_path):
    target = tmp_path / "no" / "r.json"
    one_error_line(
        run("solve", EXAMPLES / "two_types.json", "-o", target),
        f"{target}: cannot write: directory {target.parent} does not exist",
    )


TSP = """NAME : square
TYPE : TSP
DIMENSION : 5
EDGE_WEIGHT_TYPE : EUC_2D
NODE_COORD_SECTION
1 0 0
2 3 4
3 0 4.5
4 -3 4
5 1 1
EOF
"""


def test_convert_tsplib_and_solve_the_result(tmp_path):
    tsp = write(tmp_path, "square.tsp", TSP)
    proc = run("convert-tsplib", tsp, "--agents", "2")
    assert proc.returncode == 0 and proc.stderr == ""
    doc = json.loads(proc.stdout)
    assert doc["name"] == "square"
    assert [(n["id"], n["x"], n["y"], n.get("type")) for n in doc["nodes"]][:3] == [
        (0, 0.0, 0.0, "depot"),
        (1, 3.0, 4.0, None),
        (2, 0.0, 4.5, None),
    ]
    assert doc["agents"] == [{"id": k, "type": "vehicle", "start_node": 0, "end_node": 0} for k in range(2)]
    assert doc["costs"]["vehicle"][0][:3] == [0.0, 5.0, 4.5]
    assert doc["options"] == {"objective": "min_max", "return_to_end": True, "time_limit": 60.0}

    out = tmp_path / "square.json"
    proc = run(
        "convert-tsplib",
        tsp,
        "-m",
        "3",
        "--objective",
        "min_sum",
        "--rounding",
        "nint",
        "--time-limit",
        "0.3",
        "--output",
        out,
    )
    assert proc.returncode == 0 and proc.stdout == ""
    doc = json.loads(out.read_text())
    assert doc["costs"]["vehicle"][0][:3] == [0.0, 5.0, 5.0]  # 4.5 rounds up, as TSPLIB's nint does
    assert doc["costs"]["vehicle"][1][4] == 4.0  # sqrt(13) = 3.61
    assert len(doc["agents"]) == 3 and doc["options"]["objective"] == "min_sum"

    solved = run("solve", out, "-q", "-o", tmp_path / "result.json")
    assert solved.returncode == 0, solved.stderr
    assert run("validate", out, tmp_path / "result.json").returncode == 0


@pytest.mark.parametrize(
    "change, reason",
    [
        (("EUC_2D", "GEO"), "EDGE_WEIGHT_TYPE GEO is not supported, only EUC_2D"),
        (("4 -3 4", "4 -3 x"), "line 9: expected 'index x y', got '4 -3 x'"),
    ],
)
def test_convert_tsplib_refuses_other_files(tmp_path, change, reason):
    tsp = write(tmp_path, "bad.tsp", TSP.replace(*change))
    one_error_line(run("convert-tsplib", tsp, "-m", "2"), f"{tsp}: not a TSPLIB EUC_2D file: {reason}")


@pytest.mark.parametrize("args", [["-m", "0"], ["-m", "2", "--rounding", "ceil"], []])
def test_convert_tsplib_argument_errors(tmp_path, args):
    proc = run("convert-tsplib", write(tmp_path, "s.tsp", TSP), *args)
    assert proc.returncode == 2 and proc.stdout == "" and "usage: kvt-mtsp convert-tsplib" in proc.stderr


# --- pieces ------------------------------------------------------------------------------------------------


def test_dumps_keeps_rows_on_one_line():
    value = {"a": [[1.5, 2], [3, 4]], "b": {"c": [1], "d": None}, "e": [], "f": "x"}
    text = dumps(value)
    assert json.loads(text) == value
    assert text.splitlines()[1:4] == ['  "a": [', "    [1.5, 2],", "    [3, 4]"]
    assert '  "b": {\n    "c": [1],\n    "d": null\n  },' in text
