"""The benchmark's helpers: TSPLIB reading, distances, instance documents, route checks and validation,
the variant generator, the OR-Tools model of a variant, gaps and tables."""

from __future__ import annotations

import functools
import json
import math
import pathlib
import re
import subprocess
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[2] / "bench"
sys.path.insert(0, str(BENCH))

import bench_tools as bt  # noqa: E402
import pyvrp_peer  # noqa: E402
import run_bench  # noqa: E402
import variants  # noqa: E402

TINY = """NAME: tiny
TYPE : TSP
COMMENT : hand-made, nodes listed out of order
DIMENSION: 4
EDGE_WEIGHT_TYPE : EUC_2D
NODE_COORD_SECTION
2 3 0
1 0.0 0.0
4 0 4.5
3 3 4
EOF
ignored after EOF
"""


def tiny():
    return bt.parse_tsplib(TINY)


# --- TSPLIB reading ----------------------------------------------------------------------------


def test_parse_maps_file_node_k_to_index_k_minus_1():
    tsp = tiny()
    assert tsp.name == "tiny"
    assert tsp.points == [(0.0, 0.0), (3.0, 0.0), (3.0, 4.0), (0.0, 4.5)]


@pytest.mark.parametrize(
    "change, message",
    [
        (("EUC_2D", "ATT"), "EDGE_WEIGHT_TYPE ATT is not supported"),
        (("DIMENSION: 4", "DIMENSION: 5"), "DIMENSION 5 but 4 coordinates"),
        (("4 0 4.5", "5 0 4.5"), "node indices must be 1..n"),
        (("3 3 4", "3 3"), "line 10: expected 'index x y'"),
        (("3 3 4", "2 3 4"), "line 10: node 2 listed twice"),
        (("NODE_COORD_SECTION", "COORDS"), "unexpected 'COORDS'"),
    ],
)
def test_parse_rejects_malformed_files(change, message):
    with pytest.raises(ValueError, match=message):
        bt.parse_tsplib(TINY.replace(*change))


@pytest.mark.parametrize(
    "name, nodes, first, last",
    [
        ("eil51", 51, (37.0, 52.0), (30.0, 40.0)),
        ("berlin52", 52, (565.0, 575.0), (1740.0, 245.0)),
        ("eil76", 76, (22.0, 22.0), (40.0, 40.0)),
        ("rat99", 99, (6.0, 4.0), (85.0, 204.0)),
        ("lin318", 318, (63.0, 71.0), (1693.0, 4055.0)),
        ("att532.euc2d", 532, (7810.0, 6053.0), (5469.0, 10.0)),  # "NAME : att532", spaces around colons
        ("rat783", 783, (13.0, 6.0), (231.0, 580.0)),  # coordinate lines indented
    ],
)
def test_shipped_instances(name, nodes, first, last):
    path = bt.resolve_instance(name)
    tsp = bt.load_tsplib(path)
    assert (bt.instance_name(path), len(tsp.points), tsp.points[0], tsp.points[-1]) == (name, nodes, first, last)
    assert tsp.name == name.split(".")[0]  # the file's NAME field


def test_resolve_instance_names_and_paths():
    assert bt.resolve_instance("eil51") == bt.DATA_DIR / "eil51.tsp"
    assert bt.resolve_instance("rat783") == bt.LARGE_DIR / "rat783.tsp"
    assert bt.resolve_instance("att532.euc2d") == bt.LARGE_DIR / "att532.euc2d.tsp"
    assert bt.resolve_instance("other/x.tsp") == pathlib.Path("other/x.tsp")
    assert bt.resolve_instance("x.tsp") == pathlib.Path("x.tsp")
    assert bt.instance_name(pathlib.Path("a/att532.euc2d.tsp")) == "att532.euc2d"


# --- distance convention -----------------------------------------------------------------------


def test_distances_are_real_euclidean_not_rounded():
    d = bt.distance_matrix(tiny().points)
    assert d[0][2] == 5.0 and d[2][0] == 5.0
    assert d[0][3] == 4.5  # TSPLIB's EUC_2D would round this to 5
    assert d[1][3] == math.sqrt(9 + 4.5**2)
    assert all(d[i][i] == 0.0 for i in range(4))


