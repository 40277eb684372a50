"""The command line against inputs it cannot use, outputs it cannot write and Ctrl-C: one line on
standard error and a fixed exit status each, run as a separate process of the installed script."""

from __future__ import annotations

import json
import math
import os
import pathlib
import signal
import subprocess
import sys
import time

import pytest

from kvt_mtsp.inputs import max_input_bytes, too_large
from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import validate_result

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")


def run(*args, cwd=None, timeout=120):
    return subprocess.run(
        [str(SCRIPT)] + [str(a) for a in args], cwd=cwd, capture_output=True, text=True, timeout=timeout
    )


def one_error_line(proc, text):
    assert proc.returncode == 2, proc.stderr
    assert proc.stdout == ""
    assert proc.stderr == f"kvt-mtsp: error: {text}\n"


def instance_text():
    return (EXAMPLES / "two_types.json").read_text()


def nested(depth):
    return "[" * depth + "]" * depth


# --- unreadable inputs ----------------------------------------------------------------------------


def deep_instance(path):
    doc = json.loads(instance_text())
    text = json.dumps(doc)
    path.write_text(text[:-1] + ', "unused": ' + nested(1000) + "}")  # an instance but for its depth
    return path


def sparse_file(path):
    with open(path, "wb") as handle:
        handle.truncate(max_input_bytes() + 1)
    return path


UNREADABLE = [
    ("deep", deep_instance, "cannot read: JSON nested too deeply"),
    ("deep-everywhere", lambda p: p.write_text(nested(100000)) and p, "cannot read: JSON nested too deeply"),
    ("huge", sparse_file, too_large()),
    ("endless", lambda p: pathlib.Path("/dev/zero"), too_large()),
    ("binary", lambda p: p.write_bytes(b'{"nodes": \x00\x01\x02}') and p, "not a text file (binary data)"),
    ("latin-1", lambda p: p.write_bytes('{"name": "Köln"}'.encode("latin-1")) and p, "not a UTF-8 text file"),
    ("digits", lambda p: p.write_text('{"n": ' + "9" * 5000 + "}") and p, "cannot read: a number has too many digits"),
    ("directory", lambda p: p.mkdir() or p, "is a directory, not a file"),
]


@pytest.mark.parametrize("make, reason", [(m, r) for _, m, r in UNREADABLE], ids=[n for n, _, _ in UNREADABLE])
@pytest.mark.parametrize("command", ["solve", "validate-instance", "validate-result", "convert-tsplib"])
def test_unreadable_input_is_one_line(tmp_path, command, make, reason):
    bad = make(tmp_path / "bad.json")
    good = tmp_path / "good.json"
    good.write_text(instance_text())
    args = {
        "solve": ["solve", bad, "-q"],
        "validate-instance": ["validate", bad, good],
        "validate-result": ["validate", good, bad],
        "convert-tsplib": ["convert-tsplib", bad, "-m", "2"],
    }[command]
    if command == "convert-tsplib" and reason.startswith("cannot read"):
        pytest.skip("not JSON: read as TSPLIB text")
    one_error_line(run(*args), f"{bad}: {reason}")


def test_a_deep_but_readable_document_is_solved(tmp_path):
    doc = json.loads(instance_text())
    doc["unused"] = json.loads(nested(200))
    path = tmp_path / "doc.json"
    path.write_text(json.dumps(doc))
    proc = run("solve", path, "-q", "--time-limit", "0.2")
    assert proc.returncode == 0, proc.stderr


# --- outputs checked before the solve ---------------------------------------------------------------


def unwritable_dir(tmp_path):
    """A directory this process cannot create files in (root ignores permission bits)."""
    if os.geteuid() != 0:
        locked = tmp_path / "locked"
        locked.mkdir()
        locked.chmod(0o500)
        return locked
    probe = pathlib.Path("/sys/kvt-mtsp-probe")
    try:
        probe.open("xb").close()
    except OSError:
        return pathlib.Path("/sys")
    probe.unlink()
    pytest.skip("no directory refuses writes here")


@pytest.mark.parametrize("option", ["--output", "--plot"])
def test_unwritable_outputs_fail_before_solving(tmp_path, option):
    target = unwritable_dir(tmp_path) / "out.file"
    start = time.monotonic()
    proc = run("solve", EXAMPLES / "euclid_one_type.json", "--time-limit", "60", option, target)
    assert time.monotonic() - start < 30  # long before the budget is spent
    one_error_line(proc, f"{target}: cannot write: Permission denied")


def test_the_write_check_leaves_files_as_they_were(tmp_path):
    existing = tmp_path / "old.json"
    existing.write_text("keep")
    new = tmp_path / "new.json"
    # The instance is refused after the checks: neither output may be touched.
    doc = json.loads(instance_text())
    doc["agents"][0]["start_node"] = 99
    bad = tmp_path / "bad.json"
    bad.write_text(json.dumps(doc))
    proc = run("solve", bad, "-q", "-o", existing)
    assert proc.returncode == 2
    proc = run("solve", bad, "-q", "-o", new)
    assert proc.returncode == 2
    assert existing.read_text() == "keep" and not new.exists()


