"""VRPLIB files (CVRP, VRPTW, several depots, heterogeneous fleets, clients allowed per vehicle, route
durations, pickup and delivery) turned into instance documents.

The file is read with the `vrplib` package (Solomon's VRPTW layout too); `convert` maps what it
returns onto the instance format:

- node k of the file (1-based) becomes node id k - 1; its depots are depots, the rest targets with
  their "demand";
- one agent per vehicle, at its depot (VEHICLES_DEPOT_SECTION; else every depot gets the fleet);
  vehicles that differ in capacity, duration or allowed clients become agent types of their own,
  each with the same matrix, and the clients allowed per vehicle become assignment constraints;
- service times are folded into the cost of leaving a node, cost[i][j] = distance(i, j) +
  service(i), so that a window bounds the arrival and a route's cost is its duration (service and
  waits included), which "max_length" bounds: the vehicles' maximum durations, and the depot's
  window (routes leave at time 0);
- pickup-and-delivery pairs (PICKUP_AND_DELIVERY_SECTION) become "same" precedence pairs.

What the model cannot express (fixed and per-distance vehicle costs, loads that change along a
route) is dropped or made safe with a warning line. The notes describe the conversion; they are
also written into the document's "notes".
"""

from __future__ import annotations

import math
import pathlib
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any

OBJECTIVES = ("min_sum", "min_max")
ROUNDINGS = ("real", "nint")
SINGLE_TYPE = "vehicle"
_INT32_MAX = (1 << 31) - 1
_LISTED = 8  # node ids named in a note before the rest is counted
# Header fields and sections the conversion reads; the others are named in a warning.
_READ = frozenset(
    {
        "name",
        "comment",
        "type",
        "dimension",
        "vehicles",
        "capacity",
        "edge_weight_type",
        "edge_weight_format",
        "edge_weight",
        "node_coord",
        "demand",
        "depot",
        "service_time",
        "time_window",
        "vehicles_depot",
        "vehicles_max_duration",
        "vehicles_max_distance",
        "vehicles_allowed_clients",
        "vehicles_fixed_cost",
        "vehicles_unit_distance_cost",
        "pickup_and_delivery",
        "display_data_type",
        "node_coord_type",
    }
)
# Per-vehicle sections: each lists one value per vehicle.
_PER_VEHICLE = (
    "vehicles_depot",
    "vehicles_max_duration",
    "vehicles_max_distance",
    "vehicles_allowed_clients",
    "vehicles_fixed_cost",
    "vehicles_unit_distance_cost",
)


class VrplibError(ValueError):
    """A file that cannot be converted; the message says why, in one line."""


@dataclass
class Converted:
    document: dict[str, Any]
    notes: list[str] = field(default_factory=list)  # how it was converted (also in the document)
    warnings: list[str] = field(default_factory=list)  # what was dropped or cannot be met


def read_vrplib(path: str | pathlib.Path, text: str) -> dict[str, Any]:
    """What the `vrplib` package reads from the file (`text` is its content, to tell the layout:
    Solomon's files list "CUST NO." under a header of their own)."""
    try:
        import vrplib  # type: ignore[import-untyped, import-not-found, unused-ignore]
    except ImportError:
        raise VrplibError("reading VRPLIB files needs the vrplib package: pip install 'kvt-mtsp[vrplib]'") from None
    layout = "solomon" if "CUST NO." in text.upper() and ":" not in text.split("\n", 1)[0] else "vrplib"
    # The reader's faults come as any exception type; each becomes one line. Distances are computed
    # once the coordinates are known to be numbers.
    try:
        data = vrplib.read_instance(str(path), instance_format=layout, compute_edge_weights=layout == "solomon")
    except Exception as err:
        raise VrplibError(f"not a VRPLIB file: {_first_line(err)}") from None
    if not isinstance(data, dict) or not data:
        raise VrplibError("not a VRPLIB file: no header fields or sections")
    if layout == "solomon":
        data.setdefault("type", "VRPTW, Solomon's layout")
    coords = data.get("node_coord")
    if coords is not None and not (hasattr(coords, "dtype") and coords.dtype.kind in "iuf" and coords.ndim == 2):
        raise VrplibError("NODE_COORD_SECTION: expected two numbers (x, y) per node")
    if "edge_weight" not in data:
        if "edge_weight_type" not in data:
            raise VrplibError("no distances: the file has no EDGE_WEIGHT_TYPE")
        try:
            from vrplib.parse.parse_distances import (  # type: ignore[import-untyped, import-not-found, unused-ignore]
                parse_distances,
            )

            data["edge_weight"] = parse_distances([], **data)
        except Exception as err:
            raise VrplibError(f"no distances: {_first_line(err)}") from None
    return data


