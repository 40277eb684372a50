"""What the solver will make of an instance document, before it is solved.

`check_instance(doc)` gives the findings of the reading (`kvt_mtsp.instance.read_instance`: names the
solver does not know, numbers it cuts or wraps, references that point nowhere, what it refuses) and,
for a document the solver reads, what its set-up makes of the instance: depots that are targets and
targets typed as depots, nodes that no agent can serve, and budgets in which the search stops
before its first solution. Each finding names its JSON path (``nodes[3].type``,
``options.objective``, ``costs.truck[2]``).

Severities: "error" for documents the solver refuses (it raises), "warning" for everything it
accepts but reads in its own way. Findings whose code is in `INFEASIBLE` make a solve fail.
"""

from __future__ import annotations

import heapq
import json
import math
import re
from collections.abc import Iterable
from typing import Any

from . import engine
from .findings import ALIKE, ERROR, INFEASIBLE, WARNING, Finding, Severity, exit_status, index_path, key_path, show
from .findings import summarise as summarise
from .instance import Agent, Reading, quoted, read_instance

TOLERANCE = 1e-9

__all__ = [
    "ALIKE",
    "ERROR",
    "INFEASIBLE",
    "TOLERANCE",
    "WARNING",
    "Finding",
    "Severity",
    "check_instance",
    "check_reading",
    "exit_status",
    "failure_reasons",
    "first_solution_budget",
    "summarise",
    "summarise_console",
]


def _number(value: float) -> str:
    return f"{value:.10g}"


