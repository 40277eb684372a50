"""Pure helpers of the benchmark: instance names, route checks and validation, gaps, table cells.

TSPLIB reading and the instance documents come from the package (`kvt_mtsp.tsplib`), which the
command line shares. Nothing here imports the solver or OR-Tools, so the helpers can be tested and
used anywhere.
"""

from __future__ import annotations

import json
import pathlib

from kvt_mtsp.instance import Instance
from kvt_mtsp.tsplib import (  # noqa: F401
    AGENT_TYPE,
    DEPOT,
    OBJECTIVES,
    TspInstance,
    build_instance,
    distance_matrix,
    load_tsplib,
    parse_tsplib,
)
from kvt_mtsp.validate import time_route, validate_result

DATA_DIR = pathlib.Path(__file__).resolve().parent / "data"
LARGE_DIR = DATA_DIR / "large"


def resolve_instance(name_or_path: str) -> pathlib.Path:
    """`eil51` names bench/data/eil51.tsp and `rat783` bench/data/large/rat783.tsp (a name may hold a
    dot, as att532.euc2d does); anything else with a suffix or a slash is a path."""
    candidate = pathlib.Path(name_or_path)
    if len(candidate.parts) == 1:
        for folder in (DATA_DIR, LARGE_DIR):
            if (folder / f"{name_or_path}.tsp").is_file():
                return folder / f"{name_or_path}.tsp"
    if candidate.suffix or len(candidate.parts) > 1:
        return candidate
    return DATA_DIR / f"{name_or_path}.tsp"


def instance_name(path: pathlib.Path) -> str:
    """The row name of a TSPLIB file: its file name without ".tsp" (att532.euc2d, whose NAME field
    says att532, is the EUC_2D version of att532 and keeps that name apart from it)."""
    return path.name[: -len(".tsp")] if path.name.endswith(".tsp") else path.stem


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
    """The reference value of a row, or None: the best-known longest route under min_max, and under
    min_sum the single-tour optimum (the min-sum optimum of every agent count, see bks.json)."""
    if objective == "min_sum":
        return bks.get("min_sum_single_tour_optimum", {}).get(instance)
    return bks.get(objective, {}).get(instance, {}).get(str(agents))


def check_result(inst: Instance, res: dict) -> None:
    """Validates a solver's routes against the instance, in place: sets "valid", "violations" (the
    first few messages) and "value", the objective recomputed from the routes (route costs from the
    real distances, waits included), and turns the status "ok" into "invalid" when a rule is broken.

    KVT results carry their own "routes" and "statistics" (their reported costs are checked too);
    a peer's "paths" are timed here."""
    if res.get("status") not in ("ok", "invalid") or not res.get("paths"):
        res.setdefault("value", None)
        return
    if res.get("routes"):
        result = {"status": "success", "routes": res["routes"], "statistics": res.get("statistics")}
    else:
        routes = []
        for k, path in enumerate(res["paths"]):
            agent = inst.agents[k] if k < len(inst.agents) else None
            cost = time_route(inst, agent, path).cost if agent is not None and path else 0.0
            routes.append({"agent_id": agent.id if agent is not None else k, "path": path, "cost": cost})
        result = {"status": "success", "routes": routes}
    violations = validate_result(inst, result)
    costs = [float(r["cost"]) for r in result["routes"]]
    res["value"] = max(costs, default=0.0) if inst.objective == "min_max" else sum(costs)
    res["valid"] = not violations
    res["violations"] = [str(v) for v in violations[:5]] + (
        [f"... {len(violations) - 5} more"] if len(violations) > 5 else []
    )
    if violations:
        res["status"] = "invalid"
        res["message"] = "; ".join(res["violations"][:2])


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
    if abs(value) < 0.5 * 10.0**-digits:
        value = 0.0  # no "-0.00" for a value a hair below its reference
    return f"{value:.{digits}f}"
