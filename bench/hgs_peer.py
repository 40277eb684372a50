"""HGS-CVRP (hybrid genetic search) as a peer solver, through the `hygese` package, in its own
benchmark's environment (`make bench-vrp` installs it when a wheel is to be had).

Reads an instance document on standard input and writes one JSON line on standard output:
{"solver": "hgs", "status", "paths", "anytime", "cpu_time", "wall_time", "peak_rss_mib", "version",
"message"?}. It models what HGS-CVRP solves: min_sum, one depot where every agent starts and ends, one
agent type, one capacity for every agent (options.enforce_capacity), no windows, limits, assignments or
pairs; anything else comes back with status "unsupported". HGS takes real distances; they are scaled
by a power of ten only where they lie outside the range it accepts (0.1 to 100,000), and the parent
re-evaluates the routes with the instance's own. HGS may use fewer vehicles
than the fleet has, never more (num_vehicles). Standalone: it imports nothing of the project.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import resource
import sys
import time
import traceback

LARGEST = 1e5  # HGS refuses distance matrices whose largest entry is above this


def unsupported(doc: dict) -> str | None:
    """Why the document is outside the HGS-CVRP model, or None."""
    agents = doc.get("agents") or []
    options = doc.get("options") or {}
    if not agents:
        return "no agents"
    if options.get("objective", "min_sum") not in ("min_sum", "MIN_SUM"):
        return "objective is not min_sum"
    if options.get("return_to_end", True) is not True:
        return "open routes"
    if len({a["start_node"] for a in agents} | {a["end_node"] for a in agents}) != 1:
        return "more than one depot"
    if len({a["type"] for a in agents}) != 1:
        return "more than one agent type"
    if len({a.get("capacity", 0) for a in agents}) != 1:
        return "capacities that differ between agents"
    if any(a.get("max_length", 0) for a in agents):
        return "route-length limits"
    for c in doc.get("constraints") or []:
        if c.get("kind") in ("timewindow",) and c.get("items"):
            return "time windows"
        if c.get("kind") == "sequence" and c.get("precedence") and options.get("enforce_precedence"):
            return "precedence pairs"
    return None


def solve(doc: dict, budget: float, seed: int = 0) -> dict:
    import hygese
    import numpy as np

    nodes, agents = doc["nodes"], doc["agents"]
    ids = [node["id"] for node in nodes]
    index = {node_id: i for i, node_id in enumerate(ids)}
    depot = index[agents[0]["start_node"]]
    # HGS takes the depot as index 0: the depot first, the other nodes after it in their order.
    order = [depot] + [i for i in range(len(ids)) if i != depot]
    matrix = doc["costs"][agents[0]["type"]]
    distances = np.array([[matrix[a][b] for b in order] for a in order], dtype=float)
    largest = float(distances.max()) if distances.size else 0.0
    if largest > LARGEST:
        distances /= 10.0 ** math.ceil(math.log10(largest / LARGEST))
    loads = bool((doc.get("options") or {}).get("enforce_capacity"))
    demands = [float(nodes[i].get("demand", 0.0)) if loads else 0.0 for i in order]
    capacity = float(agents[0].get("capacity", 0)) if loads else 0.0
    data = {
        "distance_matrix": distances,
        "num_vehicles": len(agents),
        "depot": 0,
        "demands": np.array(demands),
        "vehicle_capacity": capacity if capacity > 0 else max(1.0, sum(demands)),
        "service_times": np.zeros(len(order)),
    }
    # The iteration cap (iterations without improvement) set out of reach: the budget ends the run.
    parameters = hygese.AlgorithmParameters(timeLimit=budget, seed=seed, nbIter=10**9)
    cpu0, wall0 = time.process_time(), time.perf_counter()
    result = hygese.Solver(parameters=parameters, verbose=False).solve_cvrp(data)
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
    routes = [list(r) for r in result.routes if len(r)]
    home = ids[depot]
    if len(routes) > len(agents) or not routes:
        return {"status": "failed", "message": f"{len(routes)} routes for {len(agents)} agents", "paths": []}
    paths = [[home] + [ids[order[v]] for v in r] + [home] for r in routes]
    paths += [[home] for _ in range(len(agents) - len(paths))]
    return {"status": "ok", "paths": paths, "anytime": [], "cpu_time": cpu, "wall_time": wall}


def main() -> int:
    result_fd = os.dup(1)
    os.dup2(2, 1)  # the solver's own output cannot mix with the result line
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--budget", type=float, required=True, help="time budget in seconds")
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args()
    doc = json.load(sys.stdin)
    reason = unsupported(doc)
    if reason:
        out = {"status": "unsupported", "message": f"outside the HGS-CVRP model: {reason}"}
    else:
        try:
            out = solve(doc, args.budget, args.seed)
        except Exception as err:  # reported in the table, not raised
            traceback.print_exc()
            out = {"status": "error", "message": f"{type(err).__name__}: {err}"}
    try:
        from importlib.metadata import version

        out["version"] = version("hygese")
    except Exception:  # the version is a label only
        pass
    out = {"solver": "hgs", **out, "peak_rss_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0}
    os.write(result_fd, (json.dumps(out) + "\n").encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
