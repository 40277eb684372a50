"""The benchmark's pure helpers: TSPLIB reading, distances, instance documents, route checks, gaps."""
from __future__ import annotations

import json
import math
import pathlib
import re
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[2] / "bench"
sys.path.insert(0, str(BENCH))

import bench_tools as bt  # noqa: E402
import run_bench  # noqa: E402

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


@pytest.mark.parametrize("change, message", [
    (("EUC_2D", "ATT"), "EDGE_WEIGHT_TYPE ATT is not supported"),
    (("DIMENSION: 4", "DIMENSION: 5"), "DIMENSION 5 but 4 coordinates"),
    (("4 0 4.5", "5 0 4.5"), "node indices must be 1..n"),
    (("3 3 4", "3 3"), "line 10: expected 'index x y'"),
    (("3 3 4", "2 3 4"), "line 10: node 2 listed twice"),
    (("NODE_COORD_SECTION", "COORDS"), "unexpected 'COORDS'"),
])
def test_parse_rejects_malformed_files(change, message):
    with pytest.raises(ValueError, match=message):
        bt.parse_tsplib(TINY.replace(*change))


@pytest.mark.parametrize("name, nodes, first, last", [
    ("eil51", 51, (37.0, 52.0), (30.0, 40.0)),
    ("berlin52", 52, (565.0, 575.0), (1740.0, 245.0)),
    ("eil76", 76, (22.0, 22.0), (40.0, 40.0)),
])
def test_shipped_instances(name, nodes, first, last):
    tsp = bt.load_tsplib(bt.resolve_instance(name))
    assert (tsp.name, len(tsp.points), tsp.points[0], tsp.points[-1]) == (name, nodes, first, last)


def test_resolve_instance_names_and_paths():
    assert bt.resolve_instance("eil51") == bt.DATA_DIR / "eil51.tsp"
    assert bt.resolve_instance("other/x.tsp") == pathlib.Path("other/x.tsp")


# --- distance convention -----------------------------------------------------------------------

def test_distances_are_real_euclidean_not_rounded():
    d = bt.distance_matrix(tiny().points)
    assert d[0][2] == 5.0 and d[2][0] == 5.0
    assert d[0][3] == 4.5  # TSPLIB's EUC_2D would round this to 5
    assert d[1][3] == math.sqrt(9 + 4.5 ** 2)
    assert all(d[i][i] == 0.0 for i in range(4))


@pytest.mark.parametrize("name, agents", [("eil51", 7), ("berlin52", 5), ("berlin52", 7), ("eil76", 7)])
def test_bounded_best_known_values_match_depot_and_distances(name, agents):
    # These best-known values are twice the farthest city from the depot: they hold only when the
    # depot is the file's first node and distances are unrounded.
    matrix = bt.distance_matrix(bt.load_tsplib(bt.resolve_instance(name)).points)
    best = bt.bks_value(bt.load_bks(), name, agents, "min_max")
    assert 2 * max(matrix[0]) == pytest.approx(best, abs=1e-3)


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


@pytest.mark.parametrize("paths, message", [
    ([[0, 1, 2, 0], [0, 0]], r"1 nodes not visited, first \[3\]"),
    ([[0, 1, 2, 0], [0, 3, 1, 0]], "node 1 visited twice"),
    ([[0, 1, 2], [0, 3, 0]], "route 0 does not start and end at the depot"),
    ([[0, 1, 0, 2, 0], [0, 3, 0]], "route 0 visits invalid node 0"),
    ([[0, 1, 2, 7, 0], [0, 3, 0]], "route 0 visits invalid node 7"),
    ([[0, 1, 2, 3, 0], [2]], r"route 1 is \[2\], not at the depot"),
])
def test_route_faults_are_named(paths, message):
    doc = bt.build_instance(tiny(), 2, "min_sum", 1.0)
    value, fault = bt.verify(doc, paths)
    assert value is None
    assert re.search(message, fault), fault


@pytest.mark.parametrize("value, reference, expected", [
    (110.0, 100.0, 10.0), (99.0, 100.0, -1.0), (222.7, 222.7, 0.0),
    (None, 100.0, None), (5.0, None, None), (5.0, 0.0, None),
])
def test_gap_percent(value, reference, expected):
    assert bt.gap_percent(value, reference) == (pytest.approx(expected) if expected is not None else None)


def test_best_known_values_exist_for_min_max_only():
    bks = bt.load_bks()
    assert bt.bks_value(bks, "eil51", 2, "min_max") == 222.7
    assert bt.bks_value(bks, "eil76", 5, "min_max") == 143.4
    assert bt.bks_value(bks, "eil51", 2, "min_sum") is None
    assert bt.bks_value(bks, "eil51", 4, "min_max") is None


@pytest.mark.parametrize("value, digits, text", [
    (None, 2, "—"), (True, 2, "yes"), (False, 2, "no"), (1234567, 2, "1 234 567"),
    (3.14159, 3, "3.142"), (61508.4, 0, "61 508"), ("ok", 2, "ok"),
])
def test_cell_format(value, digits, text):
    assert bt.fmt(value, digits) == text


# --- rows and result files -------------------------------------------------------------------------

def test_row_gaps_and_tables():
    results = {"kvt": {"status": "ok", "value": 233.835, "n_generated": 1000, "ended_early": True},
               "ortools": {"status": "error", "message": "exit status 1"}}
    row = run_bench.make_row("eil51", 51, 2, "min_max", 1.0, bt.load_bks(), results)
    assert row["bks"] == 222.7
    assert row["solvers"]["kvt"]["gap"] == pytest.approx(5.0)
    assert row["solvers"]["ortools"]["gap"] is None and row["kvt_vs_ortools"] is None

    cols = run_bench.columns(["kvt", "ortools"])
    table = run_bench.render_markdown_table([row], cols).splitlines()
    assert len(table) == 3
    cells = dict(zip([c[0] for c in cols], [c.strip() for c in table[2].strip("|").split("|")]))
    assert (cells["BKS"], cells["KVT value"], cells["KVT gap %"], cells["OR-Tools value"]) == \
           ("222.70", "233.84", "5.00", "—")
    assert (cells["generated"], cells["done early"], cells["OR-Tools status"]) == ("1 000", "yes", "error")
    assert run_bench.problems([row]) == ["eil51 m=2 min_max OR-Tools: error exit status 1"]

    meta = {"label": "t", "budget": 1.0, "solvers": ["kvt", "ortools"]}
    text = run_bench.results_json(meta, ["a note"], [row, row])
    assert json.loads(text) == {**meta, "notes": ["a note"], "rows": [row, row]}


@pytest.mark.parametrize("argv", [["--budget", "0"], ["--agents", "0"], ["--label", "a b"],
                                  ["--objectives", "minmax"], ["--solvers", "lkh"]])
def test_bad_arguments_are_refused(argv, capsys):
    with pytest.raises(SystemExit) as exc:
        run_bench.parse_args(argv)
    assert exc.value.code == 2
