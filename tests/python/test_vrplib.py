"""`kvt-mtsp convert-vrplib`: the four VRPLIB files of the benchmark converted, small files for the
cases they lack (pickup and delivery, several depots), and malformed files."""

from __future__ import annotations

import json
import math
import pathlib
import random
import subprocess
import sys

import pytest

from kvt_mtsp.check import check_instance
from kvt_mtsp.vrplib_convert import convert, read_vrplib

pytest.importorskip("vrplib")

ROOT = pathlib.Path(__file__).resolve().parents[2]
VRPLIB = ROOT / "bench" / "data" / "vrplib"
SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")

PR01_LATE = (
    "3 clients (node ids 25, 34, 48) cannot be served within any allowed vehicle's max_length: routes start at "
    "time 0 and waits count, while the file's duration limit is meant for vehicles that leave later"
)
X115_COSTS = (
    "the vehicles' fixed costs and per-distance costs are dropped: the instance format has no field for them, so "
    "every vehicle pays the distance itself"
)

# file, --agents, nodes, capacities per agent, max_length per agent, types, total demand, windows,
# assignment items, warnings
FILES = [
    ("E-n22-k4", 4, 22, [6000] * 4, [0] * 4, 1, 22500, 0, 0, []),
    ("E-n22-k4", None, 22, [6000] * 21, [0] * 21, 1, 22500, 0, 0, []),
    ("RC208", None, 101, [1000] * 25, [960] * 25, 1, 1724, 100, 0, []),
    ("PR01", None, 49, [100, 100, 150, 150, 200, 200, 250, 250], [500] * 8, 4, 574, 48, 48, [PR01_LATE]),
    ("X115-HVRP", None, 115, [54] * 11 + [131] * 7 + [322], [0] * 19, 3, 1535, 0, 0, [X115_COSTS]),
]


def run(*args):
    return subprocess.run([str(SCRIPT)] + [str(a) for a in args], capture_output=True, text=True, timeout=120)


def converted(name: str, **options):
    path = VRPLIB / f"{name}.vrp"
    return convert(read_vrplib(path, path.read_text()), name=path.name, **options)


def items(doc: dict, kind: str) -> list:
    key = "precedence" if kind == "sequence" else "items"
    return [item for c in doc.get("constraints", []) if c["kind"] == kind for item in c[key]]


@pytest.mark.parametrize("row", FILES, ids=lambda r: f"{r[0]}-{r[1]}")
def test_each_file_converts_to_its_fleet_demands_and_windows(row, tmp_path):
    name, agents, n, capacities, limits, types, demand, windows, assigned, warnings = row
    out = tmp_path / "out.json"
    args = ["convert-vrplib", VRPLIB / f"{name}.vrp", "-o", out] + (["--agents", agents] if agents else [])
    proc = run(*args)
    assert proc.returncode == 0, proc.stderr
    assert proc.stderr.splitlines() == [f"kvt-mtsp: warning: {VRPLIB / name}.vrp: {w}" for w in warnings]
    doc = json.loads(out.read_text())
    assert proc.stdout == (
        f"{out}: {n} nodes, {len(capacities)} agents of {types} type{'s' if types > 1 else ''}; "
        "rules turned on: capacity\n"
    )
    assert [node["id"] for node in doc["nodes"]] == list(range(n))
    assert [node.get("type") for node in doc["nodes"]] == ["depot"] + [None] * (n - 1)
    assert [a.get("capacity", 0) for a in doc["agents"]] == capacities
    assert [a.get("max_length", 0) for a in doc["agents"]] == limits
    assert all((a["start_node"], a["end_node"]) == (0, 0) for a in doc["agents"])
    assert len({a["type"] for a in doc["agents"]}) == len(doc["costs"]) == types
    assert sum(node.get("demand", 0) for node in doc["nodes"]) == demand
    assert len(items(doc, "timewindow")) == windows and len(items(doc, "assignment")) == assigned
    assert items(doc, "sequence") == []
    assert doc["options"] == {
        "objective": "min_sum",
        "return_to_end": True,
        "time_limit": 60.0,
        "improve": True,
        "enforce_capacity": True,
    }
    # PR01's limits leave three clients unservable; the check finds the same three.
    unservable = [f.path for f in check_instance(doc) if f.infeasible]
    assert unservable == (["nodes[25]", "nodes[34]", "nodes[48]"] if name == "PR01" else [])


