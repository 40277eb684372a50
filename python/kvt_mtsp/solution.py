"""The package's front door: `solve` an instance with the best routes by default, and read the
answer as a `Solution` with one `Route` per agent and, per stop, its arrival, wait and start of service.

`_kvt_core` keeps its own defaults (the focal search alone); `solve` turns the improvement engine on
unless told otherwise."""

from __future__ import annotations

import contextlib
import copy
import json
import math
import os
import pathlib
import signal
import threading
import time
from collections.abc import Callable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, TypeAlias

from .instance import Instance
from .results import AnytimeEntry, Improvement, RouteEntry, SolveResult, Statistics
from .validate import walk_route

InstanceInput: TypeAlias = str | os.PathLike[str] | Mapping[str, Any] | Instance


@dataclass(frozen=True)
class Stop:
    """One node of a route: when the agent gets there, how long it waits for the node's window,
    and when it starts there (arrival + wait; the cost of the route so far)."""

    node: int  # node id
    arrival: float
    wait: float
    start: float


@dataclass(frozen=True)
class Route:
    agent_id: int
    agent_type: str
    stops: tuple[Stop, ...]  # the start first, the closing node last; empty without a route
    cost: float  # the arrival time at the last node, waits included

    @property
    def path(self) -> list[int]:
        return [stop.node for stop in self.stops]


@dataclass(frozen=True)
class Solution:
    """What `solve` found. `status` is "success", "failed" (no solution; `reason` says why as far as
    it can be told) or "stopped" (interrupted; the best routes found until then)."""

    status: str
    objective: str  # "min_max" or "min_sum"
    objective_value: float | None  # the longest route (min_max) or the total (min_sum); None without routes
    longest_route: float
    total: float
    reason: str | None
    anytime: tuple[AnytimeEntry, ...]  # every strictly improving solution: time and costs
    statistics: Statistics
    routes: tuple[Route, ...]  # route k belongs to the instance's agent k
    timeout: bool
    _result: SolveResult

    def to_dict(self) -> SolveResult:
        """The result dictionary of `_kvt_core.solve_json_str` (a copy)."""
        return copy.deepcopy(self._result)

    def schedule(self) -> list[dict[str, Any]]:
        """One row per stop of every route, in route order: agent id and type, position on the route,
        node id, arrival, wait and start of service."""
        return [
            {
                "agent_id": route.agent_id,
                "agent_type": route.agent_type,
                "position": i,
                "node": stop.node,
                "arrival": stop.arrival,
                "wait": stop.wait,
                "start": stop.start,
            }
            for route in self.routes
            for i, stop in enumerate(route.stops)
        ]


def _document(instance: InstanceInput) -> dict[str, Any]:
    """The JSON document of a path, a JSON text, a parsed document or an `Instance`."""
    if isinstance(instance, Instance):
        source = instance.document
        if not isinstance(source, Mapping):
            raise TypeError("this Instance was not read from a document; pass the document or its path")
        return copy.deepcopy(dict(source))
    if isinstance(instance, Mapping):
        return copy.deepcopy(dict(instance))
    if isinstance(instance, (str, os.PathLike)):
        text = os.fspath(instance)
        if isinstance(instance, str) and text.lstrip("\ufeff \t\r\n").startswith("{"):
            read: dict[str, Any] = json.loads(text.lstrip("\ufeff"))
            return read
        path = pathlib.Path(text)
        if not path.is_file():
            raise FileNotFoundError(f"no instance file {path}")
        parsed: dict[str, Any] = json.loads(path.read_text(encoding="utf-8-sig"))
        return parsed
    raise TypeError(f"instance must be a path, a JSON text, a document or an Instance, not {type(instance).__name__}")


def stopped_result(instance: Instance, found: Sequence[Improvement], solve_time: float) -> SolveResult:
    """A result dictionary from the improvements a solve reported before it was stopped."""
    last = found[-1] if found else None
    routes: list[RouteEntry] = (
        copy.deepcopy(last["routes"])
        if last is not None
        else [{"agent_id": agent.id, "path": [], "cost": 0.0} for agent in instance.agents]
    )
    costs = [route["cost"] for route in routes]
    return {
        "status": "success" if last is not None else "failed",
        "timeout": True,
        "routes": routes,
        "statistics": {
            "solve_time": solve_time,
            "max_cost": max([0.0] + costs),
            "sum_cost": sum(costs),
            "n_generated": last["n_generated"] if last is not None else 0,
            "n_expanded": last["n_expanded"] if last is not None else 0,
            "last_update_time": last["time"] if last is not None else 0.0,
        },
        "anytime": [{"time": e["time"], "max_cost": e["max_cost"], "sum_cost": e["sum_cost"]} for e in found],
    }


