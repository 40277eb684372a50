"""Recomputes the routes of a result against its instance and lists every rule a route breaks.

The rules are the solver's: route k belongs to the instance's agent k and lists node ids, starting at
the agent's start node and closing at its end node (without return-to-end also back at its start,
and that closing move is free, so an end node distinct from the start needs no visit). Every other
node is served once, by an agent whose type its assignment entry names (nodes without one: any
type), and no route passes another agent's start or end node. A route's cost is the arrival time at
its last node: arriving before a window opens waits, after it closes breaks the window; a positive
"max_length" bounds the cost after every step; an arc without a matrix cell costs 9999.0.

With options.enforce_capacity true, an agent whose "capacity" is above 0 serves targets whose
"demand"s add up to at most it. With options.enforce_precedence true, every pair (before, after) of
a "sequence" constraint holds: `before` is served (its arrival, after any wait for its window) no
later than `after`; a "same" pair has one agent serve both, `before` earlier on its route; a "diff"
pair has two different agents serve them.
"""

from __future__ import annotations

import itertools
import math
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import Any

from .instance import PLAIN, Agent, Instance

REL_TOL = 1e-9
ABS_TOL = 1e-9
_LISTED = 20  # missing nodes named in one message before the rest is counted
_READINGS = 256  # ways of telling apart nodes that share an id tried per route


class ResultError(ValueError):
    """The document is not a result dictionary."""


@dataclass(frozen=True)
class Violation:
    kind: str  # short code: status, routes, agent_id, no_route, unknown_node, start, end, depot,
    #            assignment, window, limit, twice, missing, cost, statistics, instance, capacity,
    #            precedence
    message: str
    route: int | None = None  # position in the result's routes; None for faults of the whole result
    agent_id: int | None = None

    def __str__(self) -> str:
        if self.route is None:
            return self.message
        return f"route {self.route} (agent {self.agent_id}): {self.message}"


@dataclass(frozen=True)
class RouteTiming:
    cost: float
    violations: list[Violation]


def _num(value: float) -> str:
    return f"{value:.10g}"


def walk_route(
    instance: Instance, agent: Agent, path: Sequence[int], positions: Sequence[int] | None = None
) -> list[tuple[int, float, float, float]]:
    """(node id, arrival, wait, start of service) per stop of `path`: the route walk of the rules above.

    Arriving before a window opens waits until it opens; a broken window or limit does not stop the
    clock (`time_route` lists them). `positions`: the node position of each visit, for ids that
    several nodes carry (default: the last node with the id, which is what references to it mean)."""
    at = positions if positions is not None else [instance.index_of(v) for v in path]
    stops = []
    t = 0.0
    for i, v in enumerate(path):
        if i > 0:
            free = at[i - 1] == at[i] or (not instance.return_to_end and v in (agent.start_node, agent.end_node))
            if not free:
                t += instance.cost_at(agent.type, at[i - 1], at[i])
        window = instance.windows.get(v)
        start = max(t, window[0]) if window is not None else t
        stops.append((v, t, start - t, start))
        t = start
    return stops


def time_route(
    instance: Instance,
    agent: Agent,
    path: Sequence[int],
    route: int | None = None,
    positions: Sequence[int] | None = None,
) -> RouteTiming:
    """Arrival time at the last node of `path`, with the windows and limit it breaks on the way.

    `positions` as for `walk_route`. A broken window does not stop the clock: later arrivals are
    timed as if the agent went on."""
    violations = []
    limit = agent.max_length
    t = 0.0
    for i, (v, arrival, _, start) in enumerate(walk_route(instance, agent, path, positions)):
        window = instance.windows.get(v)
        if window is not None and arrival > window[1]:
            violations.append(
                Violation(
                    "window",
                    f"arrives at node {v} at {_num(arrival)}, after its window [{_num(window[0])}, "
                    f"{_num(window[1])}] closes",
                    route,
                    agent.id,
                )
            )
        t = start
        if i > 0 and limit > 0 and t > limit:
            violations.append(
                Violation("limit", f"has cost {_num(t)} at node {v}, over its max_length {limit}", route, agent.id)
            )
    return RouteTiming(t, violations)


def _timings(instance: Instance, agent: Agent, path: Sequence[int], route: int | None) -> Iterator[RouteTiming]:
    """The route's timing for each way of telling apart the nodes that share an id on it: every visit
    of such an id served by a different node carrying it (at most `_READINGS` ways); the last node
    for every visit first."""
    yield time_route(instance, agent, path, route)
    carriers = instance.carriers()
    shared = [i for i, v in enumerate(path) if len(carriers.get(v, ())) > 1]
    if not shared:
        return
    base = [instance.index_of(v) for v in path]
    choices = itertools.product(*(carriers[path[i]] for i in shared))
    for choice in itertools.islice(choices, _READINGS):
        seen = [(path[i], p) for i, p in zip(shared, choice)]
        if len(set(seen)) < len(seen):
            continue  # one node served twice
        positions = list(base)
        for i, p in zip(shared, choice):
            positions[i] = p
        yield time_route(instance, agent, path, route, positions)  # type: ignore[arg-type]