def test_service_times_are_folded_into_the_cost_of_leaving_a_node():
    data = converted("PR01").document
    path = VRPLIB / "PR01.vrp"
    raw = read_vrplib(path, path.read_text())
    distance, service = raw["edge_weight"], raw["service_time"]
    for cost in data["costs"].values():
        for i in range(len(cost)):
            for j in range(len(cost)):
                expected = 0.0 if i == j else distance[i][j] + (service[i] if i else 0)
                assert cost[i][j] == pytest.approx(expected, abs=1e-12)
    assert any("service times are folded" in note for note in data["notes"])
    assert "folded" not in " ".join(converted("X115-HVRP").document["notes"])


@pytest.mark.parametrize(
    "name, rounding, cost", [("RC208", "real", 2723.5693284841645), ("X115-HVRP", "nint", 16944.0)]
)
def test_the_published_solutions_are_valid_plans_of_the_converted_instances(name, rounding, cost):
    import vrplib

    from kvt_mtsp.instance import Instance
    from kvt_mtsp.validate import time_route, validate_result

    doc = converted(name, rounding=rounding).document
    inst = Instance.from_document(doc)
    routes = vrplib.read_solution(str(VRPLIB / f"{name}.sol"))["routes"]
    paths = [[0, *route, 0] for route in routes] + [[0]] * (len(inst.agents) - len(routes))

    def plan(inst):
        routes = [
            {"agent_id": a.id, "path": p, "cost": time_route(inst, a, p).cost} for a, p in zip(inst.agents, paths)
        ]
        return {"status": "success", "routes": routes}

    assert validate_result(inst, plan(inst)) == []
    assert sum(r["cost"] for r in plan(inst)["routes"]) == pytest.approx(cost, rel=1e-12)
    # A capacity below the first route's load breaks it; a client left out is missing.
    doc["agents"][0]["capacity"] = 1
    paths[1].pop(1)
    assert [v.kind for v in validate_result(Instance.from_document(doc), plan(Instance.from_document(doc)))] == [
        "missing",
        "capacity",
    ]


def test_rounding_nint_rounds_each_distance():
    real = converted("E-n22-k4").document["costs"]["vehicle"]
    nint = converted("E-n22-k4", rounding="nint").document["costs"]["vehicle"]
    assert nint == [[float(math.floor(d + 0.5)) for d in row] for row in real]
    assert nint[0][1] == 49.0  # 49.366 unrounded


def test_clients_allowed_per_vehicle_become_assignments():
    doc = converted("PR01").document
    path = VRPLIB / "PR01.vrp"
    allowed = read_vrplib(path, path.read_text())["vehicles_allowed_clients"]
    by_type = {}
    for agent, clients in zip(doc["agents"], allowed):
        by_type.setdefault(agent["type"], set(clients))
        assert by_type[agent["type"]] == set(clients)  # vehicles of one type allow the same clients
    for item in items(doc, "assignment"):
        file_node = item["node"] + 1
        assert item["types"] == [t for t, clients in by_type.items() if file_node in clients]


FILE_HEAD = "NAME: t\nDIMENSION: {n}\nEDGE_WEIGHT_TYPE: EUC_2D\n"
COORDS = "NODE_COORD_SECTION\n1 0 0\n2 3 0\n3 3 4\n4 0 4\n5 1 1\n"


