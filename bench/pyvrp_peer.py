"""PyVRP as a peer solver, run in its own environment (bench/.venv-pyvrp, Python 3.11 or newer, made by
bench/setup_pyvrp.sh).

Reads an instance document on standard input and writes one JSON line on standard output:
{"solver": "pyvrp", "status", "native_status", "paths", "anytime", "cpu_time", "wall_time",
"peak_rss_mib", "message"?}. It models the single-depot min-sum setting: one depot where every agent
starts and ends, one agent type, return_to_end true, no windows, limits or assignments; anything else
comes back with status "unsupported". Distances are scaled by SCALE and rounded to integers (PyVRP
works on integers); the parent re-evaluates the routes with the real distances. Standalone: it imports
nothing of the project, so it runs under any interpreter that has PyVRP.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import sys
import time
import traceback

SCALE = 1000


def unsupported(doc: dict) -> str | None:
    """Why the document is outside the model, or None."""
    agents = doc.get("agents") or []
    if not agents:
        return "no agents"
    options = doc.get("options") or {}
    if options.get("objective", "min_sum") not in ("min_sum", "MIN_SUM"):
        return "objective is not min_sum"
    if options.get("return_to_end", True) is not True:
        return "open routes"
    depots = {(a["start_node"], a["end_node"]) for a in agents}
    if len(depots) != 1 or len({a["start_node"] for a in agents} | {a["end_node"] for a in agents}) != 1:
        return "more than one depot"
    if len({a["type"] for a in agents}) != 1:
        return "more than one agent type"
    if any(a.get("max_length", 0) for a in agents):
        return "route-length limits"
    for c in doc.get("constraints") or []:
        if c.get("kind") in ("assignment", "timewindow") and c.get("items"):
            return f"{c['kind']} constraints"
    return None


def solve(doc: dict, budget: float, seed: int = 0) -> dict:
    from pyvrp import Model
    from pyvrp.stop import MaxRuntime

    agents = doc["agents"]
    ids = [node["id"] for node in doc["nodes"]]
    index = {node_id: i for i, node_id in enumerate(ids)}
    matrix = doc["costs"][agents[0]["type"]]
    depot_node = index[agents[0]["start_node"]]

    model = Model()
    locations = [model.add_location(x=float(node["x"]), y=float(node["y"])) for node in doc["nodes"]]
    model.add_depot(locations[depot_node])
    for i in range(len(ids)):
        if i != depot_node:
            model.add_client(locations[i])
    model.add_vehicle_type(num_available=len(agents))
    for i, frm in enumerate(locations):
        row = matrix[i]
        for j, to in enumerate(locations):
            if i != j:
                model.add_edge(frm, to, distance=int(round(row[j] * SCALE)))

    # A route's client activities carry the client's index (clients in the order added).
    clients = [i for i in range(len(ids)) if i != depot_node]
    cpu0, wall0 = time.process_time(), time.perf_counter()
    result = model.solve(stop=MaxRuntime(budget), seed=seed, display=False)
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0

    paths = []
    if result.is_feasible():
        for route in result.best.routes():
            visits = [ids[clients[a.idx]] for a in route.schedule() if a.is_client()]
            paths.append([ids[depot_node]] + visits + [ids[depot_node]])
    paths += [[ids[depot_node]]] * (len(agents) - len(paths))  # unused vehicles
    return {
        "status": "ok" if result.is_feasible() else "failed",
        "native_status": "feasible" if result.is_feasible() else "infeasible",
        "paths": paths if result.is_feasible() else [],
        "anytime": [],
        "cpu_time": cpu,
        "wall_time": wall,
        "iterations": result.num_iterations,
    }


def main() -> int:
    result_fd = os.dup(1)
    os.dup2(2, 1)  # PyVRP's own output cannot mix with the result line
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--budget", type=float, required=True, help="time budget in seconds (wall clock)")
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args()
    doc = json.load(sys.stdin)
    reason = unsupported(doc)
    if reason:
        out = {"status": "unsupported", "message": f"outside the PyVRP model: {reason}"}
    else:
        try:
            out = solve(doc, args.budget, args.seed)
        except Exception as err:  # reported in the table, not raised
            traceback.print_exc()
            out = {"status": "error", "message": f"{type(err).__name__}: {err}"}
    try:
        from importlib.metadata import version

        out["version"] = version("pyvrp")
    except Exception:  # the version is a label only
        pass
    out = {"solver": "pyvrp", **out, "peak_rss_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0}
    os.write(result_fd, (json.dumps(out) + "\n").encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
