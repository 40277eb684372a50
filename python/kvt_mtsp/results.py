"""The result dictionary of `_kvt_core.solve_json_file` / `solve_json_str` and the arguments of their
callbacks, as typed dictionaries; `dumps` writes a result (or an instance) as JSON."""

from __future__ import annotations

import json
from typing import Any, Literal, TypedDict


class RouteEntry(TypedDict):
    agent_id: int
    path: list[int]  # node ids in visiting order, the agent's start first
    cost: float  # arrival time at the last node, waits included


class ImproveStatistics(TypedDict, total=False):
    """The improvement phase's counts, present when it ran (`options.improve`)."""

    improve_iterations: int
    improve_moves: int  # local-search moves applied: the sum of the improve_<move>_moves
    improve_accepted: int
    improve_improvements: int  # new best solutions
    improve_restarts: int
    # Per local-search move: proposals judged, and proposals applied.
    improve_relocate_attempts: int
    improve_relocate_moves: int
    improve_swap_attempts: int
    improve_swap_moves: int
    improve_two_opt_attempts: int
    improve_two_opt_moves: int
    improve_two_opt_star_attempts: int
    improve_two_opt_star_moves: int
    improve_relocate_to_ends_attempts: int
    improve_relocate_to_ends_moves: int
    improve_start_time: float  # processor seconds since the solve started


class Statistics(ImproveStatistics):
    solve_time: float  # wall-clock seconds
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    last_update_time: float  # processor seconds since the solve started


class AnytimeEntry(TypedDict):
    time: float  # processor seconds since the solve started
    max_cost: float
    sum_cost: float


class SolveResult(TypedDict):
    status: Literal["success", "failed"]
    timeout: bool
    routes: list[RouteEntry]  # entry k describes the instance's agent k
    statistics: Statistics
    anytime: list[AnytimeEntry]  # strict improvements of the objective only


class Improvement(TypedDict):
    """What the `callback` of `solve_json_file` / `solve_json_str` receives for each entry of "anytime"."""

    time: float  # processor seconds since the solve started
    max_cost: float
    sum_cost: float
    n_generated: int  # counters when the solution was recorded
    n_expanded: int
    routes: list[RouteEntry]


class Record(TypedDict):
    """What the `callback` of `Solver.solve` receives for each entry of the anytime log."""

    time: float  # processor seconds since the solve started
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    paths: dict[int, list[int]]  # agent index -> node indices, as in Result.paths
    times: dict[int, float]  # agent index -> route cost, as in Result.times


def dumps(value: Any, indent: int = 0) -> str:
    """JSON with one line per object or array of plain values: readable and still compact for
    matrices, node lists and paths."""
    plain = (str, int, float, bool, type(None))
    if isinstance(value, dict) and value and not all(isinstance(v, plain) for v in value.values()):
        pad = " " * (indent + 2)
        items = [f"{pad}{json.dumps(k)}: {dumps(v, indent + 2)}" for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + " " * indent + "}"
    if isinstance(value, list) and value and not all(isinstance(v, plain) for v in value):
        pad = " " * (indent + 2)
        return "[\n" + ",\n".join(pad + dumps(v, indent + 2) for v in value) + "\n" + " " * indent + "]"
    return json.dumps(value)