def _first_line(err: BaseException) -> str:
    text = str(err).strip()
    return text.splitlines()[0] if text else type(err).__name__


def _listed(ids: Sequence[int]) -> str:
    shown = ", ".join(str(v) for v in ids[:_LISTED])
    return shown + (f" and {len(ids) - _LISTED} more" if len(ids) > _LISTED else "")


def _number(value: float) -> str:
    return f"{value:.10g}"


def _values(data: dict[str, Any], key: str, count: int, what: str) -> list[float] | None:
    """A section of one number per node or vehicle (a single value stands for all); None when absent."""
    if key not in data:
        return None
    value = data[key]
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return [float(value)] * count
    try:
        values = [float(v) for v in _flat(value)]
    except (TypeError, ValueError):
        raise VrplibError(f"{key.upper()}_SECTION: expected one number per {what}") from None
    if len(values) != count:
        raise VrplibError(f"{key.upper()}_SECTION: {len(values)} values for {count} {what}s")
    if not all(math.isfinite(v) for v in values):
        raise VrplibError(f"{key.upper()}_SECTION: values must be finite numbers")
    return values


def _flat(value: Any) -> list[Any]:
    rows = value.tolist() if hasattr(value, "tolist") else list(value)
    out = []
    for row in rows:
        if isinstance(row, (list, tuple)):
            if len(row) != 1:
                raise ValueError("not one value a row")
            out.append(row[0])
        else:
            out.append(row)
    return out


def _rows(value: Any, width: int, key: str, count: int) -> list[list[float]]:
    rows = value.tolist() if hasattr(value, "tolist") else value
    if not isinstance(rows, list) or len(rows) != count:
        raise VrplibError(f"{key.upper()}_SECTION: expected {count} rows")
    out = []
    for row in rows:
        if not isinstance(row, list) or len(row) != width:
            raise VrplibError(f"{key.upper()}_SECTION: expected {width} values a row")
        try:
            numbers = [float(v) for v in row]
        except (TypeError, ValueError):
            raise VrplibError(f"{key.upper()}_SECTION: expected numbers") from None
        if not all(math.isfinite(v) for v in numbers):
            raise VrplibError(f"{key.upper()}_SECTION: values must be finite numbers")
        out.append(numbers)
    return out


def _node_numbers(values: Any, n: int, key: str) -> list[int]:
    """1-based node numbers of the file as 0-based positions."""
    try:
        numbers = [int(v) for v in (values.tolist() if hasattr(values, "tolist") else values)]
    except (TypeError, ValueError):
        raise VrplibError(f"{key.upper()}_SECTION: expected node numbers") from None
    for v in numbers:
        if not 1 <= v <= n:
            raise VrplibError(f"{key.upper()}_SECTION: node {v} is not one of the file's nodes 1 to {n}")
    return [v - 1 for v in numbers]


def _limit(value: float) -> int:
    """A limit as the format's 32-bit integer: cut down, so that a route within it stays within
    the file's."""
    return min(_INT32_MAX, int(math.floor(value + 1e-9)))