@pytest.mark.parametrize(
    "name, agents, tolerance",
    [
        ("eil51", 7, 1e-3),
        ("berlin52", 5, 1e-3),
        ("berlin52", 7, 1e-3),
        ("eil76", 7, 1e-3),
        ("lin318", 10, 1e-3),
        ("att532.euc2d", 20, 2e-3),
        ("rat783", 20, 2e-3),
    ],
)
def test_bounded_best_known_values_match_depot_and_distances(name, agents, tolerance):
    # These best-known values are (within rounding of) twice the farthest city from the depot: they
    # hold only when the depot is the file's first node and distances are unrounded.
    path = bt.resolve_instance(name)
    points = bt.load_tsplib(path).points
    bound = 2 * max(math.dist(points[0], p) for p in points)
    bks = bt.load_bks(bt.LARGE_DIR / "bks.json" if path.parent == bt.LARGE_DIR else bt.DATA_DIR / "bks.json")
    best = bt.bks_value(bks, name, agents, "min_max")
    assert bound - 1e-4 <= best <= bound + tolerance  # the values carry four decimals


# --- instance documents --------------------------------------------------------------------------


def test_instance_document():
    doc = bt.build_instance(tiny(), 3, "min_max", 2.5)
    assert [n["id"] for n in doc["nodes"]] == [0, 1, 2, 3]
    assert [n.get("type") for n in doc["nodes"]] == ["depot", None, None, None]
    assert (doc["nodes"][3]["x"], doc["nodes"][3]["y"]) == (0.0, 4.5)
    assert doc["agents"] == [{"id": k, "type": "vehicle", "start_node": 0, "end_node": 0} for k in range(3)]
    assert list(doc["costs"]) == ["vehicle"]
    assert doc["costs"]["vehicle"][0][3] == 4.5
    assert doc["options"] == {"objective": "min_max", "return_to_end": True, "time_limit": 2.5}
    assert json.loads(json.dumps(doc)) == doc  # floats survive the text round trip exactly


@pytest.mark.parametrize("agents, objective", [(0, "min_max"), (2, "MinMax"), (2, "min-sum")])
def test_instance_document_rejects_bad_arguments(agents, objective):
    with pytest.raises(ValueError):
        bt.build_instance(tiny(), agents, objective, 1.0)


# --- route checks, objectives, gaps --------------------------------------------------------------


def test_verify_recomputes_both_objectives():
    # Routes 0-1-2-0 (3 + 4 + 5) and 0-3-0 (4.5 + 4.5); an unused agent may be [0] or [0, 0].
    paths = [[0, 1, 2, 0], [0, 3, 0], [0], [0, 0]]
    for objective, expected in (("min_max", 12.0), ("min_sum", 21.0)):
        doc = bt.build_instance(tiny(), 4, objective, 1.0)
        assert bt.verify(doc, paths) == (expected, None)
        assert bt.verify(doc, paths, expected + 1e-9) == (expected, None)
        value, fault = bt.verify(doc, paths, expected + 0.01)
        assert value == expected and fault.startswith("reported")


@pytest.mark.parametrize(
    "paths, message",
    [
        ([[0, 1, 2, 0], [0, 0]], r"1 nodes not visited, first \[3\]"),
        ([[0, 1, 2, 0], [0, 3, 1, 0]], "node 1 visited twice"),
        ([[0, 1, 2], [0, 3, 0]], "route 0 does not start and end at the depot"),
        ([[0, 1, 0, 2, 0], [0, 3, 0]], "route 0 visits invalid node 0"),
        ([[0, 1, 2, 7, 0], [0, 3, 0]], "route 0 visits invalid node 7"),
        ([[0, 1, 2, 3, 0], [2]], r"route 1 is \[2\], not at the depot"),
    ],
)
def test_route_faults_are_named(paths, message):
    doc = bt.build_instance(tiny(), 2, "min_sum", 1.0)
    value, fault = bt.verify(doc, paths)
    assert value is None
    assert re.search(message, fault), fault


