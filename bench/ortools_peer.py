"""The peer solver: OR-Tools routing on the same instance document, every variant modelled.

- One vehicle per agent with the agent's own start and end node (starts/ends lists); every node that
  is no agent's start or end is a visit.
- Agent types: one transit matrix per type, the vehicle's arc costs and time transits from its type's
  matrix; assignments restrict a node to the vehicles whose type may serve it (allowed vehicles:
  the domain of its vehicle variable).
- Time: a dimension "Time" on the per-type transits. Time windows bound its cumuls, waiting before a
  window opens is its slack; "max_length" is the vehicle's capacity of that dimension; every route
  starts at time 0. A route's cost is the time it reaches its last node, waits included.
- Open routes (return_to_end false): arcs into a depot are free (the only arcs into a depot are the
  closings, which cost nothing then).
- min_sum minimises the arc costs, plus each vehicle's span when there are windows (so waiting counts);
  min_max puts a global span cost on the time dimension (the longest route) that dominates the arc
  costs, the usual OR-Tools formulation of a min-max fleet.
- First solution: PARALLEL_CHEAPEST_INSERTION with windows, limits, precedence pairs or a fleet of
  mixed capacities (PATH_CHEAPEST_ARC finds none there), PATH_CHEAPEST_ARC otherwise; then
  GUIDED_LOCAL_SEARCH for the rest of the budget. In those cases every visit may also be dropped at
  a penalty that outweighs any route plan (without it the insertion finds no first solution on tight
  instances); a dropped visit shows in validation.

- Capacities (options.enforce_capacity): a dimension "Load" on the demands, each vehicle's capacity
  its own (none for a capacity of 0). Precedence pairs (options.enforce_precedence): "same" pairs are
  pickup-and-delivery requests (same vehicle, pickup first); "diff" pairs put the two nodes on
  different vehicles; plain and "diff" pairs order the two nodes' time cumuls.

Costs, windows and limits are scaled by SCALE to integers, rounded so that a route that is feasible in
the integers is feasible in the real values too (travel times round up, window starts up, window ends
down); the caller recomputes each route's cost from the real distances.
"""

from __future__ import annotations

import math
import time

from ortools.constraint_solver import pywrapcp, routing_enums_pb2

from kvt_mtsp.engine import MISSING_COST
from kvt_mtsp.instance import Instance

SCALE = 1000
SPAN_COEFFICIENT = 100  # per unit of the longest route; arc costs keep weight 1 as a tie-breaker


def status_name(code: int) -> str:
    return routing_enums_pb2.RoutingSearchStatus.Value.Name(code)


def scale_up(value: float) -> int:
    """An integer strictly above value x SCALE (floating error in the product stays below 1)."""
    return int(math.floor(value * SCALE)) + 1


def scale_down(value: float) -> int:
    """An integer strictly below value x SCALE."""
    return int(math.floor(value * SCALE)) - 1


def add_loads(routing, manager, inst: Instance, index_of: dict) -> None:
    """The capacity dimension: integer demands (fractions scaled up by SCALE, capacities then cut
    down, so that a plan within the integers is within the real values)."""
    demands = [node.demand for node in inst.nodes]
    factor = 1 if all(float(d).is_integer() for d in demands) else SCALE
    scaled = [int(math.ceil(d * factor)) for d in demands]
    total = sum(scaled)
    capacities = [int(a.capacity) * factor if a.capacity > 0 else total for a in inst.agents]
    callback = routing.RegisterUnaryTransitCallback(lambda index: scaled[manager.IndexToNode(index)])
    routing.AddDimensionWithVehicleCapacity(callback, 0, capacities, True, "Load")