def convert(
    data: dict[str, Any],
    *,
    name: str,
    agents: int | None = None,
    objective: str = "min_sum",
    rounding: str = "real",
    time_limit: float = 60.0,
) -> Converted:
    """The instance document of a file `vrplib` read (`read_vrplib`). `agents`: vehicles per depot
    for a fleet the file gives as a count (default: its VEHICLES); VrplibError for a file that
    cannot be converted."""
    if objective not in OBJECTIVES:
        raise ValueError(f"objective must be one of {OBJECTIVES}, got {objective!r}")
    if rounding not in ROUNDINGS:
        raise ValueError(f"rounding must be one of {ROUNDINGS}, got {rounding!r}")
    try:
        return _convert(data, name, agents, objective, rounding, time_limit)
    except VrplibError:
        raise
    except (TypeError, ValueError, KeyError, IndexError, AttributeError, OverflowError) as err:
        # Sections of shapes or types the checks above do not foresee: still one line.
        raise VrplibError(f"cannot convert: {_first_line(err)}") from None


def _convert(
    data: dict[str, Any], name: str, agents: int | None, objective: str, rounding: str, time_limit: float
) -> Converted:
    out = Converted(document={})
    kind = str(data.get("type", "")) or "VRP"
    out.notes.append(f"converted from the VRPLIB file {name} ({kind}): file node k is node id k - 1")

    # Distances.
    if "edge_weight" not in data:
        raise VrplibError("no distances: the file has neither an EDGE_WEIGHT_SECTION nor coordinates to compute them")
    try:
        matrix = [[float(d) for d in row] for row in data["edge_weight"].tolist()]
    except (AttributeError, TypeError, ValueError):
        raise VrplibError("EDGE_WEIGHT_SECTION: expected a square matrix of numbers") from None
    n = len(matrix)
    if n == 0 or any(len(row) != n for row in matrix):
        raise VrplibError("EDGE_WEIGHT_SECTION: expected a square matrix of numbers")
    dimension = data.get("dimension")
    if dimension is not None and dimension != n:
        raise VrplibError(f"DIMENSION {dimension} but {n} nodes")
    if not all(math.isfinite(d) and d >= 0 for row in matrix for d in row):
        raise VrplibError("EDGE_WEIGHT_SECTION: distances must be finite and not negative")
    if rounding == "nint":
        matrix = [[float(math.floor(d + 0.5)) for d in row] for row in matrix]
        out.notes.append("distances rounded to the nearest integer (TSPLIB nint)")
    else:
        out.notes.append("distances as the file gives them (unrounded Euclidean for coordinates)")
    coords = _rows(data["node_coord"], 2, "node_coord", n) if "node_coord" in data else [[0.0, 0.0]] * n

    depots = _node_numbers(data["depot"] + 1, n, "depot") if "depot" in data else [0]
    if not depots:
        raise VrplibError("DEPOT_SECTION: no depot")
    if len(set(depots)) != len(depots):
        raise VrplibError("DEPOT_SECTION: a depot listed twice")
    depot_set = set(depots)
    clients = [j for j in range(n) if j not in depot_set]

    # Node data.
    demand = _values(data, "demand", n, "node") or [0.0] * n
    service = _values(data, "service_time", n, "node") or [0.0] * n
    windows = _rows(data["time_window"], 2, "time_window", n) if "time_window" in data else None
    pairs: list[tuple[int, int]] = []
    if "pickup_and_delivery" in data:
        pairs = _pickup_and_delivery(data, n, demand, service, windows, out)
        if windows is None:
            windows = [row[1:3] for row in _rows(data["pickup_and_delivery"], 6, "pickup_and_delivery", n)]
    for j in depots:
        service[j] = 0.0  # vehicles leave their depot at once
    negative = [j + 1 for j in clients if demand[j] < 0]
    if negative:
        raise VrplibError(
            f"DEMAND_SECTION: node {negative[0]} has a negative demand ({_number(demand[negative[0] - 1])})"
        )

    # Fleet.
    fleet = _fleet(data, n, depots, agents, out)
    # Fixed costs other than 0 and per-distance costs that differ between vehicles change which plan
    # is best; the instance format has no field for either.
    dropped = []
    if "vehicles_fixed_cost" in data and any(
        v != 0 for v in _values(data, "vehicles_fixed_cost", len(fleet), "vehicle") or ()
    ):
        dropped.append("fixed costs")
    if (
        "vehicles_unit_distance_cost" in data
        and len(set(_values(data, "vehicles_unit_distance_cost", len(fleet), "vehicle") or ())) > 1
    ):
        dropped.append("per-distance costs")
    if dropped:
        out.warnings.append(
            f"the vehicles' {' and '.join(dropped)} are dropped: the instance format has no field for them, so "
            "every vehicle pays the distance itself"
        )

    # Costs: distance plus the service at the node left.
    folded = any(s > 0 for s in service)
    cost = [[0.0 if i == j else matrix[i][j] + service[i] for j in range(n)] for i in range(n)]
    if folded:
        out.notes.append(
            "service times are folded into the cost of leaving a node: cost[i][j] = distance(i, j) + service "
            "time of i, so a window bounds the arrival and a route's cost is its duration, service and waits "
            "included"
        )

    # Limits: maximum durations, the depot's closing time, maximum distances where cost is distance.
    depot_close = {j: windows[j][1] for j in depots} if windows is not None else {}
    if windows is not None:
        late = [j + 1 for j in depots if windows[j][0] > 0]
        if late:
            out.warnings.append(
                f"the window of depot node {late[0]} opens at {_number(windows[late[0] - 1][0])}: routes here start "
                "at time 0, so the vehicles' departure times are not kept"
            )
    timed = folded or windows is not None
    if "vehicles_max_distance" in data and timed:
        out.warnings.append(
            "VEHICLES_MAX_DISTANCE is dropped: with service times or windows a route's cost is its duration, "
            "not its distance"
        )
    limits = []
    for vehicle in fleet:
        bounds = [b for b in (vehicle.max_duration, depot_close.get(vehicle.depot)) if b is not None]
        if vehicle.max_distance is not None and not timed:
            bounds.append(vehicle.max_distance)
        limits.append(_limit(min(bounds)) if bounds else 0)
    if depot_close:
        out.notes.append(
            "the depots' closing times bound the routes' costs (max_length), as every route leaves at time 0"
        )

    # Agent types: vehicles alike in what the instance keeps share one.
    keys = [(v.capacity, limit, v.allowed) for v, limit in zip(fleet, limits)]
    distinct = list(dict.fromkeys(keys))
    type_names = {key: SINGLE_TYPE if len(distinct) == 1 else f"{SINGLE_TYPE}{i + 1}" for i, key in enumerate(distinct)}
    if len(distinct) > 1:
        out.notes.append(
            f"{len(distinct)} agent types, one per kind of vehicle (capacity, duration, allowed clients): "
            + "; ".join(
                f"{type_names[key]}: capacity {key[0]}" + (f", max_length {key[1]}" if key[1] else "")
                for key in distinct
            )
        )

    nodes: list[dict[str, Any]] = []
    for j in range(n):
        node: dict[str, Any] = {"id": j, "x": coords[j][0], "y": coords[j][1]}
        if j in depot_set:
            node["type"] = "depot"
        elif demand[j]:
            node["demand"] = demand[j]
        nodes.append(node)
    agent_docs = []
    for k, (vehicle, limit, key) in enumerate(zip(fleet, limits, keys)):
        agent: dict[str, Any] = {
            "id": k,
            "type": type_names[key],
            "start_node": vehicle.depot,
            "end_node": vehicle.depot,
        }
        if vehicle.capacity > 0:
            agent["capacity"] = vehicle.capacity
        if limit > 0:
            agent["max_length"] = limit
        agent_docs.append(agent)

    constraints: list[dict[str, Any]] = []
    if any(v.allowed is not None for v in fleet):
        items = []
        for j in clients:
            allowed = [type_names[key] for key in distinct if key[2] is None or j in key[2]]
            items.append({"node": j, "types": allowed})
        nobody = [j for j, item in zip(clients, items) if not item["types"]]
        if nobody:
            out.warnings.append(f"no vehicle may serve node ids {_listed(nobody)}: the instance has no solution")
        constraints.append({"kind": "assignment", "items": items})
    if windows is not None:
        constraints.append(
            {
                "kind": "timewindow",
                "items": [{"node": j, "start": windows[j][0], "end": windows[j][1]} for j in clients],
            }
        )
    if pairs:
        constraints.append(
            {"kind": "sequence", "precedence": [{"before": a, "after": b, "type": "same"} for a, b in pairs]}
        )

    loads = any(v.capacity > 0 for v in fleet) and any(d > 0 for d in demand)
    options: dict[str, Any] = {"objective": objective, "return_to_end": True, "time_limit": float(time_limit)}
    if loads or pairs:
        options["improve"] = True
    if loads:
        options["enforce_capacity"] = True
    if pairs:
        options["enforce_precedence"] = True

    late_starts = _waits_beyond_limits(cost, windows, fleet, limits, clients)
    if late_starts:
        out.warnings.append(
            f"{len(late_starts)} clients (node ids {_listed(late_starts)}) cannot be served within any allowed "
            "vehicle's max_length: routes start at time 0 and waits count, while the file's duration limit is "
            "meant for vehicles that leave later"
        )

    unknown = sorted(k.upper() for k in data if k not in _READ)
    if unknown:
        out.warnings.append(f"ignored, not part of the instance format: {', '.join(unknown)}")

    out.document = {
        "name": str(data.get("name") or name),
        "notes": out.notes,
        "nodes": nodes,
        "agents": agent_docs,
        "costs": {type_names[key]: cost for key in distinct},
        "constraints": constraints,
        "options": options,
    }
    if not constraints:
        del out.document["constraints"]
    return out


