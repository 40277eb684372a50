"""Variant instances built from TSPLIB coordinates: two agent types with assignments, time windows,
route-length limits, open routes, distinct start and end depots.

Every variant is generated around a known feasible solution: targets are swept by angle into one
chunk per agent (moved to a neighbouring agent where the assignment forbids the first), each route is
put in nearest-neighbour order and improved by 2-opt, and the windows and limits are then drawn around
that solution's arrival times and route costs. So each instance has a valid solution (returned with
it) while its windows and limits are tight enough to shape the routes. Generation is deterministic:
the same variant and seed give the same document.
"""

from __future__ import annotations

import math
import random
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from kvt_mtsp.tsplib import distance_matrix

# Agent types: name and the factor on the Euclidean distance (a bike is slower than a car).
TYPES = (("car", 1.0), ("bike", 1.25))
SHARE_CAR_ONLY = 0.2
SHARE_BIKE_ONLY = 0.2
SHARE_WINDOWED = 0.5
WINDOW_WIDTH = (0.15, 0.40)  # window width as a share of the longest constructed route
WINDOW_MARGIN = 0.1  # the constructed arrival keeps this share of the width from either edge
LIMIT_SLACK = 1.10  # limit = this x max(own constructed route, mean constructed route), rounded up


@dataclass(frozen=True)
class VariantSpec:
    name: str
    source: str  # TSPLIB instance in bench/data or bench/data/large
    nodes: int  # the first `nodes` points of the file
    agents: int
    types: bool = False  # two agent types with per-type costs and assignments
    windows: bool = False
    limits: bool = False  # "max_length" per agent
    open_routes: bool = False  # "return_to_end" false
    depots: bool = False  # distinct start and end depots

    def features(self) -> str:
        names = [
            n
            for n, on in (
                ("types", self.types),
                ("windows", self.windows),
                ("limits", self.limits),
                ("open", self.open_routes),
                ("depots", self.depots),
            )
            if on
        ]
        return "+".join(names)


VARIANTS = (
    VariantSpec("eil51-types", "eil51", 51, 4, types=True),
    VariantSpec("berlin52-open", "berlin52", 52, 3, open_routes=True),
    VariantSpec("eil76-windows", "eil76", 76, 3, windows=True),
    VariantSpec("rat99-limits", "rat99", 99, 5, limits=True),
    VariantSpec("eil76-depots", "eil76", 76, 4, depots=True),
    VariantSpec("rat99-mixed", "rat99", 99, 4, types=True, windows=True, limits=True, depots=True),
    VariantSpec(
        "lin318-200-open-mixed", "lin318", 200, 6, types=True, windows=True, limits=True, open_routes=True, depots=True
    ),
    VariantSpec("lin318-256-mixed", "lin318", 256, 8, types=True, windows=True, limits=True),
)
VARIANT_NAMES = tuple(v.name for v in VARIANTS)


def variant_spec(name: str) -> VariantSpec:
    for spec in VARIANTS:
        if spec.name == name:
            return spec
    raise ValueError(f"unknown variant {name!r}; known: {', '.join(VARIANT_NAMES)}")


def _floor3(x: float) -> float:
    return math.floor(x * 1000.0) / 1000.0


def _ceil3(x: float) -> float:
    return math.ceil(x * 1000.0) / 1000.0


def _order_route(matrix, start: int, end: int, targets: list, open_route: bool) -> list:
    """Nearest-neighbour order from `start`, then 2-opt with the start and end kept in place (an open
    route's closing leg is free, so its last target may change)."""
    left = set(targets)
    order = []
    at = start
    while left:
        at = min(left, key=lambda v: (matrix[at][v], v))
        order.append(at)
        left.remove(at)
    path = [start] + order + [end]
    last = len(path) - 2  # position of the last target
    improved = True
    while improved:  # the matrices are symmetric, so a reversed segment costs what it did
        improved = False
        for i in range(1, last):
            for j in range(i + 1, last + 1):
                a, b, c, d = path[i - 1], path[i], path[j], path[j + 1]
                closing_counts = not (open_route and j == last)
                before = matrix[a][b] + (matrix[c][d] if closing_counts else 0.0)
                after = matrix[a][c] + (matrix[b][d] if closing_counts else 0.0)
                if after < before - 1e-9:
                    path[i : j + 1] = reversed(path[i : j + 1])
                    improved = True
    return path


def _arrivals(matrix, path: Sequence[int], open_route: bool) -> list:
    """Arrival time at each position (no waiting: the windows are drawn around these times)."""
    times = [0.0]
    for k in range(1, len(path)):
        free = open_route and k == len(path) - 1
        times.append(times[-1] + (0.0 if free else matrix[path[k - 1]][path[k]]))
    return times