def test_pickup_and_delivery_pairs_become_same_pairs(tmp_path):
    path = tmp_path / "pd.vrp"
    path.write_text(
        FILE_HEAD.format(n=5)
        + "VEHICLES: 2\nCAPACITY: 10\n"
        + COORDS
        + "PICKUP_AND_DELIVERY_SECTION\n1 0 0 100 0 0 0\n2 4 0 50 2 0 3\n3 -4 10 60 2 2 0\n"
        "4 3 0 100 1 0 5\n5 -3 0 100 1 4 0\nEOF\n"
    )
    out = tmp_path / "pd.json"
    proc = run("convert-vrplib", path, "-o", out)
    assert proc.returncode == 0, proc.stderr
    assert proc.stderr == (
        f"kvt-mtsp: warning: {path}: deliveries' negative demands are read as 0: the instance's capacities "
        "count a load from the start to the end of a route, so each pickup's load counts for the whole route "
        "(safe, but tighter than the file)\n"
    )
    doc = json.loads(out.read_text())
    assert items(doc, "sequence") == [
        {"before": 1, "after": 2, "type": "same"},
        {"before": 3, "after": 4, "type": "same"},
    ]
    assert [node.get("demand", 0) for node in doc["nodes"]] == [0, 4, 0, 3, 0]
    assert items(doc, "timewindow")[1] == {"node": 2, "start": 10.0, "end": 60.0}
    assert doc["costs"]["vehicle"][1][2] == 4.0 + 2  # distance 4 and pickup 1's service
    assert [a["max_length"] for a in doc["agents"]] == [100, 100]  # the depot closes at 100
    assert doc["options"]["enforce_precedence"] is True and doc["options"]["enforce_capacity"] is True
    assert check_instance(doc) == []


def test_several_depots_get_the_fleet_each(tmp_path):
    path = tmp_path / "md.vrp"
    path.write_text(
        FILE_HEAD.format(n=5)
        + "VEHICLES: 2\nCAPACITY: 10\n"
        + COORDS
        + "DEMAND_SECTION\n1 0\n2 0\n3 4\n4 5\n5 6\nDEPOT_SECTION\n1\n2\n-1\nEOF\n"
    )
    out = tmp_path / "md.json"
    assert run("convert-vrplib", path, "-o", out, "--agents", 3).returncode == 0
    doc = json.loads(out.read_text())
    assert [(a["start_node"], a["end_node"]) for a in doc["agents"]] == [(0, 0)] * 3 + [(1, 1)] * 3
    assert [node.get("type") for node in doc["nodes"]] == ["depot", "depot", None, None, None]
    assert "3 agents at each of the 2 depots" in doc["notes"]


SOLOMON = """TINY

VEHICLE
NUMBER     CAPACITY
  2         10

CUSTOMER
CUST NO.  XCOORD.   YCOORD.    DEMAND   READY TIME  DUE DATE   SERVICE   TIME

    0      0         0          0          0        100          0
    1      3         0          4          5        50          2
    2      3         4          5          0        60          2
"""


def test_a_file_in_solomons_layout_converts_alike(tmp_path):
    path = tmp_path / "tiny.txt"
    path.write_text(SOLOMON)
    out = tmp_path / "tiny.json"
    assert run("convert-vrplib", path, "-o", out).returncode == 0
    doc = json.loads(out.read_text())
    assert (
        doc["notes"][0]
        == "converted from the VRPLIB file tiny.txt (VRPTW, Solomon's layout): file node k is node id k - 1"
    )
    assert doc["costs"] == {"vehicle": [[0.0, 3.0, 5.0], [5.0, 0.0, 6.0], [7.0, 6.0, 0.0]]}
    assert [(a["capacity"], a["max_length"]) for a in doc["agents"]] == [(10, 100), (10, 100)]
    assert items(doc, "timewindow") == [{"node": 1, "start": 5.0, "end": 50.0}, {"node": 2, "start": 0.0, "end": 60.0}]
    assert [node.get("demand", 0) for node in doc["nodes"]] == [0, 4, 5]


