"""TSPLIB EUC_2D files and the instance documents built from them.

Pure Python: nothing here loads the solver, so the benchmark can use it too.
"""

from __future__ import annotations

import math
import pathlib
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

DEPOT = 0
AGENT_TYPE = "vehicle"
OBJECTIVES = ("min_max", "min_sum")
ROUNDINGS = ("real", "nint")

Point = tuple[float, float]


@dataclass(frozen=True)
class TspInstance:
    name: str
    points: list[Point]  # (x, y) per node; index 0 is the depot (node 1 of the file)


def parse_tsplib(text: str, fallback_name: str = "") -> TspInstance:
    """Reads a TSPLIB EUC_2D file. Node k of the file becomes index k-1.

    Raises ValueError naming the first fault (with its line number where there is one)."""
    header: dict[str, str] = {}
    coords: dict[int, Point] = {}
    in_coords = False
    for number, raw in enumerate(text.splitlines(), start=1):
        line = raw.strip()
        if not line:
            continue
        if line == "EOF":
            break
        if in_coords:
            fields = line.split()
            if len(fields) != 3:
                raise ValueError(f"line {number}: expected 'index x y', got {line!r}")
            try:
                index = int(fields[0])
                point = (float(fields[1]), float(fields[2]))
            except ValueError:
                raise ValueError(f"line {number}: expected 'index x y', got {line!r}") from None
            if not (math.isfinite(point[0]) and math.isfinite(point[1])):
                raise ValueError(f"line {number}: coordinates must be finite numbers, got {line!r}")
            if index in coords:
                raise ValueError(f"line {number}: node {index} listed twice")
            coords[index] = point
        elif line == "NODE_COORD_SECTION":
            in_coords = True
        elif ":" in line:
            key, _, value = line.partition(":")
            header[key.strip().upper()] = value.strip()
        else:
            raise ValueError(f"line {number}: unexpected {line!r} before NODE_COORD_SECTION")

    weight_type = header.get("EDGE_WEIGHT_TYPE", "")
    if weight_type != "EUC_2D":
        raise ValueError(f"EDGE_WEIGHT_TYPE {weight_type or '(missing)'} is not supported, only EUC_2D")
    if not coords:
        raise ValueError("no NODE_COORD_SECTION entries")
    if sorted(coords) != list(range(1, len(coords) + 1)):
        raise ValueError("node indices must be 1..n without gaps")
    if "DIMENSION" in header:
        try:
            dimension = int(header["DIMENSION"])
        except ValueError:
            raise ValueError(f"DIMENSION {header['DIMENSION']!r} is not a number") from None
        if dimension != len(coords):
            raise ValueError(f"DIMENSION {dimension} but {len(coords)} coordinates")
    points = [coords[k] for k in range(1, len(coords) + 1)]
    return TspInstance(name=header.get("NAME", fallback_name), points=points)


def load_tsplib(path: str | pathlib.Path) -> TspInstance:
    path = pathlib.Path(path)
    return parse_tsplib(path.read_text(), fallback_name=path.stem)


def distance_matrix(points: Sequence[Point], rounding: str = "real") -> list[list[float]]:
    """Euclidean distances between all points.

    "real" keeps them unrounded (the benchmark's convention); "nint" rounds each to the nearest
    integer as TSPLIB's own EUC_2D definition does."""
    if rounding not in ROUNDINGS:
        raise ValueError(f"rounding must be one of {ROUNDINGS}, got {rounding!r}")
    rows = [[math.sqrt((xa - xb) ** 2 + (ya - yb) ** 2) for (xb, yb) in points] for (xa, ya) in points]
    if rounding == "nint":
        return [[float(int(d + 0.5)) for d in row] for row in rows]
    return rows


def build_instance(
    tsp: TspInstance, agents: int, objective: str, budget: float, rounding: str = "real"
) -> dict[str, Any]:
    """The solver's JSON instance: all agents start and end at the depot, one agent type."""
    if agents < 1:
        raise ValueError("agents must be >= 1")
    if objective not in OBJECTIVES:
        raise ValueError(f"objective must be one of {OBJECTIVES}, got {objective!r}")
    nodes: list[dict[str, Any]] = []
    for i, (x, y) in enumerate(tsp.points):
        node: dict[str, Any] = {"id": i, "x": x, "y": y}
        if i == DEPOT:
            node["type"] = "depot"
        nodes.append(node)
    return {
        "name": tsp.name,
        "nodes": nodes,
        "agents": [{"id": k, "type": AGENT_TYPE, "start_node": DEPOT, "end_node": DEPOT} for k in range(agents)],
        "costs": {AGENT_TYPE: distance_matrix(tsp.points, rounding)},
        "options": {"objective": objective, "return_to_end": True, "time_limit": float(budget)},
    }
