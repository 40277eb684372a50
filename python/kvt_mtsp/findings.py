"""Findings about an instance document: what the solver reads other than its writer likely meant,
or refuses. Each names the JSON path of the value concerned (``nodes[3].type``, ``options.objective``,
``costs.truck[2]``).

Severities: "error" for documents the solver refuses (it raises), "warning" for everything it
accepts but reads in its own way. Findings whose code is in `INFEASIBLE` make a solve fail.
"""

from __future__ import annotations

import json
import re
from array import array
from collections.abc import Iterable
from dataclasses import dataclass
from typing import Any, Literal

ALIKE = 3  # findings of one kind listed one by one before they become one line with a count

ERROR: Literal["error"] = "error"
WARNING: Literal["warning"] = "warning"
Severity = Literal["error", "warning"]

# Codes of the findings that leave the instance without a solution.
INFEASIBLE = frozenset(
    {
        "no_agents",
        "empty_assignment",
        "no_agent_type",
        "window_unreachable",
        "limit_round_trip",
        "unservable",
        "time_limit_not_positive",
        "demand_over_capacity",
        "capacity_total",
        "same_pair_types",
    }
)

_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")


@dataclass(frozen=True)
class Finding:
    """One place where the solver reads the document other than meant, or refuses it."""

    severity: Severity
    path: str  # JSON path of the value concerned; "" for the whole document
    message: str
    code: str = ""  # short kind, stable across wording changes

    @property
    def infeasible(self) -> bool:
        """Whether this finding alone leaves the instance without a solution."""
        return self.code in INFEASIBLE

    def __str__(self) -> str:
        return f"{self.path}: {self.message}" if self.path else self.message


def key_path(base: str, key: str) -> str:
    if _IDENTIFIER.match(key):
        return f"{base}.{key}" if base else key
    return f"{base}[{json.dumps(key)}]"


def index_path(base: str, index: int) -> str:
    return f"{base}[{index}]"


def json_type(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, str):
        return "string"
    if isinstance(value, (list, array)):  # cost rows may come as array("d")
        return "array"
    return "object"


def show(value: Any) -> str:
    """A value as it appears in the document."""
    return json.dumps(value)


def exit_status(findings: Iterable[Finding]) -> int:
    """0 without findings, 1 with warnings only, 2 when the solver would refuse the instance."""
    severities = {f.severity for f in findings}
    return 2 if ERROR in severities else 1 if severities else 0


def first_error(findings: Iterable[Finding]) -> Finding | None:
    """The finding that makes the solver refuse the document: the first error, as the reading stops
    at it."""
    return next((f for f in findings if f.severity == ERROR), None)


def summarise(findings: Iterable[Finding], alike: int = ALIKE) -> list[str]:
    """One line per finding, except that more than `alike` findings of one kind become one line:
    the first of them and a count of the others."""
    groups: dict[tuple[str, str], list[Finding]] = {}
    for finding in findings:
        groups.setdefault((finding.severity, finding.code or finding.message), []).append(finding)
    lines = []
    for group in groups.values():
        if len(group) > alike:
            rest = len(group) - 1
            lines.append(f"{group[0]} (and {rest} more like it)")
        else:
            lines.extend(str(f) for f in group)
    return lines