@pytest.mark.parametrize(
    "value, reference, expected",
    [
        (110.0, 100.0, 10.0),
        (99.0, 100.0, -1.0),
        (222.7, 222.7, 0.0),
        (None, 100.0, None),
        (5.0, None, None),
        (5.0, 0.0, None),
    ],
)
def test_gap_percent(value, reference, expected):
    assert bt.gap_percent(value, reference) == (pytest.approx(expected) if expected is not None else None)


def test_reference_values():
    bks = bt.load_bks()
    assert bt.bks_value(bks, "eil51", 2, "min_max") == 222.7
    assert bt.bks_value(bks, "eil76", 5, "min_max") == 143.4
    assert bt.bks_value(bks, "rat99", 7, "min_max") == 437.257
    # min_sum: the single-tour optimum, whatever the agent count
    assert bt.bks_value(bks, "eil51", 2, "min_sum") == bt.bks_value(bks, "eil51", 7, "min_sum") == 428.8718
    assert bt.bks_value(bks, "rat99", 3, "min_sum") == 1219.2438
    assert bt.bks_value(bks, "eil51", 4, "min_max") is None
    assert bt.bks_value(bks, "kroA100", 2, "min_sum") is None
    large = bt.load_bks(bt.LARGE_DIR / "bks.json")
    assert bt.bks_value(large, "att532.euc2d", 20, "min_max") == 17641.1643
    assert sorted(large["min_max"]["lin318"], key=int) == ["3", "5", "10"]


@pytest.mark.parametrize(
    "value, digits, text",
    [
        (None, 2, "—"),
        (True, 2, "yes"),
        (False, 2, "no"),
        (1234567, 2, "1 234 567"),
        (3.14159, 3, "3.142"),
        (61508.4, 0, "61 508"),
        ("ok", 2, "ok"),
        (-0.001, 2, "0.00"),
        (-0.006, 2, "-0.01"),
    ],
)
def test_cell_format(value, digits, text):
    assert bt.fmt(value, digits) == text


# --- validation of solver results ----------------------------------------------------------------


def window_doc(objective="min_max"):
    """0 depot, 1 at (3, 0), 2 at (3, 4) with a window [10, 20]: 0-1-2-0 arrives at 2 at 7, waits to 10
    and is back at 15; two agents."""
    doc = bt.build_instance(bt.TspInstance("w", [(0.0, 0.0), (3.0, 0.0), (3.0, 4.0)]), 2, objective, 1.0)
    doc["constraints"] = [{"kind": "timewindow", "items": [{"node": 2, "start": 10.0, "end": 20.0}]}]
    return doc


@pytest.mark.parametrize(
    "objective, paths, status, value, message",
    [
        ("min_max", [[0, 1, 2, 0], [0]], "ok", 15.0, None),
        ("min_sum", [[0, 1, 0], [0, 2, 0]], "ok", 21.0, None),  # 6, and 15 after the wait at node 2
        ("min_sum", [[0, 1, 2, 0], [0, 0]], "ok", 15.0, None),
        ("min_max", [[0, 1, 0], [0, 0]], "invalid", 6.0, "1 node(s) not visited: 2"),
        ("min_max", [[0, 2, 1, 2, 0], [0]], "invalid", None, "already served"),
    ],
)
def test_peer_paths_are_timed_and_validated(objective, paths, status, value, message):
    inst = bt.Instance.from_document(window_doc(objective))
    res = {"status": "ok", "paths": paths}
    bt.check_result(inst, res)
    assert res["status"] == status and res["valid"] == (status == "ok")
    if value is not None:
        assert res["value"] == pytest.approx(value)
    if message:
        assert message in res["message"]