BAD = [
    ("hello world\n", "not a VRPLIB file: Instance does not conform to the VRPLIB format."),
    ("", "not a VRPLIB file: no header fields or sections"),
    (
        FILE_HEAD.format(n=5) + COORDS.replace("2 3 0", "2 3 x") + "EOF\n",
        "NODE_COORD_SECTION: expected two numbers (x, y) per node",
    ),
    (FILE_HEAD.format(n=6) + COORDS + "EOF\n", "DIMENSION 6 but 5 nodes"),
    ("NAME: t\nDIMENSION: 5\n" + COORDS + "EOF\n", "no distances: the file has no EDGE_WEIGHT_TYPE"),
    (FILE_HEAD.format(n=5) + COORDS + "DEMAND_SECTION\n1 0\n2 3\nEOF\n", "DEMAND_SECTION: 2 values for 5 nodes"),
    (
        FILE_HEAD.format(n=5) + COORDS + "DEMAND_SECTION\n1 0\n2 -3\n3 1\n4 1\n5 1\nEOF\n",
        "DEMAND_SECTION: node 2 has a negative demand (-3)",
    ),
    (
        FILE_HEAD.format(n=5) + COORDS + "DEPOT_SECTION\n7\n-1\nEOF\n",
        "DEPOT_SECTION: node 7 is not one of the file's nodes 1 to 5",
    ),
    (
        FILE_HEAD.format(n=5) + "VEHICLES: 2\n" + COORDS + "CAPACITY_SECTION\n1 5\n2 5\n3 5\nEOF\n",
        "VEHICLES 2 but CAPACITY_SECTION lists 3 vehicles",
    ),
    (
        FILE_HEAD.format(n=5) + COORDS + "DEPOT_SECTION\n1\n2\n-1\nVEHICLES_DEPOT_SECTION\n1 1\n2 1\nEOF\n",
        "depot node 2 has no vehicle: the instance would have to visit it",
    ),
    (
        FILE_HEAD.format(n=5) + COORDS + "PICKUP_AND_DELIVERY_SECTION\n1 0 0 9 0 0 0\n2 1 0 9 0 0 3\n"
        "3 -1 0 9 0 0 0\n4 0 0 9 0 0 0\n5 0 0 9 0 0 0\nEOF\n",
        "PICKUP_AND_DELIVERY_SECTION: node 2 names delivery 3, which does not name it as its pickup",
    ),
]


@pytest.mark.parametrize("text, message", BAD)
def test_a_malformed_file_is_one_line_and_exit_status_2(tmp_path, text, message):
    path = tmp_path / "bad.vrp"
    path.write_text(text)
    proc = run("convert-vrplib", path, "-o", tmp_path / "out.json")
    assert (proc.returncode, proc.stdout) == (2, "")
    assert proc.stderr == f"kvt-mtsp: error: {path}: {message}\n"
    assert not (tmp_path / "out.json").exists()


def test_agents_cannot_override_a_fleet_the_file_describes(tmp_path):
    proc = run("convert-vrplib", VRPLIB / "PR01.vrp", "-o", tmp_path / "out.json", "--agents", 3)
    assert proc.returncode == 2
    assert proc.stderr == (
        f"kvt-mtsp: error: {VRPLIB / 'PR01.vrp'}: --agents 3: the file describes each of its 8 vehicles "
        "(CAPACITY_SECTION); leave --agents out\n"
    )
    missing = run("convert-vrplib", tmp_path / "none.vrp", "-o", tmp_path / "out.json")
    assert (missing.returncode, missing.stderr) == (2, f"kvt-mtsp: error: {tmp_path / 'none.vrp'}: no such file\n")


def test_mutated_files_convert_or_fail_with_one_line(tmp_path):
    """Lines dropped, cut, changed or inserted in the four files: every outcome is a document or a
    VrplibError of one line, never another exception."""
    from kvt_mtsp.vrplib_convert import VrplibError

    rng = random.Random(7)
    texts = [p.read_text() for p in sorted(VRPLIB.glob("*.vrp"))]
    inserts = ["DEPOT_SECTION\nx\n-1", "VEHICLES: -3", "CAPACITY: abc", "VEHICLES_DEPOT_SECTION\n1 1 2", "DEPOT: 1"]
    failures = 0
    for _ in range(120):
        lines = rng.choice(texts).splitlines()
        for _ in range(rng.randint(1, 3)):
            i = rng.randrange(len(lines))
            op = rng.random()
            if op < 0.3:
                del lines[i]
            elif op < 0.7 and lines[i].split():
                parts = lines[i].split()
                parts[rng.randrange(len(parts))] = rng.choice(["-1", "0", "x", "1e9", "3.5"])
                lines[i] = " ".join(parts)
            else:
                lines.insert(i, rng.choice(inserts))
        path = tmp_path / "mutated.vrp"
        path.write_text("\n".join(lines) + "\n")
        try:
            convert(read_vrplib(path, path.read_text()), name=path.name)
        except VrplibError as err:
            assert "\n" not in str(err) and str(err)
            failures += 1
    assert 0 < failures < 120  # both outcomes were met