def solve(doc: dict, budget: float) -> dict:
    """Runs routing with a wall-clock limit of `budget` seconds.

    Returns {"status", "paths", "anytime": [{"time", "wall", "objective"}]}: paths in node ids, one per
    agent; times are processor and wall seconds since the search started, "objective" the library's
    own (scaled, integer) objective of each improving solution."""
    inst = Instance.from_document(doc)
    ids = [node.id for node in inst.nodes]
    n, m = len(ids), len(inst.agents)
    index_of = {node_id: i for i, node_id in enumerate(ids)}
    starts = [index_of[a.start_node] for a in inst.agents]
    ends = [index_of[a.end_node] for a in inst.agents]
    depots = set(starts) | set(ends)
    open_routes = not inst.return_to_end

    types = sorted({a.type for a in inst.agents})
    matrices = {}
    for t in types:
        matrix = inst.costs.get(t, [])
        scaled = []
        for i in range(n):
            row = matrix[i] if i < len(matrix) else []
            scaled.append(
                [
                    0 if i == j or (open_routes and j in depots) else scale_up(row[j] if j < len(row) else MISSING_COST)
                    for j in range(n)
                ]
            )
        matrices[t] = scaled

    manager = pywrapcp.RoutingIndexManager(n, m, starts, ends)
    routing = pywrapcp.RoutingModel(manager)
    transit = {t: routing.RegisterTransitMatrix(matrices[t]) for t in types}
    vehicle_transit = [transit[a.type] for a in inst.agents]
    for k in range(m):
        routing.SetArcCostEvaluatorOfVehicle(vehicle_transit[k], k)

    windows = {index_of[v]: w for v, w in inst.windows.items() if v in index_of}
    limits = [a.max_length for a in inst.agents]
    longest_arc = max((max(row) for scaled in matrices.values() for row in scaled), default=0)
    latest = max((scale_up(w[1]) for w in windows.values()), default=0)
    horizon = max(latest, 0) + longest_arc * (n + 1)
    capacities = [min(horizon, limit * SCALE) if limit > 0 else horizon for limit in limits]
    routing.AddDimensionWithVehicleTransitAndCapacity(
        vehicle_transit, horizon if windows else 0, capacities, True, "Time"
    )
    time_dim = routing.GetDimensionOrDie("Time")
    for node, (start, end) in windows.items():
        if node in depots:
            continue  # routes start at time 0; a depot's window bounds nothing the model visits
        lo, hi = max(0, scale_up(start)), scale_down(end)  # integers strictly inside the real window
        if hi < lo:
            raise ValueError(f"the window of node {ids[node]} is too narrow for the integer model")
        time_dim.CumulVar(manager.NodeToIndex(node)).SetRange(lo, hi)

    for v, allowed in inst.assignments.items():
        node = index_of.get(v)
        if node is None or node in depots:
            continue
        vehicles = [k for k, a in enumerate(inst.agents) if a.type in allowed]
        # The vehicle variable's domain is what SetAllowedVehiclesForIndex sets (whose Python binding
        # rejects every sequence in some releases); -1 stands for "not performed".
        routing.VehicleVar(manager.NodeToIndex(node)).SetValues([-1] + vehicles)

    solver = routing.solver()
    if inst.enforce_capacity:
        add_loads(routing, manager, inst, index_of)
    if inst.enforce_precedence:
        for pair in inst.pairs:
            a, b = manager.NodeToIndex(index_of[pair.before]), manager.NodeToIndex(index_of[pair.after])
            if pair.kind == "same":
                routing.AddPickupAndDelivery(a, b)
                solver.Add(routing.VehicleVar(a) == routing.VehicleVar(b))
            elif pair.kind == "diff":
                solver.Add(routing.VehicleVar(a) != routing.VehicleVar(b))
            solver.Add(time_dim.CumulVar(a) <= time_dim.CumulVar(b))

    # Pairs and a fleet of mixed capacities leave the path-extending first solution stuck too.
    mixed_fleet = inst.enforce_capacity and len({a.capacity for a in inst.agents}) > 1
    constrained = (
        bool(windows)
        or any(limit > 0 for limit in limits)
        or (inst.enforce_precedence and bool(inst.pairs))
        or mixed_fleet
    )
    if constrained:
        # Insertion heuristics stop at the first node they cannot place, which tight windows and
        # limits make common: every visit may be dropped at a penalty above any route plan, so the
        # first solution exists and the local search puts the dropped visits back. A plan that still
        # drops one fails the caller's validation.
        penalty = (SPAN_COEFFICIENT + 2) * horizon * m
        for node in range(n):
            if node not in depots:
                routing.AddDisjunction([manager.NodeToIndex(node)], penalty)

    if inst.objective == "min_max":
        time_dim.SetGlobalSpanCostCoefficient(SPAN_COEFFICIENT)
    elif windows:
        time_dim.SetSpanCostCoefficientForAllVehicles(1)

    params = pywrapcp.DefaultRoutingSearchParameters()
    params.first_solution_strategy = (
        routing_enums_pb2.FirstSolutionStrategy.PARALLEL_CHEAPEST_INSERTION
        if constrained
        else routing_enums_pb2.FirstSolutionStrategy.PATH_CHEAPEST_ARC
    )
    params.local_search_metaheuristic = routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    params.time_limit.FromMilliseconds(max(1, int(round(budget * 1000))))

    anytime = []
    cpu0 = time.process_time()
    wall0 = time.perf_counter()

    def on_solution():
        value = routing.CostVar().Value()
        if not anytime or value < anytime[-1]["objective"]:
            anytime.append(
                {"time": time.process_time() - cpu0, "wall": time.perf_counter() - wall0, "objective": value}
            )

    routing.AddAtSolutionCallback(on_solution)
    solution = routing.SolveWithParameters(params)

    paths = []
    dropped = 0
    if solution is not None:
        dropped = sum(
            1
            for node in range(n)
            if node not in depots
            and solution.Value(routing.NextVar(manager.NodeToIndex(node))) == manager.NodeToIndex(node)
        )
        for vehicle in range(m):
            index = routing.Start(vehicle)
            path = [ids[manager.IndexToNode(index)]]
            while not routing.IsEnd(index):
                index = solution.Value(routing.NextVar(index))
                path.append(ids[manager.IndexToNode(index)])
            paths.append(path)
    return {"status": status_name(routing.status()), "paths": paths, "anytime": anytime, "dropped": dropped}