@dataclass(frozen=True)
class _Vehicle:
    depot: int
    capacity: int  # 0: none
    max_duration: float | None
    max_distance: float | None
    allowed: frozenset[int] | None  # node positions; None: every client


def _fleet(data: dict[str, Any], n: int, depots: list[int], agents: int | None, out: Converted) -> list[_Vehicle]:
    """The vehicles, one agent each: those the per-vehicle sections describe, else `agents` (or
    VEHICLES) at each depot."""
    described = [key for key in _PER_VEHICLE if key in data]
    capacity = data.get("capacity")
    per_vehicle_capacity = capacity is not None and not isinstance(capacity, (int, float))
    if per_vehicle_capacity:
        described.insert(0, "capacity")
    vehicles = data.get("vehicles")
    if vehicles is not None and (not isinstance(vehicles, int) or isinstance(vehicles, bool) or vehicles < 1):
        raise VrplibError(f"VEHICLES {vehicles!r} is not a positive whole number")
    if described:
        count = (
            len(_flat(data[described[0]])) if described[0] != "vehicles_allowed_clients" else len(data[described[0]])
        )
        if vehicles is not None and vehicles != count:
            raise VrplibError(f"VEHICLES {vehicles} but {described[0].upper()}_SECTION lists {count} vehicles")
        if agents is not None and agents != count:
            raise VrplibError(
                f"--agents {agents}: the file describes each of its {count} vehicles ({described[0].upper()}_SECTION); "
                "leave --agents out"
            )
        per_depot = None
    else:
        clients = n - len(depots)
        if agents is not None:
            count = agents
        elif vehicles is not None:
            count = vehicles
        else:
            count = max(1, clients)
            out.notes.append(
                f"the file gives no VEHICLES: {count} agents, one per client (--agents sets another count)"
            )
        per_depot = count
    if capacity is None:
        capacities = None
    elif per_vehicle_capacity:
        capacities = _values(data, "capacity", count, "vehicle")
    else:
        if not isinstance(capacity, (int, float)) or isinstance(capacity, bool) or not capacity >= 0:
            raise VrplibError(f"CAPACITY {capacity!r} is not a number of at least 0")
        capacities = [float(capacity)] * count
    if capacities is not None and any(c != math.floor(c) for c in capacities):
        out.warnings.append("fractional capacities are cut to whole numbers (the instance format's capacities are)")

    if per_depot is not None:
        if len(depots) > 1:
            out.notes.append(f"{per_depot} agents at each of the {len(depots)} depots")
        capacity_each = _limit(capacities[0]) if capacities else 0
        return [_Vehicle(home, capacity_each, None, None, None) for home in depots for _ in range(per_depot)]

    if "vehicles_depot" in data:
        homes = _node_numbers(_flat(data["vehicles_depot"]), n, "vehicles_depot")
        stray = [h + 1 for h in homes if h not in depots]
        if stray:
            raise VrplibError(f"VEHICLES_DEPOT_SECTION: node {stray[0]} is not a depot")
    elif len(depots) > 1:
        raise VrplibError("several depots, but no VEHICLES_DEPOT_SECTION says where each vehicle starts")
    else:
        homes = [depots[0]] * count
    unused = [d + 1 for d in depots if d not in homes]
    if unused:
        raise VrplibError(f"depot node {unused[0]} has no vehicle: the instance would have to visit it")
    durations = _values(data, "vehicles_max_duration", count, "vehicle")
    distances = _values(data, "vehicles_max_distance", count, "vehicle")
    allowed: list[frozenset[int] | None] = [None] * count
    if "vehicles_allowed_clients" in data:
        lists = data["vehicles_allowed_clients"]
        lists = lists.tolist() if hasattr(lists, "tolist") else lists
        if len(lists) != count:
            raise VrplibError(f"VEHICLES_ALLOWED_CLIENTS_SECTION: {len(lists)} rows for {count} vehicles")
        allowed = [
            frozenset(_node_numbers(row if isinstance(row, list) else [row], n, "vehicles_allowed_clients"))
            for row in lists
        ]
    return [
        _Vehicle(
            homes[k],
            _limit(capacities[k]) if capacities else 0,
            durations[k] if durations else None,
            distances[k] if distances else None,
            allowed[k],
        )
        for k in range(count)
    ]