class _Setup:
    """What the solver's set-up makes of an instance read without errors."""

    def __init__(self, reading: Reading) -> None:
        self.instance = reading.instance
        self.places = reading.places
        self.negative_costs = reading.negative_costs
        self.findings: list[Finding] = []
        self.nodes = self.instance.nodes
        self.types = self.instance.types()
        self.closes_free = not self.instance.return_to_end  # without return-to-end the closing move is free
        # Agents with their start and end as node positions, and where each comes from.
        self.agents = [
            (agent, self.places.agents[k], self.position(agent.start_node), self.position(agent.end_node))
            for k, agent in enumerate(self.instance.agents)
        ]

    def position(self, node_id: int) -> int:
        index = self.instance.index_of(node_id)
        assert index is not None, "a reading without errors names only nodes it has"
        return index

    def warn(self, path: str, message: str, code: str) -> None:
        self.findings.append(Finding(WARNING, path, message, code))

    def check_roles(self) -> None:
        depots = {start for _, _, start, _ in self.agents} | {end for _, _, _, end in self.agents}
        for _, path, start, end in self.agents:
            for key, index in (("start_node", start), ("end_node", end)):
                node = self.nodes[index]
                if not node.depot:
                    self.warn(
                        key_path(path, key),
                        f'node {node.id} is a target node (its "type" is not '
                        '"depot"); the solver treats it as a depot that no '
                        "agent serves",
                        "depot_is_target",
                    )
        for j, node in enumerate(self.nodes):
            type_path = self.places.node_types[j]
            if node.depot and j not in depots and type_path is not None:
                self.warn(
                    type_path,
                    f'"depot", but no agent starts or ends at node {node.id}; the solver '
                    "treats it as a target every solution must visit",
                    "depot_unused",
                )

    def cost(self, kind: str, i: int, j: int) -> float:
        rows = self.instance.costs.get(kind)
        if rows is None or i >= len(rows) or j >= len(rows[i]):
            return engine.MISSING_COST
        return rows[i][j]

    def distances(self, kind: str, source: int, reverse: bool) -> list[float]:
        """Cheapest route costs from `source` (to it when `reverse`) for agents of type `kind`."""
        n = len(self.nodes)
        dist = [math.inf] * n
        dist[source] = 0.0
        heap = [(0.0, source)]
        while heap:
            d, u = heapq.heappop(heap)
            if d > dist[u]:
                continue
            for v in range(n):
                if v == u:
                    continue
                w = d + (self.cost(kind, v, u) if reverse else self.cost(kind, u, v))
                if w < dist[v]:
                    dist[v] = w
                    heapq.heappush(heap, (w, v))
        return dist

    def check_service(self) -> None:
        """Finds the nodes that no agent can serve, and why."""
        n = len(self.nodes)
        depots = {start for _, _, start, _ in self.agents} | {end for _, _, _, end in self.agents}
        index = self.instance.index_of
        targets = [j for j in range(n) if j not in depots and index(self.nodes[j].id) == j]
        if not targets:
            return
        if not self.agents:
            self.warn(
                "agents",
                f"empty; no agent serves the {len(targets)} target nodes, so the instance has no solution",
                "no_agents",
            )
            return
        windows = self.instance.windows
        timed = bool(windows) or any(agent.max_length > 0 for agent, _, _, _ in self.agents)
        outward: dict[tuple[str, int], list[float]] = {}
        back: dict[tuple[str, int], list[float]] = {}
        for j in targets:
            node = self.nodes[j]
            allowed = self.allowed_types(node.id)
            if allowed is None:
                continue  # reported with the assignment
            window = windows.get(node.id)
            if window is not None and window[0] > window[1]:
                self.warn(
                    self.places.windows[node.id],
                    f"the window of node {node.id} opens at {_number(window[0])}, after it closes "
                    f"at {_number(window[1])}; the solver requires arrival by {_number(window[1])} "
                    f"and then waits until {_number(window[0])}",
                    "window_inverted",
                )
            if not timed or self.negative_costs:
                continue
            late: list[tuple[str, float]] = []
            long: list[tuple[str, int, float]] = []
            for agent, path, start, end in self.agents:
                if agent.type not in allowed:
                    continue
                if self.direct_trip_fits(agent, start, end, j, window):
                    break  # this agent can serve the node; no bound needed
                key = (agent.type, start)
                if key not in outward:
                    outward[key] = self.distances(agent.type, start, reverse=False)
                arrival = outward[key][j]
                if window is not None and arrival > window[1] + TOLERANCE:
                    late.append((path, arrival))
                    continue
                if agent.max_length <= 0:
                    break  # this agent can serve the node
                leave = max(arrival, window[0]) if window is not None else arrival
                if self.closes_free:
                    trip = leave
                else:
                    key = (agent.type, end)
                    if key not in back:
                        back[key] = self.distances(agent.type, end, reverse=True)
                    trip = leave + back[key][j]
                if trip > agent.max_length + TOLERANCE:
                    long.append((path, agent.max_length, trip))
                    continue
                break
            else:
                self.report_unservable(j, window, late, long)

    def direct_trip_fits(self, agent: Agent, start: int, end: int, j: int, window: tuple[float, float] | None) -> bool:
        """Whether going straight from the agent's start to node j and on to its end meets j's
        window and the agent's limit: then the agent can serve j."""
        arrival = 0.0 if j == start else self.cost(agent.type, start, j)
        if window is not None:
            if arrival > window[1]:
                return False
            arrival = max(arrival, window[0])
        if agent.max_length <= 0:
            return True
        if not self.closes_free and j != end:
            arrival += self.cost(agent.type, j, end)
        return arrival <= agent.max_length

    def allowed_types(self, node_id: int, report: bool = True) -> set[str] | None:
        """The agent types that may serve the node; None when none may. `report`: with the findings
        about its assignment."""
        names = self.instance.assignments.get(node_id)
        if names is None:
            return set(self.types)
        path = self.places.assignments[node_id]
        known = [t for t in names if t in self.types]
        if not report:
            return set(known) or None
        for i, name in enumerate(names):
            if name not in self.types and known:
                self.warn(
                    index_path(key_path(path, "types"), i),
                    f"{json.dumps(name)} is not the type of any agent; the solver ignores it",
                    "assignment_unknown_type",
                )
        if known:
            return set(known)
        where = key_path(path, "types")
        if not names:
            self.warn(
                where, f"empty; no agent may serve node {node_id}, so the instance has no solution", "empty_assignment"
            )
        else:
            self.warn(
                where,
                f"names only {quoted(dict.fromkeys(names))}, which no agent has; no agent may serve "
                f"node {node_id}, so the instance has no solution",
                "no_agent_type",
            )
        return None

    def check_loads(self) -> None:
        """With enforce_capacity on: targets heavier than every agent that may serve them, and
        demands that the agents able to serve them cannot carry together: for each set of types
        that some target is limited to (and for all types), the targets limited to types of the set
        against the capacities of the agents of those types, when each of them has one."""
        if not self.instance.enforce_capacity or not self.agents:
            return
        depots = {start for _, _, start, _ in self.agents} | {end for _, _, _, end in self.agents}
        index = self.instance.index_of
        targets: list[tuple[float, frozenset[str]]] = []  # (demand, allowed types) per servable target
        for j, node in enumerate(self.nodes):
            if j in depots or index(node.id) != j:
                continue
            allowed = self.allowed_types(node.id, report=False)
            if allowed is None:
                continue  # no agent may serve it: reported with the assignment
            targets.append((node.demand, frozenset(allowed)))
            limits = [agent.capacity for agent, _, _, _ in self.agents if agent.type in allowed]
            if node.demand > 0 and all(0 < c < node.demand for c in limits):
                self.warn(
                    key_path(self.places.nodes[j], "demand"),
                    f"{_number(node.demand)} is above the capacity of every agent that may serve node "
                    f"{node.id} (at most {max(limits)}); the instance has no solution",
                    "demand_over_capacity",
                )
        every = frozenset(self.types)
        groups = sorted(set(allowed for _, allowed in targets) | {every}, key=lambda g: (len(g), sorted(g)))
        short: list[frozenset[str]] = []  # type sets whose agents cannot carry their targets' loads
        for group in groups:
            if any(smaller < group for smaller in short):
                continue  # the smaller set explains it
            limits = [agent.capacity for agent, _, _, _ in self.agents if agent.type in group]
            demand = sum(d for d, allowed in targets if allowed <= group)
            if not limits or any(c <= 0 for c in limits) or demand <= sum(limits) + TOLERANCE:
                continue
            short.append(group)
            if group == every:
                message = (
                    f"the targets' demands add up to {_number(demand)}, above the {sum(limits)} that the "
                    "capacities of the agents that may serve them hold together"
                )
            else:
                message = (
                    f"the targets that only agents of type {quoted(sorted(group))} may serve demand "
                    f"{_number(demand)} in all, above the {sum(limits)} that the capacities of those agents "
                    "hold together"
                )
            self.warn("agents", message + "; the instance has no solution", "capacity_total")

    def check_pairs(self) -> None:
        """With enforce_precedence on: "same" pairs that no agent type may serve whole, and cycles of
        plain and "diff" pairs."""
        if not self.instance.enforce_precedence:
            return
        pairs = self.instance.pairs
        for pair, path in zip(pairs, self.places.pairs):
            if pair.kind != "same":
                continue
            first, second = self.allowed_types(pair.before, False), self.allowed_types(pair.after, False)
            if first is None or second is None or first & second:
                continue
            self.warn(
                path,
                f"no agent type may serve both node {pair.before} ({quoted(sorted(first))}) and node "
                f"{pair.after} ({quoted(sorted(second))}), which one agent must serve; the instance has no "
                "solution",
                "same_pair_types",
            )
        timed = [(k, p) for k, p in enumerate(pairs) if p.kind != "same"]
        cycle = _cycle([(p.before, p.after, k) for k, p in timed])
        if cycle:
            named = ", ".join(f"({pairs[k].before}, {pairs[k].after})" for k in cycle)
            nodes = ", ".join(str(pairs[k].before) for k in cycle)
            self.warn(
                self.places.pairs[cycle[0]],
                f"the pairs {named} form a cycle: they hold only when nodes {nodes} are all served at the same time",
                "precedence_cycle",
            )

    def report_unservable(
        self,
        j: int,
        window: tuple[float, float] | None,
        late: list[tuple[str, float]],
        long: list[tuple[str, int, float]],
    ) -> None:
        node = self.nodes[j]
        if late and not long:
            assert window is not None
            earliest = min(t for _, t in late)
            self.warn(
                key_path(self.places.windows[node.id], "end"),
                f"the window of node {node.id} closes at {_number(window[1])}, "
                f"but no agent that may serve it arrives before "
                f"{_number(earliest)}; the instance has no solution",
                "window_unreachable",
            )
        elif long and not late:
            limits = ", ".join(f"{path} {limit}" for path, limit, _ in long)
            shortest = min(t for _, _, t in long)
            self.warn(
                self.places.nodes[j],
                f"the round trip to node {node.id} costs at least {_number(shortest)}, above the "
                f"max_length of every agent that may serve it ({limits}); the instance has no "
                "solution",
                "limit_round_trip",
            )
        elif late or long:
            reasons = [
                f"{path} arrives at {_number(t)}, after the window closes at {_number(window[1])}"
                for path, t in late
                if window is not None
            ]
            reasons += [
                f"{path} needs at least {_number(t)} for the round trip, above its max_length {limit}"
                for path, limit, t in long
            ]
            self.warn(
                self.places.nodes[j],
                f"no agent can serve node {node.id} ({'; '.join(reasons)}); the instance has no solution",
                "unservable",
            )


