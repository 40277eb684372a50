"""KVT MTSP Solver: the Python package around the native core `_kvt_core`.

- `kvt_mtsp.solve`: the front door; the best routes by default (improvement on), as a `Solution`.
- `kvt_mtsp.instance`: JSON instances read into plain records with the solver's conversions, and the
  findings of that reading (`read_instance`).
- `kvt_mtsp.check`: what the solver will make of an instance, before it is solved.
- `kvt_mtsp.batch`: many instances solved on worker processes or a Dask cluster (`solve_many`).
- `kvt_mtsp.engine`: the engine's limits and defaults, read from `_kvt_core`.
- `kvt_mtsp.validate`: recompute the routes of a result and list the rules they break.
- `kvt_mtsp.tsplib`: TSPLIB EUC_2D files to instances.
- `kvt_mtsp.plot`: route maps and anytime curves (needs matplotlib).
- `kvt_mtsp.results`: the result dictionary as typed dictionaries.

Importing the package does not load the native module; `solve_json_file` and `solve_json_str` below
load it on first use.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

from .check import Finding, check_instance
from .instance import Agent, Instance, InstanceError, Node, load_instance
from .results import AnytimeEntry, RouteEntry, SolveResult, Statistics
from .solution import Route, Solution, Stop, solve
from .validate import ResultError, Violation, validate_result

if TYPE_CHECKING:
    import pathlib
    from collections.abc import Callable

    from .results import Improvement

__version__ = "0.1.0"

__all__ = [
    "Agent",
    "AnytimeEntry",
    "Finding",
    "Instance",
    "InstanceError",
    "Node",
    "ResultError",
    "Route",
    "RouteEntry",
    "Solution",
    "SolveResult",
    "Statistics",
    "Stop",
    "Violation",
    "check_instance",
    "load_instance",
    "solve",
    "solve_json_file",
    "solve_json_str",
    "validate_result",
]


def solve_json_file(
    path: str | pathlib.Path,
    time_limit: float = -1.0,
    *,
    diagnostics: Callable[[str, str], object] | None = None,
    callback: Callable[[Improvement], object] | None = None,
) -> SolveResult:
    """`_kvt_core.solve_json_file`; a positive `time_limit` overrides the instance's budget.

    `diagnostics` and `callback` as for the module; a missing file raises FileNotFoundError."""
    import os

    import _kvt_core

    if not os.path.isfile(path):
        raise FileNotFoundError(f"no instance file {path}")
    return _kvt_core.solve_json_file(str(path), time_limit, diagnostics=diagnostics, callback=callback)


def solve_json_str(
    text: str,
    time_limit: float = -1.0,
    *,
    diagnostics: Callable[[str, str], object] | None = None,
    callback: Callable[[Improvement], object] | None = None,
) -> SolveResult:
    """`_kvt_core.solve_json_str`; a positive `time_limit` overrides the instance's budget.

    `diagnostics` and `callback` as for the module."""
    import _kvt_core

    return _kvt_core.solve_json_str(text, time_limit, diagnostics=diagnostics, callback=callback)
