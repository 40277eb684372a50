"""The capacity-and-precedence suite: its generated rows, the OR-Tools model of capacities and pairs
(validated under the rules), and the runner's handling of a build that does not enforce them."""

from __future__ import annotations

import math
import pathlib
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[2] / "bench"
sys.path.insert(0, str(BENCH))

import bench_tools as bt  # noqa: E402
import hgs_peer  # noqa: E402
import pyvrp_peer  # noqa: E402
import run_bench_vrp  # noqa: E402
import vrp_rows  # noqa: E402
from kvt_mtsp.check import check_instance  # noqa: E402
from kvt_mtsp.instance import Instance  # noqa: E402

ROWS = {(r.name, r.objective): r for r in vrp_rows.rows()}


@pytest.mark.parametrize("source, hi, routes", vrp_rows.CVRP_SOURCES)
def test_cvrp_rows_need_their_routes_and_repeat_exactly(source, hi, routes):
    doc = vrp_rows.cvrp(source, hi, routes, "min_sum", 10.0)
    demands = [n.get("demand", 0) for n in doc["nodes"]]
    capacity = doc["agents"][0]["capacity"]
    assert demands[0] == 0 and all(1 <= d <= hi for d in demands[1:])
    assert math.ceil(sum(demands) / capacity) == routes and len(doc["agents"]) == routes + 2
    assert doc == vrp_rows.cvrp(source, hi, routes, "min_sum", 10.0)
    assert doc["options"]["enforce_capacity"] is True and check_instance(doc) == []


@pytest.mark.parametrize("source", ["eil76", "rat99"])
def test_precedence_rows_name_distinct_targets_without_a_cycle(source):
    doc = ROWS[(f"{source}-pairs", "min_sum")].make(10.0)
    pairs = doc["constraints"][0]["precedence"]
    nodes = [v for p in pairs for v in (p["before"], p["after"])]
    assert len(nodes) == len(set(nodes)) and 0 not in nodes
    kinds = [p.get("type", "plain") for p in pairs]
    assert 10 <= kinds.count("same") <= 30 and kinds.count("plain") > 0 and kinds.count("diff") > 0
    assert check_instance(doc) == []


def test_every_row_reads_and_pr01_as_converted_has_no_solution():
    for (name, _), row in ROWS.items():
        doc = row.make(1.0)
        infeasible = [f.path for f in check_instance(doc) if f.infeasible]
        assert infeasible == (["nodes[25]", "nodes[34]", "nodes[48]"] if name == "PR01" else []), name


@pytest.mark.parametrize(
    "make",
    [
        lambda: ROWS[("E-n22-k4", "min_sum")].make(1.0),
        lambda: vrp_rows.precedence("eil76", 4, 2, 0, "min_sum", 1.0),
        lambda: vrp_rows.precedence("eil76", 4, 2, 0, "min_max", 1.0),
    ],
    ids=["capacities", "pairs-min_sum", "pairs-min_max"],
)
def test_ortools_routes_obey_the_enforced_rules(make):
    pytest.importorskip("ortools")
    import ortools_peer

    doc = make()
    inst = Instance.from_document(doc)
    out = {"status": "ok", "paths": ortools_peer.solve(doc, 1.0)["paths"]}
    bt.check_result(inst, out)
    assert out["status"] == "ok", out.get("violations")


def test_pyvrp_models_capacities_and_windows_but_not_pairs_or_min_max():
    assert pyvrp_peer.unsupported_vrp(ROWS[("RC208", "min_sum")].make(1.0)) is None
    assert pyvrp_peer.unsupported_vrp(ROWS[("eil76-pairs", "min_sum")].make(1.0)) == "precedence pairs"
    assert pyvrp_peer.unsupported_vrp(ROWS[("eil76-d10", "min_max")].make(1.0)) == "objective is not min_sum"


@pytest.mark.parametrize(
    "row, reason",
    [
        (("E-n22-k4", "min_sum"), None),
        (("rat99-d100", "min_sum"), None),
        (("rat99-d100", "min_max"), "objective is not min_sum"),
        (("RC208", "min_sum"), "route-length limits"),
        (("X115-HVRP", "min_sum"), "more than one agent type"),
        (("eil76-pairs", "min_sum"), "precedence pairs"),
    ],
)
def test_hgs_models_one_capacity_at_one_depot(row, reason):
    assert hgs_peer.unsupported(ROWS[row].make(1.0)) == reason


def test_hgs_routes_obey_the_capacities():
    pytest.importorskip("hygese", reason="needs the package hygese")
    doc = ROWS[("E-n22-k4", "min_sum")].make(1.0)
    # The depot moved to the end of the node list: HGS's own depot index 0 is a mapping, not an id.
    doc["nodes"] = doc["nodes"][1:] + doc["nodes"][:1]
    doc["costs"] = {t: [row[1:] + row[:1] for row in m[1:] + m[:1]] for t, m in doc["costs"].items()}
    inst = Instance.from_document(doc)
    out = hgs_peer.solve(doc, 0.5)
    assert out["status"] == "ok" and len(out["paths"]) == len(doc["agents"])
    bt.check_result(inst, out)
    assert out["status"] == "ok", out.get("violations")
    assert out["value"] == pytest.approx(375.0, abs=0.5)


def test_a_build_without_the_options_reports_its_rows_as_not_enforced(tmp_path, monkeypatch):
    monkeypatch.setattr(run_bench_vrp, "kvt_enforces", lambda: False)
    assert (
        run_bench_vrp.main(["--rows", "PR01", "E-n22-k4", "--solvers", "kvt", "--out", str(tmp_path), "--label", "t"])
        == 0
    )
    table = (tmp_path / "bench-vrp-t.md").read_text()
    assert "| E-n22-k4 | vrplib | 22 | 4 | min_sum | 375.00 | not enforced by this build |" in table
    assert "| PR01 | vrplib | 49 | 8 | min_sum | — | no solution exists |" in table
    assert "Runs without valid routes" not in table
