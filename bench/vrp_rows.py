"""The rows of the capacity-and-precedence suite (`make bench-vrp`): instance documents built
deterministically from TSPLIB coordinates and VRPLIB files.

- CVRP rows: a TSPLIB file's first node is the depot; every other node gets a demand drawn
  uniformly from 1..HI (seeded by the row's name), and the capacity is set so that ROUTES routes
  are needed at least (ceil(total / capacity) = ROUTES); ROUTES + 2 agents.
- VRPLIB rows: the files of bench/data/vrplib as `kvt-mtsp convert-vrplib` converts them.
- Precedence rows: "same" pairs standing for pickup and delivery (one agent, pickup first), plain
  and "diff" pairs, each pair drawn in the order of one random permutation of the targets (so no
  pair set has a cycle), five agents, no capacities.

Pure Python (the package's converters and the TSPLIB reader); nothing here loads the solver.
"""

from __future__ import annotations

import math
import pathlib
import random
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

from kvt_mtsp.tsplib import build_instance, load_tsplib
from kvt_mtsp.vrplib_convert import convert, read_vrplib

BENCH_DIR = pathlib.Path(__file__).resolve().parent
DATA_DIR = BENCH_DIR / "data"
VRPLIB_DIR = DATA_DIR / "vrplib"


@dataclass(frozen=True)
class Row:
    name: str
    kind: str  # cvrp, vrplib, precedence
    objective: str
    make: Callable[[float], dict[str, Any]]  # budget -> instance document
    reference: float | None = None  # a known optimum, where there is one
    note: str = ""


def tsplib_path(name: str) -> pathlib.Path:
    for folder in (DATA_DIR, DATA_DIR / "large"):
        if (folder / f"{name}.tsp").is_file():
            return folder / f"{name}.tsp"
    raise FileNotFoundError(f"no TSPLIB file {name}.tsp in bench/data or bench/data/large")


def cvrp(source: str, hi: int, routes: int, objective: str, budget: float) -> dict[str, Any]:
    points = load_tsplib(tsplib_path(source)).points
    rng = random.Random(f"{source}-d{hi}-r{routes}")
    demands = [0] + [rng.randint(1, hi) for _ in points[1:]]
    total = sum(demands)
    capacity = math.ceil(total / (routes - 0.5))
    assert math.ceil(total / capacity) == routes
    doc = build_instance(load_tsplib(tsplib_path(source)), routes + 2, objective, budget)
    doc["name"] = f"{source}-d{hi}"
    for node, demand in zip(doc["nodes"], demands):
        if demand:
            node["demand"] = demand
    for agent in doc["agents"]:
        agent["capacity"] = capacity
    doc["options"].update(improve=True, enforce_capacity=True)
    return doc


def vrplib_file(
    name: str, objective: str, budget: float, rounding: str, agents: int | None = None, max_length: int | None = None
) -> dict[str, Any]:
    path = VRPLIB_DIR / f"{name}.vrp"
    doc = convert(
        read_vrplib(path, path.read_text()),
        name=path.name,
        agents=agents,
        objective=objective,
        rounding=rounding,
        time_limit=budget,
    ).document
    if max_length is not None:
        for agent in doc["agents"]:
            agent["max_length"] = max_length
    return doc


def precedence(source: str, same: int, plain: int, diff: int, objective: str, budget: float) -> dict[str, Any]:
    tsp = load_tsplib(tsplib_path(source))
    doc = build_instance(tsp, 5, objective, budget)
    rng = random.Random(f"{source}-p{same}-{plain}-{diff}")
    order = list(range(1, len(tsp.points)))
    rng.shuffle(order)
    needed = 2 * (same + plain + diff)
    assert needed <= len(order), "more pairs than targets"
    taken = order[:needed]
    pairs = []
    for k in range(same + plain + diff):
        a, b = taken[2 * k], taken[2 * k + 1]
        kind = "same" if k < same else "plain" if k < same + plain else "diff"
        item: dict[str, Any] = {"before": a, "after": b}
        if kind != "plain":
            item["type"] = kind
        pairs.append(item)
    doc["name"] = f"{source}-pairs"
    doc["constraints"] = [{"kind": "sequence", "precedence": pairs}]
    doc["options"].update(improve=True, enforce_precedence=True)
    return doc


CVRP_SOURCES = [
    ("eil76", 10, 6),
    ("eil76", 100, 10),
    ("rat99", 10, 8),
    ("rat99", 100, 12),
    ("kroA200", 100, 12),
    ("lin318", 10, 15),
]


def rows() -> list[Row]:
    out = [
        Row(
            "E-n22-k4",
            "vrplib",
            "min_sum",
            lambda b: vrplib_file("E-n22-k4", "min_sum", b, "nint", agents=4),
            reference=375.0,
            note="nint distances, 4 agents; optimum 375",
        )
    ]
    for source, hi, routes in CVRP_SOURCES:
        for objective in ("min_sum", "min_max"):
            out.append(
                Row(
                    f"{source}-d{hi}",
                    "cvrp",
                    objective,
                    lambda b, s=source, h=hi, r=routes, o=objective: cvrp(s, h, r, o, b),
                    note=f"demands 1-{hi}, at least {routes} routes, {routes + 2} agents",
                )
            )
    out += [
        Row(
            "RC208",
            "vrplib",
            "min_sum",
            lambda b: vrplib_file("RC208", "min_sum", b, "real"),
            note="windows, service 10",
        ),
        Row(
            "PR01",
            "vrplib",
            "min_sum",
            lambda b: vrplib_file("PR01", "min_sum", b, "real"),
            note="as converted: 3 clients unservable within max_length 500 from time 0",
        ),
        Row(
            "PR01-d1000",
            "vrplib",
            "min_sum",
            lambda b: vrplib_file("PR01", "min_sum", b, "real", max_length=1000),
            note="PR01 with max_length 1000 (the depot's closing time) in place of 500",
        ),
        Row(
            "X115-HVRP",
            "vrplib",
            "min_sum",
            lambda b: vrplib_file("X115-HVRP", "min_sum", b, "nint"),
            note="3 vehicle types; fixed and per-distance costs dropped",
        ),
    ]
    for source, same, plain, diff in (("eil76", 15, 5, 5), ("rat99", 25, 8, 8)):
        for objective in ("min_sum", "min_max"):
            out.append(
                Row(
                    f"{source}-pairs",
                    "precedence",
                    objective,
                    lambda b, s=source, a=same, p=plain, d=diff, o=objective: precedence(s, a, p, d, o, b),
                    note=f'{same} "same" (pickup, delivery), {plain} plain, {diff} "diff" pairs; 5 agents',
                )
            )
    return out