def _budget(doc: Any, reading: Reading, override: float | None) -> list[Finding]:
    """The budget's findings: one not above 0, or too small for a first solution at this size."""
    options = doc.get("options") if isinstance(doc, dict) else None
    if options is not None and not isinstance(options, dict):
        return []  # refused as it stands
    time_limit = override if override is not None else reading.instance.time_limit
    if override is None and time_limit <= 0:
        written = options.get("time_limit", time_limit) if options is not None else time_limit
        return [
            Finding(
                WARNING,
                "options.time_limit",
                f"{show(written)} is not above 0; the search stops before its first solution",
                "time_limit_not_positive",
            )
        ]
    n = len(reading.instance.nodes)
    needed = first_solution_budget(n)
    if 0 < time_limit < needed and n <= engine.MAX_NODES:
        return [
            Finding(
                WARNING,
                "options.time_limit" if override is None else "",
                f"a budget of {_number(time_limit)} s for {n} nodes; the search may not reach a first "
                f"solution in time (allow at least {needed:g} s)",
                "budget_small",
            )
        ]
    return []


def check_reading(doc: Any, reading: Reading, *, time_limit: float | None = None) -> list[Finding]:
    """Every finding for `doc`, given its reading (`read_instance(doc)`); see `check_instance`."""
    override = time_limit if time_limit is not None and time_limit > 0 else None
    findings = reading.findings + _budget(doc, reading, override)
    if reading.refused:
        return findings
    setup = _Setup(reading)
    setup.check_roles()
    setup.check_service()
    setup.check_loads()
    setup.check_pairs()
    return findings + setup.findings