def generate(
    spec: VariantSpec, points: Sequence[tuple], seed: int = 0, objective: str = "min_max", budget: float = 10.0
) -> tuple[dict[str, Any], dict[str, Any]]:
    """The instance document of `spec` on the first spec.nodes `points`, and its known solution as a
    result dictionary (routes in agent order, statistics max_cost and sum_cost)."""
    if len(points) < spec.nodes:
        raise ValueError(f"{spec.name}: {spec.source} has {len(points)} points, {spec.nodes} needed")
    rng = random.Random(f"{spec.name}/{seed}")
    pts = [tuple(map(float, p)) for p in points[: spec.nodes]]
    n = len(pts)
    base = distance_matrix(pts)

    # Depots: node 0; with distinct depots also the node nearest the centroid, and agents alternate
    # between 0 -> B and B -> 0.
    depot_a = 0
    if spec.depots:
        cx = sum(p[0] for p in pts) / n
        cy = sum(p[1] for p in pts) / n
        depot_b = min(range(1, n), key=lambda i: ((pts[i][0] - cx) ** 2 + (pts[i][1] - cy) ** 2, i))
        ends = [(depot_a, depot_b) if k % 2 == 0 else (depot_b, depot_a) for k in range(spec.agents)]
    else:
        ends = [(depot_a, depot_a)] * spec.agents
    depots = sorted({s for s, _ in ends} | {e for _, e in ends})
    targets = [i for i in range(n) if i not in depots]

    type_names = [t for t, _ in TYPES] if spec.types else ["vehicle"]
    agent_types = [type_names[(k // 2) % len(type_names)] for k in range(spec.agents)]
    costs = {
        name: base if factor == 1.0 else [[d * factor for d in row] for row in base]
        for name, factor in (TYPES if spec.types else (("vehicle", 1.0),))
    }

    allowed: dict[int, list] = {}
    if spec.types:
        for v in targets:
            r = rng.random()
            allowed[v] = (
                ["car"] if r < SHARE_CAR_ONLY else ["bike"] if r < SHARE_CAR_ONLY + SHARE_BIKE_ONLY else ["car", "bike"]
            )

    # Sweep around the depots' centre, one contiguous chunk of angles per agent.
    ox = sum(pts[d][0] for d in depots) / len(depots)
    oy = sum(pts[d][1] for d in depots) / len(depots)
    by_angle = sorted(targets, key=lambda v: (math.atan2(pts[v][1] - oy, pts[v][0] - ox), v))
    m = spec.agents
    chunks: list[list] = [[] for _ in range(m)]
    for pos, v in enumerate(by_angle):
        k = pos * m // len(by_angle)
        if v in allowed and agent_types[k] not in allowed[v]:
            k = min(
                (j for j in range(m) if agent_types[j] in allowed[v]), key=lambda j: (min((j - k) % m, (k - j) % m), j)
            )
        chunks[k].append(v)

    paths, route_times, route_costs = [], [], []
    for k in range(m):
        start, end = ends[k]
        matrix = costs[agent_types[k]]
        path = _order_route(matrix, start, end, chunks[k], spec.open_routes)
        times = _arrivals(matrix, path, spec.open_routes)
        paths.append(path)
        route_times.append(times)
        route_costs.append(times[-1])

    windows = []
    if spec.windows:
        horizon = max(route_costs)
        for k in range(m):
            for v, t in zip(paths[k][1:-1], route_times[k][1:-1]):
                if rng.random() >= SHARE_WINDOWED:
                    continue
                width = rng.uniform(*WINDOW_WIDTH) * horizon
                offset = rng.uniform(WINDOW_MARGIN, 1.0 - WINDOW_MARGIN) * width
                windows.append((v, max(0.0, _floor3(t - offset)), _ceil3(t - offset + width)))
        windows.sort()

    limits = [0] * m
    if spec.limits:
        mean = sum(route_costs) / m
        limits = [int(math.ceil(LIMIT_SLACK * max(c, mean))) for c in route_costs]

    nodes = []
    for i, (x, y) in enumerate(pts):
        node: dict[str, Any] = {"id": i, "x": x, "y": y}
        if i in depots:
            node["type"] = "depot"
        nodes.append(node)
    agents = []
    for k in range(m):
        agent: dict[str, Any] = {"id": k, "type": agent_types[k], "start_node": ends[k][0], "end_node": ends[k][1]}
        if limits[k]:
            agent["max_length"] = limits[k]
        agents.append(agent)
    constraints = []
    if spec.types:
        items = [{"node": d, "types": list(type_names)} for d in depots]
        items += [{"node": v, "types": allowed[v]} for v in targets]
        constraints.append({"kind": "assignment", "items": sorted(items, key=lambda it: it["node"])})
    if windows:
        constraints.append({"kind": "timewindow", "items": [{"node": v, "start": a, "end": b} for v, a, b in windows]})
    doc: dict[str, Any] = {
        "name": spec.name,
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "options": {"objective": objective, "return_to_end": not spec.open_routes, "time_limit": float(budget)},
    }
    if constraints:
        doc["constraints"] = constraints
    solution = {
        "status": "success",
        "routes": [{"agent_id": k, "path": paths[k], "cost": route_costs[k]} for k in range(m)],
        "statistics": {"max_cost": max(route_costs), "sum_cost": sum(route_costs)},
    }
    return doc, solution


def main(argv=None) -> int:
    """Writes every variant (or the named ones) as <name>-<objective>.json, with its known solution as
    <name>.solution.json, into a folder: `python bench/variants.py OUT [NAME ...]`."""
    import argparse
    import json
    import pathlib

    from bench_tools import load_tsplib, resolve_instance

    parser = argparse.ArgumentParser(description=main.__doc__)
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("names", nargs="*", metavar="NAME", help=", ".join(VARIANT_NAMES))
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--budget", type=float, default=10.0)
    args = parser.parse_args(argv)
    try:
        specs = [variant_spec(name) for name in args.names or VARIANT_NAMES]
    except ValueError as err:
        parser.error(str(err))
    args.out.mkdir(parents=True, exist_ok=True)
    for spec in specs:
        name = spec.name
        points = load_tsplib(resolve_instance(spec.source)).points
        for objective in ("min_max", "min_sum"):
            doc, solution = generate(spec, points, args.seed, objective, args.budget)
            (args.out / f"{name}-{objective}.json").write_text(json.dumps(doc))
        (args.out / f"{name}.solution.json").write_text(json.dumps(solution))
        print(f"{name}: {spec.nodes} nodes, {spec.agents} agents, {spec.features()}")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