def _pickup_and_delivery(
    data: dict[str, Any],
    n: int,
    demand: list[float],
    service: list[float],
    windows: list[list[float]] | None,
    out: Converted,
) -> list[tuple[int, int]]:
    """The (pickup, delivery) pairs of a PICKUP_AND_DELIVERY_SECTION (rows: demand, earliest,
    latest, service time, pickup node, delivery node), which also gives the node data the file's
    other sections do not; deliveries' negative demands become 0 (see the warning)."""
    rows = _rows(data["pickup_and_delivery"], 6, "pickup_and_delivery", n)
    has_demand = "demand" in data
    has_service = "service_time" in data
    pairs = []
    for j, (load, _, _, serve, _, delivery) in enumerate(rows):
        if not has_demand:
            demand[j] = load
        if not has_service:
            service[j] = serve
        if delivery > 0:
            d = int(delivery) - 1
            if not 0 <= d < n or d == j or int(rows[d][4]) - 1 != j:
                raise VrplibError(
                    f"PICKUP_AND_DELIVERY_SECTION: node {j + 1} names delivery {int(delivery)}, which does not name "
                    "it as its pickup"
                )
            pairs.append((j, d))
    if any(d < 0 for d in demand):
        out.warnings.append(
            "deliveries' negative demands are read as 0: the instance's capacities count a load from the start "
            "to the end of a route, so each pickup's load counts for the whole route (safe, but tighter than "
            "the file)"
        )
        for j, load in enumerate(demand):
            if load < 0:
                demand[j] = 0.0
    out.notes.append(f'{len(pairs)} pickup-and-delivery pairs as "same" pairs: one agent, pickup first')
    return pairs


def _waits_beyond_limits(
    cost: list[list[float]],
    windows: list[list[float]] | None,
    fleet: list[_Vehicle],
    limits: list[int],
    clients: list[int],
) -> list[int]:
    """Clients (node ids) that every vehicle allowed to serve them reaches in time but cannot serve
    and return within its max_length, when it leaves at time 0 and waits for the window."""
    if windows is None:
        return []
    out = []
    for j in clients:
        reachable = False
        servable = False
        for vehicle, limit in zip(fleet, limits):
            if vehicle.allowed is not None and j not in vehicle.allowed:
                continue
            arrival = cost[vehicle.depot][j]
            if arrival > windows[j][1]:
                continue
            reachable = True
            back = max(arrival, windows[j][0]) + cost[j][vehicle.depot]
            if limit <= 0 or back <= limit + 1e-9:
                servable = True
                break
        if reachable and not servable:
            out.append(j)
    return out