def test_kvt_results_have_their_reported_costs_checked():
    inst = bt.Instance.from_document(window_doc())
    routes = [{"agent_id": 0, "path": [0, 1, 2, 0], "cost": 15.0}, {"agent_id": 1, "path": [0], "cost": 0.0}]
    res = {
        "status": "ok",
        "paths": [r["path"] for r in routes],
        "routes": routes,
        "statistics": {"max_cost": 15.0, "sum_cost": 15.0},
    }
    bt.check_result(inst, res)
    assert (res["status"], res["value"], res["violations"]) == ("ok", 15.0, [])
    routes[0]["cost"] = 12.0  # the distances without the wait
    res = {"status": "ok", "paths": [r["path"] for r in routes], "routes": routes}
    bt.check_result(inst, res)
    assert res["status"] == "invalid"
    assert res["violations"] == ["route 0 (agent 0): reports cost 12, but the route costs 15"]


@pytest.mark.parametrize("status", ["failed", "error", "killed", "unsupported"])
def test_runs_without_routes_keep_their_status(status):
    res = {"status": status, "message": "m"}
    bt.check_result(bt.Instance.from_document(window_doc()), res)
    assert res == {"status": status, "message": "m", "value": None}


# --- variant instances -----------------------------------------------------------------------------


@functools.cache
def variant(name, seed=0, objective="min_max"):
    spec = variants.variant_spec(name)
    return spec, variants.generate(spec, bt.load_tsplib(bt.resolve_instance(spec.source)).points, seed, objective, 2.0)


def targets_of(doc):
    depots = {a["start_node"] for a in doc["agents"]} | {a["end_node"] for a in doc["agents"]}
    return [n["id"] for n in doc["nodes"] if n["id"] not in depots]


@pytest.mark.parametrize("name", variants.VARIANT_NAMES)
def test_variants_are_feasible_and_have_their_features(name):
    spec, (doc, solution) = variant(name)
    assert json.loads(json.dumps(doc)) == doc
    inst = bt.Instance.from_document(doc)
    assert bt.validate_result(inst, solution) == []
    assert len(doc["nodes"]) == spec.nodes <= 256 and len(doc["agents"]) == spec.agents
    assert doc["options"] == {"objective": "min_max", "return_to_end": not spec.open_routes, "time_limit": 2.0}
    kinds = {c["kind"]: c["items"] for c in doc.get("constraints", [])}
    targets = targets_of(doc)

    assert (sorted(doc["costs"]) == ["bike", "car"]) == spec.types
    if spec.types:
        assert {a["type"] for a in doc["agents"]} == {"car", "bike"}
        served_by = {it["node"]: it["types"] for it in kinds["assignment"]}
        only = [served_by[v] for v in targets if len(served_by[v]) == 1]
        assert ["car"] in only and ["bike"] in only
        assert doc["costs"]["bike"][1][2] == 1.25 * doc["costs"]["car"][1][2]
    assert ("timewindow" in kinds) == spec.windows
    if spec.windows:
        assert len(kinds["timewindow"]) >= 0.3 * len(targets)
        assert all(0 <= it["start"] < it["end"] for it in kinds["timewindow"])
        # The windows matter: every route driven backwards breaks some window.
        backwards = {
            **solution,
            "routes": [
                {**r, "path": [r["path"][0]] + r["path"][-2:0:-1] + [r["path"][-1]]} for r in solution["routes"]
            ],
        }
        assert {v.kind for v in bt.validate_result(inst, backwards)} >= {"window"}
    limits = [a.get("max_length", 0) for a in doc["agents"]]
    assert all(isinstance(x, int) and x > 0 for x in limits) == spec.limits
    if spec.limits:
        # The limits matter: no agent could serve every target alone.
        assert sum(r["cost"] for r in solution["routes"]) > max(limits)
    assert any(a["start_node"] != a["end_node"] for a in doc["agents"]) == spec.depots
    depot_nodes = [n["id"] for n in doc["nodes"] if n.get("type") == "depot"]
    assert sorted(depot_nodes) == sorted(set(range(spec.nodes)) - set(targets))