def route_cost(instance: Instance, agent: Agent, path: Sequence[int]) -> float | None:
    """The cost of `path` for `agent`, or None when it breaks a window or the agent's limit."""
    timing = time_route(instance, agent, path)
    return None if timing.violations else timing.cost


def _field(obj: Any, key: str, kind: type | tuple[type, ...], where: str) -> Any:
    if not isinstance(obj, dict) or key not in obj:
        raise ResultError(f"{where}: missing key {key!r}")
    value = obj[key]
    if not isinstance(value, kind) or isinstance(value, bool) and kind is not bool:
        raise ResultError(f"{where}: {key!r} has the wrong type")
    return value


def _check_route(
    instance: Instance, agent: Agent, k: int, route: Any, owners: dict[int, str]
) -> tuple[list[int], list[Violation]]:
    where = f"route {k}"
    agent_id = _field(route, "agent_id", int, where)
    path = _field(route, "path", list, where)
    cost = _field(route, "cost", (int, float), where)
    if not all(isinstance(v, int) and not isinstance(v, bool) for v in path):
        raise ResultError(f"{where}: 'path' must list node ids")

    def fault(kind: str, message: str) -> Violation:
        return Violation(kind, message, k, agent.id)

    out = []
    if agent_id != agent.id:
        out.append(fault("agent_id", f"reports agent id {agent_id}, but agent {k} of the instance has id {agent.id}"))
    if not path:
        out.append(fault("no_route", "has no route"))
        return path, out
    unknown = [v for v in path if instance.index_of(v) is None]
    for v in dict.fromkeys(unknown):
        out.append(fault("unknown_node", f"visits node {v}, which the instance does not have"))
    if path[0] != agent.start_node:
        out.append(fault("start", f"starts at node {path[0]}, not at its start node {agent.start_node}"))
    if instance.return_to_end and path[-1] != agent.end_node:
        out.append(fault("end", f"ends at node {path[-1]}, not at its end node {agent.end_node}"))
    elif not instance.return_to_end and path[-1] not in (agent.start_node, agent.end_node):
        out.append(
            fault(
                "end",
                f"ends at node {path[-1]}, neither at its start node {agent.start_node} "
                f"nor at its end node {agent.end_node}",
            )
        )
    own = (agent.start_node, agent.end_node)
    for v in path[1:-1]:
        if v in owners and v not in own:
            out.append(fault("depot", f"passes node {v}, {owners[v]}"))
    for v in path[1:]:
        types = instance.assignments.get(v)
        if types is not None and v not in own and agent.type not in types:
            allowed = ", ".join(types) if types else "no type"
            out.append(fault("assignment", f"serves node {v} with type {agent.type}, but only {allowed} may serve it"))
    if not unknown:
        timings = list(_timings(instance, agent, path, k))
        timing = next(
            (t for t in timings if not t.violations and math.isclose(cost, t.cost, rel_tol=REL_TOL, abs_tol=ABS_TOL)),
            timings[0],
        )
        out.extend(timing.violations)
        if not math.isclose(cost, timing.cost, rel_tol=REL_TOL, abs_tol=ABS_TOL):
            out.append(fault("cost", f"reports cost {_num(cost)}, but the route costs {_num(timing.cost)}"))
    return path, out


def validate_result(instance: Instance, result: Any, require_all_visited: bool = True) -> list[Violation]:
    """Every rule the result breaks, route by route, then the faults of the whole result.

    Raises ResultError when `result` is not shaped like a result dictionary."""
    status = _field(result, "status", str, "result")
    routes = _field(result, "routes", list, "result")
    if status != "success":
        return [Violation("status", f"the solver found no solution (status {status!r})")]
    violations = []
    if len(routes) != len(instance.agents):
        violations.append(
            Violation("routes", f"the result has {len(routes)} routes, the instance {len(instance.agents)} agents")
        )
    owners: dict[int, str] = {}
    for k, agent in enumerate(instance.agents):
        owners.setdefault(agent.start_node, f"the start node of agent {k}")
        owners.setdefault(agent.end_node, f"the end node of agent {k}")

    carriers = instance.carriers()
    visits: dict[int, list[int]] = {}  # node id -> the routes that served it
    costs = []
    for k, (agent, route) in enumerate(zip(instance.agents, routes)):
        path, faults = _check_route(instance, agent, k, route, owners)
        violations.extend(faults)
        costs.append(float(route["cost"]))
        for v in path:
            if v in owners:
                continue  # depots: starts and closings, shared by agents
            served = visits.setdefault(v, [])
            if len(served) >= len(carriers.get(v, ())) and served:
                # Every node carrying the id was served already.
                violations.append(
                    Violation("twice", f"serves node {v}, already served by route {served[0]}", k, agent.id)
                )
            served.append(k)
    if require_all_visited:
        # Starts and ends are covered by the start and end checks of their routes (without
        # return-to-end a route may close at its start, so its end node needs no visit).
        missing = list(
            dict.fromkeys(
                n.id for n in instance.nodes if n.id not in owners and len(visits.get(n.id, ())) < len(carriers[n.id])
            )
        )
        if missing:
            listed = ", ".join(str(v) for v in missing[:_LISTED])
            more = f" and {len(missing) - _LISTED} more" if len(missing) > _LISTED else ""
            violations.append(Violation("missing", f"{len(missing)} node(s) not visited: {listed}{more}"))
    if instance.enforce_capacity:
        violations.extend(_check_loads(instance, routes, owners))
    if instance.enforce_precedence:
        violations.extend(_check_pairs(instance, routes, owners))
    violations.extend(_check_statistics(result, costs))
    return violations


