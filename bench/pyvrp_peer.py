"""PyVRP as a peer solver, run in its own environment (bench/.venv-pyvrp, Python 3.11 or newer, made by
bench/setup_pyvrp.sh).

Reads an instance document on standard input and writes one JSON line on standard output:
{"solver": "pyvrp", "status", "native_status", "paths", "anytime", "cpu_time", "wall_time",
"peak_rss_mib", "message"?}. It models the single-depot min-sum setting: one depot where every agent
starts and ends, one agent type, return_to_end true, no windows, limits or assignments; anything else
comes back with status "unsupported". Distances are scaled by SCALE and rounded to integers (PyVRP
works on integers); the parent re-evaluates the routes with the real distances. Standalone: it imports
nothing of the project, so it runs under any interpreter that has PyVRP.

With --vrp it models the capacity suite's rows instead (`solve_vrp`): depots where agents start and
end, capacities (options.enforce_capacity), time windows, "max_length" as the shift duration,
assignments as one profile per agent type (arcs into a client the type may not serve cost
PROHIBITIVE); min_sum only, no precedence pairs. With windows or limits the objective is the routes'
duration (unit duration cost, no distance cost, every vehicle leaving at time 0, so that waits count as
they do in the instance); otherwise their distance.
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


PROHIBITIVE = 10**9


def unsupported_vrp(doc: dict) -> str | None:
    """Why the document is outside the --vrp model, or None."""
    options = doc.get("options") or {}
    if options.get("objective", "min_sum") not in ("min_sum", "MIN_SUM"):
        return "objective is not min_sum"
    if options.get("return_to_end", True) is not True:
        return "open routes"
    if any(a["start_node"] != a["end_node"] for a in doc.get("agents") or []):
        return "routes that end elsewhere than they start"
    if options.get("enforce_precedence") and any(
        c.get("kind") == "sequence" and c.get("precedence") for c in doc.get("constraints") or []
    ):
        return "precedence pairs"
    return None


def _up(value: float) -> int:
    """An integer at least value x SCALE."""
    return int(math.ceil(value * SCALE - 1e-6))


def solve_vrp(doc: dict, budget: float, seed: int = 0) -> dict:
    from pyvrp import Model
    from pyvrp.stop import MaxRuntime

    nodes, agents = doc["nodes"], doc["agents"]
    ids = [node["id"] for node in nodes]
    index = {node_id: i for i, node_id in enumerate(ids)}
    options = doc.get("options") or {}
    loads = bool(options.get("enforce_capacity"))
    windows, allowed = {}, {}
    for c in doc.get("constraints") or []:
        for item in c.get("items") or []:
            if c["kind"] == "timewindow":
                windows[index[item["node"]]] = (item["start"], item["end"])
            elif c["kind"] == "assignment":
                allowed[index[item["node"]]] = set(item["types"])
    timed = bool(windows) or any(a.get("max_length", 0) > 0 for a in agents)
    demands = [float(node.get("demand", 0.0)) for node in nodes]
    factor = 1 if all(d.is_integer() for d in demands) else SCALE
    depot_nodes = list(dict.fromkeys(index[a["start_node"]] for a in agents))

    model = Model()
    locations = [model.add_location(x=float(node["x"]), y=float(node["y"])) for node in nodes]
    depots = {i: model.add_depot(locations[i]) for i in depot_nodes}
    clients = [i for i in range(len(ids)) if i not in depots]
    for i in clients:
        early, late = windows.get(i, (0.0, None))
        model.add_client(
            locations[i],
            delivery=[int(math.ceil(demands[i] * factor))] if loads else [],
            tw_early=max(0, _up(early)),
            tw_late=int(math.floor(late * SCALE)) if late is not None else 2**62,
        )
    types = list(dict.fromkeys(a["type"] for a in agents))
    profiles = {t: model.add_profile(name=t) for t in types} if allowed else {}
    for t in types:
        matrix = doc["costs"][t]
        for i, frm in enumerate(locations):
            for j, to in enumerate(locations):
                if i == j:
                    continue
                cost = _up(matrix[i][j])
                if j in allowed and t not in allowed[j]:
                    cost = PROHIBITIVE
                model.add_edge(frm, to, distance=cost, duration=cost if timed else 0, profile=profiles.get(t))
        if not profiles:
            break  # one set of edges serves every type
    total = sum(int(math.ceil(d * factor)) for d in demands)
    groups: dict[tuple, list[int]] = {}  # (type, capacity, limit, depot) -> agent positions
    for k, a in enumerate(agents):
        key = (a["type"], a.get("capacity", 0), a.get("max_length", 0), index[a["start_node"]])
        groups.setdefault(key, []).append(k)
    vehicle_types = []
    for (t, capacity, limit, depot), members in groups.items():
        vehicle_types.append(members)
        model.add_vehicle_type(
            num_available=len(members),
            capacity=[int(capacity) * factor if capacity > 0 else total] if loads else [],
            start_depot=depots[depot],
            end_depot=depots[depot],
            tw_early=0,
            start_late=0,
            shift_duration=int(limit) * SCALE if limit > 0 else 2**62,
            unit_distance_cost=0 if timed else 1,
            unit_duration_cost=1 if timed else 0,
            profile=profiles.get(t),
        )

    cpu0, wall0 = time.process_time(), time.perf_counter()
    result = model.solve(stop=MaxRuntime(budget), seed=seed, display=False)
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
    feasible = result.is_feasible()
    paths = [[ids[index[a["start_node"]]]] for a in agents]  # unused agents
    if feasible:
        free = [list(members) for members in vehicle_types]
        for route in result.best.routes():
            k = free[route.vehicle_type()].pop(0)
            home = ids[index[agents[k]["start_node"]]]
            visits = [ids[clients[act.idx]] for act in route.schedule() if act.is_client()]
            paths[k] = [home] + visits + [home]
    return {
        "status": "ok" if feasible else "failed",
        "native_status": "feasible" if feasible else "infeasible",
        "paths": paths if feasible else [],
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
    parser.add_argument("--vrp", action="store_true", help="the capacity suite's model (solve_vrp)")
    args = parser.parse_args()
    doc = json.load(sys.stdin)
    reason = unsupported_vrp(doc) if args.vrp else unsupported(doc)
    if reason:
        out = {"status": "unsupported", "message": f"outside the PyVRP model: {reason}"}
    else:
        try:
            out = (solve_vrp if args.vrp else solve)(doc, args.budget, args.seed)
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