def check_instance(doc: Any, *, time_limit: float | None = None) -> list[Finding]:
    """Every finding for the parsed instance `doc`, in document order (nodes, agents, costs,
    constraints, options, then what the set-up makes of them).

    `time_limit`, when above 0, is the budget the solve will use instead of options.time_limit."""
    return check_reading(doc, read_instance(doc), time_limit=time_limit)


def _cycle(arcs: list[tuple[int, int, int]]) -> list[int]:
    """The labels of the arcs of one directed cycle among (from, to, label) arcs, in cycle order,
    starting with the earliest label on it; [] when there is none."""
    out: dict[int, list[tuple[int, int]]] = {}
    for u, v, label in arcs:
        out.setdefault(u, []).append((v, label))
    state: dict[int, int] = {}  # 1: on the current walk, 2: done
    for root in out:
        if root in state:
            continue
        # Iterative depth-first walk: (node, arc label into it, next arc to try).
        stack: list[tuple[int, int, int]] = [(root, -1, 0)]
        state[root] = 1
        while stack:
            u, into, i = stack[-1]
            if i == len(out.get(u, ())):
                state[u] = 2
                stack.pop()
                continue
            stack[-1] = (u, into, i + 1)
            v, label = out[u][i]
            if state.get(v) == 1:
                labels = [entry[1] for entry in stack[next(k for k, e in enumerate(stack) if e[0] == v) + 1 :]]
                labels.append(label)
                first = labels.index(min(labels))
                return labels[first:] + labels[:first]
            if v not in state:
                state[v] = 1
                stack.append((v, label, 0))
    return []


def first_solution_budget(n_nodes: int) -> float:
    """Processor seconds below which the focal search may end before its first solution: the time
    a first solution takes on uniform Euclidean instances (0.1 s at 128 nodes, 0.5 s at 200,
    growing with n^3.6), four times over for slower machines and harder constraints. 0 below 100
    nodes, where a first solution comes within milliseconds."""
    if n_nodes < 100:
        return 0.0
    return float(f"{1e-8 * n_nodes**3.6:.2g}")


def failure_reasons(findings: Iterable[Finding], result: Any, budget: float, n_nodes: int, n_agents: int) -> list[str]:
    """Why a solve found no solution, as far as it can be told: the findings that leave the
    instance without one, else the budget that ran out first."""
    infeasible = [f for f in findings if f.infeasible]
    if infeasible:
        return summarise(infeasible)
    statistics = result.get("statistics", {}) if isinstance(result, dict) else {}
    if isinstance(result, dict) and result.get("timeout"):
        spent = statistics.get("solve_time", 0.0)
        needed = first_solution_budget(n_nodes)
        suggested = max(4 * budget, needed)
        return [
            f"the budget of {_number(budget)} s ran out before a first solution (the solve took {spent:.2f} s "
            f"for {n_nodes} nodes and {n_agents} agents); raise the time limit (--time-limit, or "
            f"options.time_limit), e.g. to {suggested:.3g} s"
        ]
    return ["the search ended without a solution, and the instance check found no cause"]


_NO_ASSIGNMENT = re.compile(r"\[warning\] node \S+ has no assignment constraint; allowing all types")


def summarise_console(text: str) -> str:
    """The solver's console text with its per-node "no assignment constraint" lines made one."""
    lines = text.splitlines(keepends=True)
    hits = [i for i, line in enumerate(lines) if _NO_ASSIGNMENT.fullmatch(line.rstrip("\n"))]
    if len(hits) < 2:
        return text
    lines[hits[0]] = f"{lines[hits[0]].rstrip()} (and {len(hits) - 1} more nodes without one)\n"
    dropped = set(hits[1:])
    return "".join(line for i, line in enumerate(lines) if i not in dropped)