def _served(path: Any, owners: dict[int, str]) -> list[int]:
    """The targets a route serves, in order (its own and other agents' depots left out)."""
    if not isinstance(path, list):
        return []
    return [v for v in path if v not in owners]


def _check_loads(instance: Instance, routes: list[Any], owners: dict[int, str]) -> list[Violation]:
    out = []
    for k, (agent, route) in enumerate(zip(instance.agents, routes)):
        if agent.capacity <= 0:
            continue
        demands = [node.demand for node in map(instance.node, _served(route.get("path"), owners)) if node is not None]
        load = sum(demands)
        if load > agent.capacity + ABS_TOL * max(1.0, agent.capacity):
            out.append(
                Violation(
                    "capacity",
                    f"carries a load of {_num(load)} over {len(demands)} targets, above its capacity {agent.capacity}",
                    k,
                    agent.id,
                )
            )
    return out


def _check_pairs(instance: Instance, routes: list[Any], owners: dict[int, str]) -> list[Violation]:
    """Each pair against the routes: which route serves each node, at which stop and time (the first
    visit, for an id that several visits list)."""
    where: dict[int, tuple[int, int, float]] = {}  # node id -> (route, stop, time served)
    for k, (agent, route) in enumerate(zip(instance.agents, routes)):
        path = route.get("path")
        if not isinstance(path, list) or not path or any(instance.index_of(v) is None for v in path):
            continue
        for stop, (v, _, _, start) in enumerate(walk_route(instance, agent, path)):
            if v not in owners:
                where.setdefault(v, (k, stop, start))
    out = []
    for pair in instance.pairs:
        a, b = pair.before, pair.after
        if a not in where or b not in where:
            continue  # a node that no route serves is reported as missing
        (ra, sa, ta), (rb, sb, tb) = where[a], where[b]
        agent_id = instance.agents[rb].id
        named = f"precedence pair ({a}, {b})" if pair.kind == PLAIN else f'"{pair.kind}" pair ({a}, {b})'
        if pair.kind == "same":
            if ra != rb:
                message = f"serves node {b} of the {named}, whose node {a} route {ra} serves"
                out.append(Violation("precedence", message, rb, agent_id))
            elif sa > sb:
                out.append(
                    Violation("precedence", f"serves node {b} before node {a}, against the {named}", rb, agent_id)
                )
            continue
        if pair.kind == "diff" and ra == rb:
            out.append(Violation("precedence", f"serves both nodes of the {named}", rb, agent_id))
            continue
        if ta > tb + ABS_TOL * max(1.0, abs(tb)):
            message = (
                f"serves node {b} at {_num(tb)}, before node {a} is served at {_num(ta)} by route {ra}, "
                f"against the {named}"
            )
            out.append(Violation("precedence", message, rb, agent_id))
    return out


def _check_statistics(result: dict[str, Any], costs: list[float]) -> list[Violation]:
    statistics = result.get("statistics")
    if not isinstance(statistics, dict):
        return []
    out = []
    for key, expected, what in (
        ("max_cost", max([0.0] + costs), "the largest route cost"),
        ("sum_cost", sum(costs), "the sum of the route costs"),
    ):
        value = statistics.get(key)
        if isinstance(value, (int, float)) and not math.isclose(value, expected, rel_tol=REL_TOL, abs_tol=ABS_TOL):
            out.append(Violation("statistics", f"statistics {key} is {_num(value)}, but {what} is {_num(expected)}"))
    return out


def objective_value(instance: Instance, result: Any) -> float:
    statistics = result["statistics"]
    return float(statistics["max_cost"] if instance.objective == "min_max" else statistics["sum_cost"])