@pytest.mark.parametrize("name", variants.VARIANT_NAMES)
def test_variants_are_deterministic(name):
    spec, first = variant(name)
    variant.cache_clear()
    assert variant(name)[1] == first
    other = variant(name, seed=1)[1]
    if spec.types or spec.windows:
        assert other[0] != first[0]
    assert bt.validate_result(bt.Instance.from_document(other[0]), other[1]) == []


def test_variant_objective_and_budget_reach_the_document():
    _, (doc, _) = variant("eil76-windows", 0, "min_sum")
    assert doc["options"]["objective"] == "min_sum"
    with pytest.raises(ValueError, match="unknown variant 'x'"):
        variants.variant_spec("x")
    with pytest.raises(ValueError, match="eil51 has 51 points, 60 needed"):
        variants.generate(variants.VariantSpec("big", "eil51", 60, 2), [(0.0, 0.0)] * 51)


def test_variants_are_written_to_files(tmp_path, capsys):
    assert variants.main([str(tmp_path), "eil51-types", "--budget", "2"]) == 0
    assert sorted(p.name for p in tmp_path.iterdir()) == [
        "eil51-types-min_max.json",
        "eil51-types-min_sum.json",
        "eil51-types.solution.json",
    ]
    _, (doc, solution) = variant("eil51-types")
    assert json.loads((tmp_path / "eil51-types-min_max.json").read_text()) == doc
    assert json.loads((tmp_path / "eil51-types.solution.json").read_text()) == solution
    assert capsys.readouterr().out == "eil51-types: 51 nodes, 4 agents, types\n"


TINY_SPECS = [
    variants.VariantSpec("tiny-all", "eil51", 14, 3, types=True, windows=True, limits=True, depots=True),
    variants.VariantSpec(
        "tiny-open", "eil51", 14, 3, types=True, windows=True, limits=True, open_routes=True, depots=True
    ),
]


@pytest.mark.parametrize("spec", TINY_SPECS, ids=lambda s: s.name)
@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
def test_ortools_model_of_a_variant_is_valid(spec, objective):
    pytest.importorskip("ortools")
    import ortools_peer

    doc, solution = variants.generate(spec, bt.load_tsplib(bt.resolve_instance("eil51")).points, 0, objective)
    inst = bt.Instance.from_document(doc)
    res = ortools_peer.solve(doc, 1.0)
    assert res["dropped"] == 0
    out = {"status": "ok", "paths": res["paths"]}
    bt.check_result(inst, out)
    assert (out["status"], out["violations"]) == ("ok", [])
    # Fourteen nodes: guided local search reaches the construction's quality at least.
    key = "max_cost" if objective == "min_max" else "sum_cost"
    assert out["value"] <= solution["statistics"][key] + 1e-6


# --- PyVRP's model ---------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "change, reason",
    [
        (lambda d: None, None),
        (lambda d: d["options"].update(objective="min_max"), "objective is not min_sum"),
        (lambda d: d["options"].update(return_to_end=False), "open routes"),
        (lambda d: d["agents"][1].update(end_node=1), "more than one depot"),
        (lambda d: d["agents"][1].update(type="bike"), "more than one agent type"),
        (lambda d: d["agents"][0].update(max_length=50), "route-length limits"),
        (
            lambda d: d.update(constraints=[{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 9}]}]),
            "timewindow constraints",
        ),
        (lambda d: d.update(agents=[]), "no agents"),
    ],
)
def test_pyvrp_model_covers_single_depot_min_sum(change, reason):
    doc = bt.build_instance(tiny(), 2, "min_sum", 1.0)
    change(doc)
    assert pyvrp_peer.unsupported(doc) == reason