def _solution(instance: Instance, result: SolveResult, status: str, reason: str | None) -> Solution:
    routes = []
    for agent, entry in zip(instance.agents, result["routes"]):
        stops = tuple(Stop(*stop) for stop in walk_route(instance, agent, entry["path"]))
        routes.append(Route(agent.id, agent.type, stops, entry["cost"]))
    stats = result["statistics"]
    found = result["status"] == "success"
    value = (stats["max_cost"] if instance.objective == "min_max" else stats["sum_cost"]) if found else None
    return Solution(
        status=status,
        objective=instance.objective,
        objective_value=value,
        longest_route=stats["max_cost"],
        total=stats["sum_cost"],
        reason=reason,
        anytime=tuple(result["anytime"]),
        statistics=stats,
        routes=tuple(routes),
        timeout=result["timeout"],
        _result=result,
    )


@contextlib.contextmanager
def _sigterm_as_interrupt() -> Iterator[None]:
    """During the solve, SIGTERM stops it as Ctrl-C does, where nobody else handles SIGTERM (only
    the main thread may set handlers; a handler the program set stays)."""
    if threading.current_thread() is not threading.main_thread() or signal.getsignal(signal.SIGTERM) not in (
        signal.SIG_DFL,
        None,
    ):
        yield
        return

    def interrupt(signum: int, frame: object) -> None:
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGTERM, interrupt)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)


def solve(
    instance: InstanceInput,
    *,
    time_limit: float | None = None,
    improve: bool = True,
    seed: int | None = None,
    iterations: int | None = None,
    callback: Callable[[Improvement], object] | None = None,
    diagnostics: Callable[[str, str], object] | None = None,
    threads: int | None = None,
) -> Solution:
    """Solves `instance` (a path, a JSON text, a parsed document or a `kvt_mtsp.Instance`).

    The options given override the document's: `time_limit` (processor seconds), `improve` (the
    improvement engine after the focal search; on by default, unlike `_kvt_core`), `seed` and
    `iterations` (the engine's random seed and iteration cap), `threads` (improvement searches, one
    thread each; 0: one per core). `callback` receives every improving
    solution as it is found and may return True to stop the search. The solver's console lines go
    to `diagnostics(stream, line)`, or are collected and dropped: never to the process's streams.

    Ctrl-C (and SIGTERM, unless the program handles it) stops the search and returns the best
    solution found until then with status "stopped"; `KeyboardInterrupt` is raised again only when
    there is none. Raises FileNotFoundError for a
    missing file, `InstanceError` (a ValueError) naming the first reason the solver refuses the
    instance for, ValueError / RuntimeError for what only the engine finds."""
    import _kvt_core

    document = _document(instance)
    options = dict(document.get("options") or {})
    options["improve"] = bool(improve)
    if seed is not None:
        options["seed"] = seed
    if iterations is not None:
        options["improve_iterations"] = iterations
    if threads is not None:
        options["threads"] = threads
    if time_limit is not None:
        if math.isnan(time_limit):
            raise ValueError("time_limit must not be NaN")
        options["time_limit"] = time_limit
    document["options"] = options
    model = Instance.from_document(document)

    found: list[Improvement] = []

    def record(entry: Improvement) -> object:
        found.append(entry)
        return callback(entry) if callback is not None else None

    sink = diagnostics if diagnostics is not None else (lambda stream, line: None)
    start = time.monotonic()
    try:
        with _sigterm_as_interrupt():
            result = _kvt_core.solve_json_str(json.dumps(document), -1.0, diagnostics=sink, callback=record)
    except KeyboardInterrupt:
        if not found:
            raise
        return _solution(model, stopped_result(model, found, time.monotonic() - start), "stopped", None)
    reason = None
    if result["status"] != "success":
        from .check import check_instance, failure_reasons

        reasons = failure_reasons(
            check_instance(document), result, options.get("time_limit", 60.0), len(model.nodes), len(model.agents)
        )
        reason = "; ".join(reasons)
    return _solution(model, result, result["status"], reason)
