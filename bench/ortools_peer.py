"""The peer solver: OR-Tools routing on the same instance document.

One vehicle per agent, all at the depot. Costs are the real distances scaled by SCALE and rounded, since
the routing library works on integers; the caller recomputes the objective from the real distances.
min_sum minimises the arc costs; min_max adds a distance dimension whose global span cost (the longest
route) dominates the arc costs, the usual OR-Tools formulation of a min-max fleet.
"""
from __future__ import annotations

import time

from ortools.constraint_solver import pywrapcp, routing_enums_pb2

SCALE = 1000
SPAN_COEFFICIENT = 100  # per unit of the longest route; arc costs keep weight 1 as a tie-breaker


def status_name(code: int) -> str:
    return routing_enums_pb2.RoutingSearchStatus.Value.Name(code)


def solve(doc: dict, budget: float) -> dict:
    """Runs routing with a wall-clock limit of `budget` seconds.

    Returns {"status", "paths", "anytime": [{"time", "wall", "objective"}]}, where the times are
    processor and wall seconds since the search started and "objective" is the library's own
    (scaled, integer) objective of each improving solution."""
    agent = doc["agents"][0]
    depot = agent["start_node"]
    matrix = doc["costs"][agent["type"]]
    n = len(matrix)
    m = len(doc["agents"])
    scaled = [[int(round(d * SCALE)) for d in row] for row in matrix]

    manager = pywrapcp.RoutingIndexManager(n, m, depot)
    routing = pywrapcp.RoutingModel(manager)

    def distance(from_index, to_index):
        return scaled[manager.IndexToNode(from_index)][manager.IndexToNode(to_index)]

    transit = routing.RegisterTransitCallback(distance)
    routing.SetArcCostEvaluatorOfAllVehicles(transit)
    if doc["options"]["objective"] == "min_max":
        horizon = sum(max(row) for row in scaled)  # no single route can be longer
        routing.AddDimension(transit, 0, horizon, True, "Distance")
        routing.GetDimensionOrDie("Distance").SetGlobalSpanCostCoefficient(SPAN_COEFFICIENT)

    params = pywrapcp.DefaultRoutingSearchParameters()
    params.first_solution_strategy = routing_enums_pb2.FirstSolutionStrategy.PATH_CHEAPEST_ARC
    params.local_search_metaheuristic = routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    params.time_limit.FromMilliseconds(max(1, int(round(budget * 1000))))

    anytime = []
    cpu0 = time.process_time()
    wall0 = time.perf_counter()

    def on_solution():
        value = routing.CostVar().Value()
        if not anytime or value < anytime[-1]["objective"]:
            anytime.append({"time": time.process_time() - cpu0, "wall": time.perf_counter() - wall0,
                            "objective": value})

    routing.AddAtSolutionCallback(on_solution)
    solution = routing.SolveWithParameters(params)

    paths = []
    if solution is not None:
        for vehicle in range(m):
            index = routing.Start(vehicle)
            path = [manager.IndexToNode(index)]
            while not routing.IsEnd(index):
                index = solution.Value(routing.NextVar(index))
                path.append(manager.IndexToNode(index))
            paths.append(path)
    return {"status": status_name(routing.status()), "paths": paths, "anytime": anytime}