def test_pyvrp_child_gives_valid_routes():
    python = BENCH / ".venv-pyvrp" / "bin" / "python"
    if not python.exists() or subprocess.run([str(python), "-c", "import pyvrp"]).returncode != 0:
        pytest.skip("no PyVRP environment (bench/setup_pyvrp.sh makes it)")
    doc = bt.build_instance(
        bt.TspInstance("p", bt.load_tsplib(bt.resolve_instance("eil51")).points[:12]), 3, "min_sum", 0.5
    )
    proc = subprocess.run(
        [str(python), str(BENCH / "pyvrp_peer.py"), "--budget", "0.5"],
        input=json.dumps(doc),
        capture_output=True,
        text=True,
        timeout=120,
    )
    lines = proc.stdout.splitlines()
    assert proc.returncode == 0 and len(lines) == 1, proc.stderr
    res = json.loads(lines[0])
    assert (res["solver"], res["status"], len(res["paths"])) == ("pyvrp", "ok", 3)
    bt.check_result(bt.Instance.from_document(doc), res)
    assert (res["status"], res["violations"]) == ("ok", [])
    # Twelve nodes: at least as good as one nearest-neighbour tour with 2-opt (up to the integer scaling).
    matrix = doc["costs"]["vehicle"]
    tour = variants._order_route(matrix, 0, 0, list(range(1, 12)), False)
    assert res["value"] <= sum(matrix[a][b] for a, b in zip(tour, tour[1:])) + 0.01


# --- rows, tables and result files -----------------------------------------------------------------


@pytest.mark.parametrize(
    "start, objective, expected",
    [
        (0.005, "min_max", 0.025),  # the engine beats 190 at 0.030
        (0.005, "min_sum", None),  # 580 is no better than 560
        (0.001, "min_max", 0.003),  # no solution before the hand-over: the engine's first one counts
        (0.030, "min_max", None),  # nothing after the hand-over
    ],
)
def test_first_improvement_after_the_hand_over(start, objective, expected):
    anytime = [
        {"time": 0.004, "max_cost": 200.0, "sum_cost": 600.0},
        {"time": 0.005, "max_cost": 190.0, "sum_cost": 560.0},
        {"time": 0.030, "max_cost": 180.0, "sum_cost": 580.0},
    ]
    improve = {"status": "ok", "anytime": anytime, "statistics": {"improve_start_time": start}}
    got = run_bench.after_handover(improve, objective)
    assert got == (None if expected is None else pytest.approx(expected, abs=1e-12))


def test_no_hand_over_without_the_start_time():
    assert run_bench.after_handover({"anytime": [{"time": 0.1, "max_cost": 1.0, "sum_cost": 1.0}]}, "min_max") is None


def test_first_improvement_time():
    anytime = [
        {"time": 0.004, "max_cost": 200.0, "sum_cost": 600.0},
        {"time": 0.005, "max_cost": 190.0, "sum_cost": 560.0},
        {"time": 0.030, "max_cost": 180.0, "sum_cost": 580.0},
    ]
    improve = {"status": "ok", "anytime": anytime}
    assert run_bench.first_improvement(improve, {"status": "ok", "value": 190.0}, "min_max") == 0.030
    assert run_bench.first_improvement(improve, {"status": "ok", "value": 560.0}, "min_sum") is None
    assert run_bench.first_improvement(improve, {"status": "ok", "value": 570.0}, "min_sum") == 0.005
    # Without a focal result: the first entry better than the run's own first solution.
    assert run_bench.first_improvement(improve, None, "min_max") == 0.005
    assert run_bench.first_improvement(improve, {"status": "failed", "value": None}, "min_max") == 0.005
    assert run_bench.first_improvement({"anytime": anytime[:1]}, None, "min_max") is None
    # A focal run whose log holds a better solution than its final result (post-optimisation made the
    # sum worse): only what beats the log counts.
    focal = {"status": "ok", "value": 600.0, "anytime": [{"time": 0.004, "max_cost": 200.0, "sum_cost": 570.0}]}
    assert run_bench.first_improvement(improve, focal, "min_sum") == 0.005
    focal["anytime"][0]["sum_cost"] = 550.0
    assert run_bench.first_improvement(improve, focal, "min_sum") is None