def test_solve_says_where_it_wrote(tmp_path):
    pytest.importorskip("matplotlib")
    result, plot = tmp_path / "r.json", tmp_path / "p.png"
    proc = run("solve", EXAMPLES / "two_types.json", "-q", "--time-limit", "0.3", "-o", result, "--plot", plot)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines()[-2:] == [f"result written to {result}", f"plot written to {plot}"]
    assert json.loads(result.read_text())["status"] == "success"
    assert plot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize(
    "value, reason",
    [
        ("inf", "must be a finite number of seconds, got inf"),
        ("nan", "must be positive, got nan"),
        ("0", "must be positive, got 0"),
        ("-2", "must be positive, got -2"),
        ("soon", "not a number: 'soon'"),
    ],
)
def test_time_limit_must_be_finite_and_positive(value, reason):
    proc = run("solve", EXAMPLES / "two_types.json", "--time-limit", value)
    assert proc.returncode == 2 and proc.stdout == ""
    assert proc.stderr.splitlines()[-1] == f"kvt-mtsp solve: error: argument --time-limit: {reason}"


# --- convert-tsplib ----------------------------------------------------------------------------------

TSP = """NAME : tri
TYPE : TSP
DIMENSION : 3
EDGE_WEIGHT_TYPE : EUC_2D
NODE_COORD_SECTION
1 0 0
2 {x} 4
3 1 1
EOF
"""


@pytest.mark.parametrize("x", ["nan", "inf", "-inf", "1e999"])
def test_convert_tsplib_refuses_non_finite_coordinates(tmp_path, x):
    tsp = tmp_path / "tri.tsp"
    tsp.write_text(TSP.format(x=x))
    one_error_line(
        run("convert-tsplib", tsp, "-m", "1"),
        f"{tsp}: not a TSPLIB EUC_2D file: line 7: coordinates must be finite numbers, got '2 {x} 4'",
    )


def test_convert_tsplib_refuses_distances_that_overflow(tmp_path):
    tsp = tmp_path / "far.tsp"
    tsp.write_text(TSP.format(x="-1e308").replace("3 1 1", "3 1e308 1"))
    one_error_line(
        run("convert-tsplib", tsp, "-m", "1"),
        f"{tsp}: not a TSPLIB EUC_2D file: coordinates so large that distances overflow",
    )


def test_convert_tsplib_output_is_strict_json(tmp_path):
    tsp = tmp_path / "tri.tsp"
    tsp.write_text(TSP.format(x="3"))
    proc = run("convert-tsplib", tsp, "-m", "1")
    assert proc.returncode == 0
    doc = json.loads(proc.stdout, parse_constant=lambda c: pytest.fail(f"non-finite {c} in the output"))
    assert doc["costs"]["vehicle"][0] == [0.0, 5.0, math.sqrt(2)]


# --- Ctrl-C ------------------------------------------------------------------------------------------


def long_instance(path, n=40, agents=3):
    """Euclidean nodes on a circle and inside it: the search runs until its budget is spent."""
    points = [(50.0, 50.0)] + [
        (50 + 40 * math.cos(k * 2.4) * (k % 7 + 3) / 9, 50 + 40 * math.sin(k * 2.4) * (k % 5 + 4) / 8)
        for k in range(1, n)
    ]
    doc = {
        "nodes": [
            {"id": i, "x": x, "y": y, **({"type": "depot"} if i == 0 else {})} for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"truck": [[math.dist(a, b) for b in points] for a in points]},
        "options": {"objective": "min_max", "time_limit": 30},
    }
    path.write_text(json.dumps(doc))
    return path


def test_ctrl_c_prints_the_best_routes_and_writes_the_output(tmp_path):
    instance = long_instance(tmp_path / "long.json")
    output = tmp_path / "result.json"
    # A child of a background job inherits an ignored SIGINT: give it the default a terminal gives.
    proc = subprocess.Popen(
        [str(SCRIPT), "solve", str(instance), "-o", str(output)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    time.sleep(2)
    proc.send_signal(signal.SIGINT)
    sent = time.monotonic()
    out, err = proc.communicate(timeout=30)
    assert time.monotonic() - sent < 10
    assert proc.returncode == 130, err
    assert err.endswith("kvt-mtsp: interrupted\n") and "Traceback" not in err
    result = json.loads(output.read_text())
    assert result["status"] == "success" and result["timeout"] is True
    doc = Instance.from_document(json.loads(instance.read_text()))
    assert validate_result(doc, result) == []
    lines = out.splitlines()
    assert lines[0].split() == ["agent", "type", "stops", "cost", "route"]
    for line, route in zip(lines[1:4], result["routes"]):
        assert [int(v) for v in line.split()[4:]] == route["path"]
    assert lines[4] == (
        f"objective min_max: {result['statistics']['max_cost']:.2f}  "
        f"(max {result['statistics']['max_cost']:.2f}, sum {result['statistics']['sum_cost']:.2f})"
    )
    assert lines[5].endswith("states generated") and "; interrupted after" in lines[5]
    assert lines[-1] == f"result written to {output}"
    assert result["anytime"] and result["anytime"][-1]["max_cost"] == result["statistics"]["max_cost"]
