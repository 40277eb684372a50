"""Pure helpers of the benchmark: instance names, route checks, gaps, table cells.

TSPLIB reading and the instance documents come from the package (`kvt_mtsp.tsplib`), which the
command line shares. Nothing here imports the solver or OR-Tools, so the helpers can be tested and
used anywhere.
"""
from __future__ import annotations

import json
import pathlib

from kvt_mtsp.tsplib import (AGENT_TYPE, DEPOT, OBJECTIVES, TspInstance, build_instance,  # noqa: F401
                             distance_matrix, load_tsplib, parse_tsplib)

DATA_DIR = pathlib.Path(__file__).resolve().parent / "data"


def resolve_instance(name_or_path: str) -> pathlib.Path:
    """`eil51` names bench/data/eil51.tsp; anything with a suffix or a slash is a path."""
    candidate = pathlib.Path(name_or_path)
    if candidate.suffix or len(candidate.parts) > 1:
        return candidate
    return DATA_DIR / f"{name_or_path}.tsp"


def route_costs(matrix, paths, depot: int = DEPOT) -> list:
    """Costs of closed depot routes after checking that they visit every other node exactly once.

    A path is [depot, ..., depot]; an unused agent may also have [depot] or an empty path.
    Raises ValueError naming the first fault."""
    n = len(matrix)
    seen: set[int] = set()
    costs = []
    for k, path in enumerate(paths):
        if len(path) <= 1:
            if path and path[0] != depot:
                raise ValueError(f"route {k} is {path}, not at the depot")
            costs.append(0.0)
            continue
        if path[0] != depot or path[-1] != depot:
            raise ValueError(f"route {k} does not start and end at the depot: {path}")
        for v in path[1:-1]:
            if not 0 <= v < n or v == depot:
                raise ValueError(f"route {k} visits invalid node {v}")
            if v in seen:
                raise ValueError(f"node {v} visited twice")
            seen.add(v)
        costs.append(sum(matrix[u][v] for u, v in zip(path, path[1:])))
    missing = sorted(set(range(n)) - seen - {depot})
    if missing:
        raise ValueError(f"{len(missing)} nodes not visited, first {missing[:5]}")
    return costs


def objective_value(costs, objective: str) -> float:
    return max(costs, default=0.0) if objective == "min_max" else sum(costs)


def verify(doc: dict, paths, reported=None):
    """Objective of `paths` under `doc` recomputed from its distances, and a fault or None.

    The fault names invalid routes, or a `reported` value that differs from the routes' cost."""
    matrix = doc["costs"][doc["agents"][0]["type"]]
    try:
        value = objective_value(route_costs(matrix, paths), doc["options"]["objective"])
    except ValueError as err:
        return None, str(err)
    if reported is not None and abs(reported - value) > 1e-6 * max(1.0, abs(value)):
        return value, f"reported {reported!r} but the routes cost {value!r}"
    return value, None


def gap_percent(value, reference):
    """(value - reference) / reference in percent; None when either is missing."""
    if value is None or reference is None or reference == 0:
        return None
    return (value - reference) / reference * 100.0


def load_bks(path=DATA_DIR / "bks.json") -> dict:
    return json.loads(pathlib.Path(path).read_text())


def bks_value(bks: dict, instance: str, agents: int, objective: str):
    """Best-known value, or None (there are none for min_sum)."""
    return bks.get(objective, {}).get(instance, {}).get(str(agents))


def fmt(value, digits: int = 2) -> str:
    """Table cell: a number with fixed decimals, or an em dash when there is none."""
    if value is None:
        return "—"
    if isinstance(value, str):
        return value
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, int) or digits == 0:
        return f"{round(value):,}".replace(",", " ")
    return f"{value:.{digits}f}"