def sample_row():
    results = {
        "kvt": {"status": "ok", "value": 233.835, "first_time": 0.004, "peak_rss_mib": 20.0},
        "kvt-improve": {
            "status": "ok",
            "value": 226.1535,
            "anytime": [
                {"time": 0.004, "max_cost": 233.835, "sum_cost": 600.0},
                {"time": 0.012, "max_cost": 226.1535, "sum_cost": 590.0},
            ],
        },
        "ortools": {"status": "invalid", "value": 224.0, "message": "1 node(s) not visited: 7"},
        "pyvrp": {"status": "unsupported", "message": "outside the PyVRP model"},
    }
    row = {"instance": "eil51", "kind": "tsplib", "nodes": 51, "agents": 2, "objective": "min_max", "make": None}
    return run_bench.make_row(row, 1.0, bt.load_bks(), results)


def test_row_gaps_and_tables():
    row = sample_row()
    assert "make" not in row and row["reference"] == 222.7
    assert row["solvers"]["kvt"]["gap"] == pytest.approx(5.0)
    assert row["solvers"]["kvt-improve"]["gap"] == pytest.approx(1.55, abs=1e-3)
    assert row["solvers"]["kvt-improve"]["first_improvement_time"] == 0.012
    assert row["improve_vs_ortools"] is None  # OR-Tools' routes are invalid
    assert row["improve_vs_pyvrp"] is None

    solvers = ["kvt", "kvt-improve", "ortools", "pyvrp"]
    cols = run_bench.columns(solvers)
    table = run_bench.render_markdown_table([row], cols).splitlines()
    assert len(table) == 3
    cells = dict(zip([c[0] for c in cols], [c.strip() for c in table[2].strip("|").split("|")]))
    assert (cells["reference"], cells["focal"], cells["focal gap %"], cells["improve"]) == (
        "222.70",
        "233.84",
        "5.00",
        "226.15",
    )
    assert (cells["OR-Tools"], cells["PyVRP"], cells["PyVRP gap %"]) == ("224.00 (invalid)", "n/a", "—")
    assert (cells["improve vs OR-Tools %"], cells["valid"]) == ("—", "no: OR-Tools")
    assert (cells["improve first impr s"], cells["focal first sol s"]) == ("0.012", "0.004")
    assert cells["status"] == "OR-Tools invalid"
    assert run_bench.problems([row]) == ["eil51 m=2 min_max OR-Tools: invalid 1 node(s) not visited: 7"]
    assert run_bench.summary([row], solvers) == [
        "min_max, focal: mean gap 5.00 %, largest 5.00 % over 1 rows",
        "min_max, improve: mean gap 1.55 %, largest 1.55 % over 1 rows",
        "improve: first improvement after at most 0.012 s (1 rows with an improvement)",
    ]

    meta = {"label": "t", "budget": 1.0, "solvers": solvers}
    text = run_bench.results_json(meta, ["a note"], [row, row])
    assert json.loads(text) == {**meta, "notes": ["a note"], "rows": [row, row]}


def test_variant_rows_have_no_reference():
    results = {"kvt-improve": {"status": "ok", "value": 10.0}, "ortools": {"status": "ok", "value": 12.5}}
    row = {
        "instance": "eil76-windows",
        "kind": "variant",
        "features": "windows",
        "nodes": 76,
        "agents": 3,
        "objective": "min_max",
    }
    out = run_bench.make_row(row, 1.0, bt.load_bks(), results)
    assert out["reference"] is None and out["solvers"]["ortools"]["gap"] is None
    assert out["improve_vs_ortools"] == pytest.approx(-20.0)
    assert run_bench.validity_cell(out) == "yes"
    results["ortools"]["value"] = 9.0
    worse = run_bench.make_row(row, 1.0, bt.load_bks(), results)
    assert run_bench.summary([out, worse], ["kvt-improve", "ortools"]) == [
        "improve worse than OR-Tools on 1 of 2 rows: eil76-windows m=3 min_max"
    ]


def test_suites_and_their_rows():
    args = run_bench.parse_args(["--suite", "large"])
    assert (args.budget, args.solvers, args.objectives, args.variants) == (
        60.0,
        ["kvt-improve", "kvt-improve-2", "ortools"],
        ["min_max"],
        [],
    )
    assert args.short_budgets == [] and run_bench.run_keys(args) == args.solvers
    rows = run_bench.plan_rows(args, bt.load_bks(args.bks_file))
    assert [(r["instance"], r["agents"]) for r in rows] == [
        ("lin318", 3),
        ("lin318", 5),
        ("lin318", 10),
        ("att532.euc2d", 3),
        ("att532.euc2d", 5),
        ("att532.euc2d", 10),
        ("att532.euc2d", 20),
        ("rat783", 3),
        ("rat783", 5),
        ("rat783", 10),
        ("rat783", 20),
    ]
    assert rows[4]["nodes"] == 532

    args = run_bench.parse_args([])
    assert (args.budget, args.solvers) == (10.0, ["kvt", "kvt-improve", "kvt-improve-2", "ortools", "pyvrp"])
    assert run_bench.run_keys(args) == [
        *args.solvers,
        "kvt-improve@0.1",
        "kvt-improve-2@0.1",
        "kvt-improve@1",
        "kvt-improve-2@1",
    ]
    rows = run_bench.plan_rows(args, bt.load_bks(args.bks_file))
    assert len(rows) == 4 * 4 * 2 + len(variants.VARIANTS) * 2
    assert sum(r["kind"] == "variant" for r in rows) == 16

    args = run_bench.parse_args(
        ["--instances", "eil51", "--agents", "3", "--objectives", "min_sum", "--variants", "--budget", "2"]
    )
    rows = run_bench.plan_rows(args, bt.load_bks(args.bks_file))
    assert [(r["instance"], r["agents"], r["objective"]) for r in rows] == [("eil51", 3, "min_sum")]
    doc = rows[0]["make"]()
    assert doc["options"] == {"objective": "min_sum", "return_to_end": True, "time_limit": 2.0}


@pytest.mark.parametrize(
    "argv",
    [
        ["--budget", "0"],
        ["--short-budgets", "0.1", "0"],
        ["--agents", "0"],
        ["--label", "a b"],
        ["--objectives", "minmax"],
        ["--solvers", "lkh"],
        ["--suite", "huge"],
        ["--variants", "nope"],
    ],
)
def test_bad_arguments_are_refused(argv, capsys):
    with pytest.raises(SystemExit) as exc:
        run_bench.parse_args(argv)
    assert exc.value.code == 2


def test_short_budget_columns_and_the_threads_summary():
    assert run_bench.label("kvt-improve-2@0.1") == "improve 2 threads 0.1 s"
    assert run_bench.label("kvt-improve") == "improve"
    args = run_bench.parse_args(["--solvers", "kvt-improve", "kvt-improve-2", "--short-budgets", "0.5"])
    keys = run_bench.run_keys(args)
    assert keys == ["kvt-improve", "kvt-improve-2", "kvt-improve@0.5", "kvt-improve-2@0.5"]

    def run(value, iterations):
        return {"status": "ok", "value": value, "statistics": {"improve_iterations": iterations}}

    rows = [
        {
            "instance": name,
            "agents": 3,
            "objective": "min_max",
            "solvers": {
                "kvt-improve": run(10.0, 1000),
                "kvt-improve-2": run(two, 1800),
                "kvt-improve@0.5": run(11.0, 100),
                "kvt-improve-2@0.5": run(11.0, 220),
            },
        }
        for name, two in (("eil51", 9.0), ("eil76", 10.5))
    ]
    assert run_bench.threads_summary(rows, keys) == [
        "improve 2 threads worse than improve on 1 of 2 rows: eil76 m=3 min_max",
        "improve 2 threads: 1.80 x the iterations of improve (mean over 2 rows)",
        "improve 2 threads 0.5 s worse than improve 0.5 s on 0 of 2 rows",
        "improve 2 threads 0.5 s: 2.20 x the iterations of improve 0.5 s (mean over 2 rows)",
    ]
    cols = [c[0] for c in run_bench.columns(keys)]
    assert "improve 2 threads 0.5 s gap %" in cols
