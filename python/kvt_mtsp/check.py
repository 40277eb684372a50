"""What the solver will make of an instance document, before it is solved.

`check_instance(doc)` walks a parsed JSON instance with the conversions of the solver's reader and
set-up and lists every place where the solver reads something other than what its writer most
likely meant: names it does not know, numbers it cuts or wraps, constraints it carries but does not
enforce, references that point nowhere, and nodes that no agent can serve. Each finding names its
JSON path (``nodes[3].type``, ``options.objective``, ``costs.truck[2]``).

Severities: "error" for documents the solver refuses (it raises), "warning" for everything it
accepts but reads in its own way. Findings whose code is in `INFEASIBLE` make a solve fail.
"""

from __future__ import annotations

import difflib
import heapq
import json
import math
import re
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from typing import Any, Literal

MAX_NODES = 256
MAX_IMPROVE_NODES = 2000  # with options.improve true
MISSING_COST = 9999.0
DEFAULT_TIME_LIMIT = 60.0
TOLERANCE = 1e-9
ALIKE = 3  # findings of one kind listed one by one before they become one line with a count

ERROR: Literal["error"] = "error"
WARNING: Literal["warning"] = "warning"
Severity = Literal["error", "warning"]

# The keys the reader reads, per object.
TOP_KEYS = ("nodes", "agents", "costs", "constraints", "options")
NODE_KEYS = ("id", "x", "y", "z", "type", "demand")
AGENT_KEYS = ("id", "type", "start_node", "end_node", "capacity", "max_length")
CONSTRAINT_KEYS = ("kind", "items", "precedence")
ASSIGNMENT_ITEM_KEYS = ("node", "types")
WINDOW_ITEM_KEYS = ("node", "start", "end")
PRECEDENCE_ITEM_KEYS = ("before", "after", "type")
OPTION_KEYS = ("return_to_end", "objective", "time_limit", "improve", "seed", "improve_iterations")
READER_KEYS = frozenset(
    TOP_KEYS
    + NODE_KEYS
    + AGENT_KEYS
    + CONSTRAINT_KEYS
    + ASSIGNMENT_ITEM_KEYS
    + WINDOW_ITEM_KEYS
    + PRECEDENCE_ITEM_KEYS
    + OPTION_KEYS
)
# Read by this package, not by the solver: the instance's name, a title for plots.
PACKAGE_KEYS = ("name",)

CONSTRAINT_KINDS = ("assignment", "timewindow", "sequence")
OBJECTIVES = {"min_max": "min_max", "MIN_MAX": "min_max", "min_sum": "min_sum", "MIN_SUM": "min_sum"}
PRECEDENCE_TYPES = ("same", "diff")

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
    }
)

_UINT64_MAX = (1 << 64) - 1
_INT64_MIN = -(1 << 63)
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


# --- paths and values ---------------------------------------------------------------------------------


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
    if isinstance(value, list):
        return "array"
    return "object"


def show(value: Any) -> str:
    """A value as it appears in the document."""
    return json.dumps(value)


def _number(value: float) -> str:
    return f"{value:.10g}"


def _is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _plain_row(row: list[Any]) -> bool:
    """Whether a cost row holds only finite numbers from 0 to below the missing-arc cost."""
    if not row or not all(type(c) is float or type(c) is int for c in row):
        return False
    return math.isfinite(sum(row)) and min(row) >= 0 and max(row) < MISSING_COST


def read_uint64(value: int | float | bool) -> int:
    """An id as the reader converts it."""
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int):
        if 0 <= value <= _UINT64_MAX:
            return value
        if _INT64_MIN <= value < 0:
            return value + (1 << 64)
        value = float(value)  # outside both 64-bit ranges the parser keeps a double
    if math.isnan(value) or value <= -1.0:
        return 0
    if value >= 2.0**64:
        return _UINT64_MAX
    return int(value)


def read_int32(value: int | float | bool) -> int:
    """ "capacity" and "max_length" as the reader converts them."""
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int) and _INT64_MIN <= value <= _UINT64_MAX:
        low = value & 0xFFFFFFFF
        return low - (1 << 32) if low >= 1 << 31 else low
    value = float(value)
    if math.isnan(value):
        return 0
    if value <= -2147483649.0:
        return -(1 << 31)
    if value >= 2147483648.0:
        return (1 << 31) - 1
    return int(value)


def _suggest(word: str, known: Iterable[str]) -> str | None:
    known = list(known)
    folded = {re.sub(r"[^a-z0-9]", "", k.lower()): k for k in known}
    exact = folded.get(re.sub(r"[^a-z0-9]", "", word.lower()))
    if exact is not None:
        return exact
    close = difflib.get_close_matches(word, known, n=1, cutoff=0.7)
    return close[0] if close else None


def _quoted(names: Iterable[str]) -> str:
    names = [json.dumps(n) for n in names]
    return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " or " + names[-1]


# --- the walk -----------------------------------------------------------------------------------------


@dataclass
class _Node:
    path: str
    id: int
    depot: bool
    type_path: str | None


@dataclass
class _Agent:
    path: str
    id: int
    type: str
    start: int | None  # node index, None when the id names no node
    end: int | None
    limit: int


class _Checker:
    def __init__(self, time_limit: float | None) -> None:
        self.findings: list[Finding] = []
        self.override = time_limit if time_limit is not None and time_limit > 0 else None
        self.nodes: list[_Node] = []
        self.index: dict[int, int] = {}  # node id -> its last position, as the solver maps it
        self.agents: list[_Agent] = []
        self.types: list[str] = []  # agent type names in order of first appearance
        self.matrices: dict[str, list[list[float]]] = {}
        self.negative_costs = False
        self.assignments: dict[int, tuple[str, list[str]]] = {}  # node id -> (path, types)
        self.windows: dict[int, tuple[str, float, float]] = {}  # node id -> (path, start, end)
        self.refused = False
        self.closes_free = False  # without return-to-end the closing move is free

    # findings

    def error(self, path: str, message: str, code: str) -> None:
        self.findings.append(Finding(ERROR, path, message, code))
        self.refused = True

    def warn(self, path: str, message: str, code: str) -> None:
        self.findings.append(Finding(WARNING, path, message, code))

    def refuse_type(self, path: str, value: Any, expected: str) -> None:
        self.error(path, f"expected {expected}, got {json_type(value)}; the solver refuses the document", "type")

    def missing(self, path: str) -> None:
        self.error(path, "required key is missing; the solver refuses the document", "missing")

    # typed access

    def obj(self, value: Any, path: str) -> dict[str, Any] | None:
        if isinstance(value, dict):
            return value
        self.refuse_type(path, value, "an object")
        return None

    def unknown_keys(self, obj: dict[str, Any], path: str, known: Iterable[str], what: str) -> None:
        known = tuple(known)
        for key in obj:
            if key in known:
                continue
            hint = _suggest(key, known)
            advice = f" (did you mean {json.dumps(hint)}?)" if hint else ""
            self.warn(key_path(path, key), f"not a key the solver reads in {what}; ignored{advice}", "unknown_key")

    def elements(self, value: Any, path: str) -> Iterator[tuple[str, Any]]:
        """The elements the reader walks: an array's, an object's values in key order, none for null."""
        if isinstance(value, list):
            for i, element in enumerate(value):
                yield index_path(path, i), element
        elif isinstance(value, dict):
            if value:
                self.warn(path, "an object, not an array; the solver reads its values in key order", "object_list")
            for key in sorted(value):
                yield key_path(path, key), value[key]
        elif value is None:
            self.warn(path, "null; the solver reads it as an empty list", "null_list")
        else:
            self.refuse_type(path, value, "an array")

    def id_value(self, obj: dict[str, Any], key: str, path: str, required: bool = True) -> int | None:
        where = key_path(path, key)
        if key not in obj:
            if required:
                self.missing(where)
            return None
        value = obj[key]
        if not _is_number(value) and not isinstance(value, bool):
            self.refuse_type(where, value, "a number")
            return None
        if not self.finite(value, where):
            return None
        read = read_uint64(value)
        if isinstance(value, bool):
            self.warn(where, f"{show(value)} is a boolean; the solver reads it as {read}", "boolean_number")
        elif isinstance(value, float) and not value.is_integer():
            self.warn(where, f"{show(value)} is not an integer; the solver reads it as {read}", "id_fraction")
        elif value < 0:
            self.warn(where, f"{show(value)} is negative; the solver reads it as {read}", "id_negative")
        elif value > _UINT64_MAX:
            self.warn(where, f"{show(value)} is above 2^64 - 1; the solver reads it as {read}", "id_too_large")
        return read

    def double(self, obj: dict[str, Any], key: str, path: str, default: float | None) -> float | None:
        where = key_path(path, key)
        if key not in obj:
            if default is None:
                self.missing(where)
            return default
        value = obj[key]
        if not _is_number(value):
            self.refuse_type(where, value, "a number")
            return None
        return float(value) if self.finite(value, where) else None

    def string(self, obj: dict[str, Any], key: str, path: str, required: bool) -> str | None:
        where = key_path(path, key)
        if key not in obj:
            if required:
                self.missing(where)
            return None
        value = obj[key]
        if not isinstance(value, str):
            self.refuse_type(where, value, "a string")
            return None
        return value

    def finite(self, value: Any, path: str) -> bool:
        if isinstance(value, float) and not math.isfinite(value):
            self.error(
                path, f"{show(value)} is not a JSON number; the solver's parser refuses the document", "not_json"
            )
            return False
        return True

    # sections

    def run(self, doc: Any) -> list[Finding]:
        document = self.obj(doc, "")
        if document is None:
            return self.findings
        self.unknown_keys(document, "", TOP_KEYS + PACKAGE_KEYS + ("precedence",), "the document")
        for key in ("nodes", "agents"):
            if key not in document:
                self.missing(key)
        self.document_options = document.get("options")
        self.read_nodes(document.get("nodes"))
        self.read_agents(document.get("agents"))
        self.read_costs(document)
        if "constraints" in document:
            self.read_constraints(document["constraints"])
        if "precedence" in document:
            self.warn(
                "precedence",
                "ignored at the top level; the solver reads precedence pairs only from the "
                '"precedence" list of a "sequence" constraint',
                "top_precedence",
            )
        self.read_options(document)
        if not self.refused:
            self.check_roles()
            self.check_service()
        return self.findings

    def read_nodes(self, value: Any) -> None:
        for path, element in self.elements(value, "nodes"):
            node = self.obj(element, path)
            if node is None:
                continue
            self.unknown_keys(node, path, NODE_KEYS, "a node")
            node_id = self.id_value(node, "id", path)
            self.double(node, "x", path, None)
            self.double(node, "y", path, None)
            self.double(node, "z", path, 0.0)
            kind = self.string(node, "type", path, required=False)
            depot = False
            if kind is not None:
                depot = kind.upper() == "DEPOT"
                if not depot and kind.upper() != "TARGET":
                    self.warn(
                        key_path(path, "type"),
                        f"{json.dumps(kind)} is not a node type; the solver reads it "
                        'as target (use "depot" or "target")',
                        "node_type",
                    )
            demand = self.double(node, "demand", path, 0.0)
            if demand:
                self.warn(
                    key_path(path, "demand"),
                    "demands are carried but not enforced; no route is restricted by them",
                    "demand_not_enforced",
                )
            if node_id is None:
                continue
            if node_id in self.index:
                first = next(n.path for n in self.nodes if n.id == node_id)
                self.warn(
                    key_path(path, "id"),
                    f"{node_id} is already the id of {first}; the solver keeps both "
                    f"nodes (routes may list {node_id} twice), and references to "
                    f"{node_id} mean the last one",
                    "duplicate_node",
                )
            self.index[node_id] = len(self.nodes)
            self.nodes.append(_Node(path, node_id, depot, key_path(path, "type") if kind is not None else None))
        improve = isinstance(self.document_options, dict) and self.document_options.get("improve") is True
        n = len(self.nodes)
        if improve and n > MAX_IMPROVE_NODES:
            self.error(
                "nodes", f"{n} nodes; the solver handles at most {MAX_IMPROVE_NODES} with improve on", "too_many_nodes"
            )
        elif not improve and n > MAX_NODES:
            self.error(
                "nodes",
                f"{n} nodes; the solver handles at most {MAX_NODES} "
                f"(up to {MAX_IMPROVE_NODES} with options.improve true)",
                "too_many_nodes",
            )

    def read_agents(self, value: Any) -> None:
        seen: dict[int, _Agent] = {}
        last_type: dict[int, str] = {}
        for path, element in self.elements(value, "agents"):
            raw = self.obj(element, path)
            if raw is None:
                continue
            self.unknown_keys(raw, path, AGENT_KEYS, "an agent")
            agent_id = self.id_value(raw, "id", path)
            kind = self.string(raw, "type", path, required=True)
            ends = []
            for key in ("start_node", "end_node"):
                node_id = self.id_value(raw, key, path)
                index = None if node_id is None else self.index.get(node_id)
                if node_id is not None and index is None:
                    self.error(
                        key_path(path, key),
                        f"{node_id} is not a node id; the solver refuses the instance",
                        "unknown_node",
                    )
                ends.append(index)
            capacity = self.limit(raw, "capacity", path)
            if capacity:
                self.warn(
                    key_path(path, "capacity"),
                    "capacities are carried but not enforced; no route is restricted by them",
                    "capacity_not_enforced",
                )
            limit = self.limit(raw, "max_length", path)
            if agent_id is None or kind is None:
                continue
            if kind not in self.types:
                self.types.append(kind)
            agent = _Agent(path, agent_id, kind, ends[0], ends[1], limit)
            if agent_id in seen:
                self.warn(
                    key_path(path, "id"),
                    f"{agent_id} is already the id of {seen[agent_id].path}; the solver plans both agents",
                    "duplicate_agent",
                )
            else:
                seen[agent_id] = agent
            last_type[agent_id] = kind
            self.agents.append(agent)
        # The solver types an agent by its id, so agents sharing an id share the last one's type.
        for agent in self.agents:
            if last_type[agent.id] != agent.type:
                self.warn(
                    key_path(agent.path, "type"),
                    f"{json.dumps(agent.type)} is overridden: agents sharing "
                    f"the id {agent.id} all take the type "
                    f"{json.dumps(last_type[agent.id])} of the last one",
                    "shared_id_type",
                )
                agent.type = last_type[agent.id]

    def limit(self, obj: dict[str, Any], key: str, path: str) -> int:
        """ "capacity" or "max_length": a 32-bit integer; 0 when absent."""
        where = key_path(path, key)
        if key not in obj:
            return 0
        value = obj[key]
        if not _is_number(value) and not isinstance(value, bool):
            self.refuse_type(where, value, "a number")
            return 0
        if not self.finite(value, where):
            return 0
        read = read_int32(value)
        if isinstance(value, bool):
            self.warn(where, f"{show(value)} is a boolean; the solver reads it as {read}", "boolean_number")
        elif isinstance(value, float) and not value.is_integer() and -2147483649.0 < value < 2147483648.0:
            cut = f"{show(value)} is cut to {read} (the solver reads {json.dumps(key)} as a 32-bit integer)"
            if key == "max_length" and read > 0:
                cut += f"; routes costing more than {read} are refused"
            self.warn(where, cut, "int32_truncated")
        elif read != value:
            self.warn(
                where, f"{show(value)} does not fit a 32-bit integer; the solver reads it as {read}", "int32_range"
            )
        if key == "max_length" and read < 0:
            self.warn(
                where, f"{show(value)} is below 0; the solver reads it as no limit (0 means none)", "limit_negative"
            )
        return read

    def read_costs(self, document: dict[str, Any]) -> None:
        if "costs" not in document:
            if self.nodes and self.agents:
                self.warn(
                    "costs", f"missing; every arc costs {MISSING_COST} (the solver's cost of a missing arc)", "no_costs"
                )
            return
        costs = document["costs"]
        if isinstance(costs, dict):
            named = [(key_path("costs", k), k, m) for k, m in costs.items()]
        elif isinstance(costs, list):
            named = [(index_path("costs", i), str(i), m) for i, m in enumerate(costs)]
        elif costs is None:
            named = []
        else:
            self.refuse_type("costs", costs, "an object")
            return
        n = len(self.nodes)
        for path, name, value in named:
            if name not in self.types:
                named_how = (
                    f'an array of matrices names them "0", "1", ...; {json.dumps(name)}'
                    if isinstance(costs, list)
                    else json.dumps(name)
                )
                self.error(
                    path,
                    f"{named_how} is not the type of any agent; the solver refuses the instance",
                    "unknown_cost_type",
                )
                continue
            if not isinstance(value, list):
                self.refuse_type(path, value, "an array")
                continue
            rows = []
            for i, row in enumerate(value):
                row_path = index_path(path, i)
                if not isinstance(row, list):
                    self.refuse_type(row_path, row, "an array")
                    continue
                if len(row) > n:
                    self.error(
                        row_path,
                        f"{len(row)} columns but the instance has {n} nodes; the solver refuses the instance",
                        "matrix_too_large",
                    )
                elif len(row) < n:
                    self.warn(
                        row_path,
                        f"{len(row)} columns for {n} nodes; the arcs to the missing columns cost {MISSING_COST}",
                        "short_row",
                    )
                rows.append(row if _plain_row(row) else self.read_row(row, row_path, i, n))
            if len(value) > n:
                self.error(
                    path,
                    f"{len(value)} rows but the instance has {n} nodes; the solver refuses the instance",
                    "matrix_too_large",
                )
            elif len(value) < n:
                self.warn(
                    path,
                    f"{len(value)} rows for {n} nodes; the arcs from the missing rows cost {MISSING_COST}",
                    "short_matrix",
                )
            self.matrices[name] = rows
        if n:
            for kind in self.types:
                if kind not in self.matrices:
                    self.warn(
                        key_path("costs", kind),
                        f"missing: no matrix for agent type {json.dumps(kind)}; every "
                        f"arc of its agents costs {MISSING_COST}",
                        "no_matrix",
                    )

    def read_row(self, row: list[Any], path: str, i: int, n: int) -> list[float]:
        """One cost row cell by cell; cells the solver refuses count as missing arcs here."""
        cells = []
        for j, cell in enumerate(row):
            cell_path = index_path(path, j)
            if not _is_number(cell):
                self.refuse_type(cell_path, cell, "a number")
                cells.append(MISSING_COST)
                continue
            if not self.finite(cell, cell_path):
                cells.append(MISSING_COST)
                continue
            cells.append(float(cell))
            if i == j or i >= n or j >= n:
                continue
            if cell < 0:
                self.negative_costs = True
                self.warn(
                    cell_path,
                    f"{show(cell)} is negative; the search's bounds assume costs of at least 0 and "
                    "may cut off better routes",
                    "negative_cost",
                )
            elif cell >= MISSING_COST:
                self.warn(
                    cell_path,
                    f"{show(cell)} is {MISSING_COST:g} or more; the solver's bounds treat such an arc as missing",
                    "missing_sentinel",
                )
        return cells

    def read_constraints(self, value: Any) -> None:
        for path, element in self.elements(value, "constraints"):
            constraint = self.obj(element, path)
            if constraint is None:
                continue
            kind = self.string(constraint, "kind", path, required=True)
            if kind is None:
                continue
            if kind not in CONSTRAINT_KINDS:
                hint = _suggest(kind, CONSTRAINT_KINDS)
                advice = f"use {json.dumps(hint)}" if hint else f"use {_quoted(CONSTRAINT_KINDS)}"
                self.warn(
                    key_path(path, "kind"),
                    f"{json.dumps(kind)} is not a constraint kind; the solver skips this constraint ({advice})",
                    "unknown_kind",
                )
                continue
            list_key = "precedence" if kind == "sequence" else "items"
            self.unknown_keys(constraint, path, ("kind", list_key), f"a {json.dumps(kind)} constraint")
            if list_key not in constraint:
                self.warn(
                    path,
                    f"a {json.dumps(kind)} constraint without {json.dumps(list_key)}; the solver skips it",
                    "no_items",
                )
                continue
            items = list(self.elements(constraint[list_key], key_path(path, list_key)))
            if kind == "assignment":
                for item_path, item in items:
                    self.read_assignment(item_path, item)
            elif kind == "timewindow":
                for item_path, item in items:
                    self.read_window(item_path, item)
            else:
                for item_path, item in items:
                    self.read_precedence(item_path, item)
                if items:
                    self.warn(
                        key_path(path, "precedence"),
                        "precedence is carried but not enforced; routes may "
                        'visit an "after" node before its "before" node',
                        "precedence_not_enforced",
                    )

    def read_assignment(self, path: str, value: Any) -> None:
        item = self.obj(value, path)
        if item is None:
            return
        self.unknown_keys(item, path, ASSIGNMENT_ITEM_KEYS, "an assignment item")
        node = self.id_value(item, "node", path)
        where = key_path(path, "types")
        if "types" not in item:
            self.missing(where)
            return
        types = item["types"]
        if not isinstance(types, list):
            self.refuse_type(where, types, "an array")
            return
        names = []
        for i, name in enumerate(types):
            if not isinstance(name, str):
                self.refuse_type(index_path(where, i), name, "a string")
                return
            names.append(name)
        if node is None:
            return
        if node not in self.index:
            self.warn(
                key_path(path, "node"),
                f"{node} is not a node id; the solver ignores this assignment",
                "assignment_unknown_node",
            )
            return
        if node in self.assignments:
            self.warn(
                key_path(path, "node"),
                f"node {node} already has an assignment ({self.assignments[node][0]}); this one replaces it",
                "duplicate_assignment",
            )
        self.assignments[node] = (path, names)

    def read_window(self, path: str, value: Any) -> None:
        item = self.obj(value, path)
        if item is None:
            return
        self.unknown_keys(item, path, WINDOW_ITEM_KEYS, "a time-window item")
        node = self.id_value(item, "node", path)
        start = self.double(item, "start", path, None)
        end = self.double(item, "end", path, None)
        if node is None or start is None or end is None:
            return
        if node not in self.index:
            self.warn(
                key_path(path, "node"),
                f"{node} is not a node id; the solver ignores this window",
                "window_unknown_node",
            )
            return
        if node in self.windows:
            self.warn(
                key_path(path, "node"),
                f"node {node} already has a window ({self.windows[node][0]}); this one replaces it",
                "duplicate_window",
            )
        self.windows[node] = (path, start, end)

    def read_precedence(self, path: str, value: Any) -> None:
        item = self.obj(value, path)
        if item is None:
            return
        self.unknown_keys(item, path, PRECEDENCE_ITEM_KEYS, "a precedence item")
        self.id_value(item, "before", path)
        self.id_value(item, "after", path)
        kind = self.string(item, "type", path, required=False)
        if kind is not None and kind not in PRECEDENCE_TYPES:
            hint = _suggest(kind, PRECEDENCE_TYPES)
            advice = f"use {json.dumps(hint)}" if hint else f"use {_quoted(PRECEDENCE_TYPES)} or leave it out"
            self.warn(
                key_path(path, "type"),
                f"{json.dumps(kind)} is not a precedence type; the solver reads it as plain precedence ({advice})",
                "precedence_type",
            )

    def read_options(self, document: dict[str, Any]) -> None:
        time_limit = DEFAULT_TIME_LIMIT
        if "options" in document:
            options = self.obj(document["options"], "options")
            if options is None:
                return
            self.unknown_keys(options, "options", OPTION_KEYS, "the options")
            self.closes_free = options.get("return_to_end") is False
            for key in ("return_to_end", "improve"):
                if key in options and not isinstance(options[key], bool):
                    self.refuse_type(key_path("options", key), options[key], "a boolean")
            objective = self.string(options, "objective", "options", required=False)
            if objective is not None and objective not in OBJECTIVES:
                hint = _suggest(objective, ("min_max", "min_sum"))
                advice = f"use {json.dumps(hint)}" if hint else 'use "min_max" or "min_sum"'
                self.warn(
                    "options.objective",
                    f"{json.dumps(objective)} is not an objective name; the solver reads it as min_sum ({advice})",
                    "objective_name",
                )
            read = self.double(options, "time_limit", "options", DEFAULT_TIME_LIMIT)
            if read is not None:
                time_limit = options.get("time_limit", read)
            self.read_improvement(options)
        if self.override is not None:
            time_limit = self.override
        elif time_limit <= 0:
            self.warn(
                "options.time_limit",
                f"{show(time_limit)} is not above 0; the search stops before its first solution",
                "time_limit_not_positive",
            )
            return
        n = len(self.nodes)
        needed = first_solution_budget(n)
        if 0 < time_limit < needed and n <= MAX_NODES:
            where = "options.time_limit" if self.override is None else ""
            self.warn(
                where,
                f"a budget of {_number(time_limit)} s for {n} nodes; the search may not reach a first "
                f"solution in time (allow at least {needed:g} s)",
                "budget_small",
            )

    def read_improvement(self, options: dict[str, Any]) -> None:
        if "seed" in options:
            seed = options["seed"]
            if not (isinstance(seed, int) and not isinstance(seed, bool) and 0 <= seed <= _UINT64_MAX):
                self.error(
                    "options.seed",
                    f"{show(seed)} is not an unsigned 64-bit integer; the solver refuses the document",
                    "type",
                )
        if "improve_iterations" in options:
            cap = options["improve_iterations"]
            if not (isinstance(cap, int) and not isinstance(cap, bool)):
                self.error(
                    "options.improve_iterations",
                    f"{show(cap)} is not an integer; the solver refuses the document",
                    "type",
                )
            elif not _INT64_MIN <= cap < 1 << 63:
                self.error(
                    "options.improve_iterations",
                    f"{cap} does not fit a signed 64-bit integer; the solver refuses the document",
                    "type",
                )
            elif cap < 0:
                self.warn(
                    "options.improve_iterations",
                    f"{cap} is below 0; the solver reads it as no cap (0 means none)",
                    "iterations_negative",
                )

    # what the set-up makes of it

    def check_roles(self) -> None:
        depots = {a.start for a in self.agents} | {a.end for a in self.agents}
        for agent in self.agents:
            for key, index in (("start_node", agent.start), ("end_node", agent.end)):
                if index is None:
                    continue
                node = self.nodes[index]
                if not node.depot:
                    self.warn(
                        key_path(agent.path, key),
                        f'node {node.id} is a target node (its "type" is not '
                        '"depot"); the solver treats it as a depot that no '
                        "agent serves",
                        "depot_is_target",
                    )
        for j, node in enumerate(self.nodes):
            if node.depot and j not in depots and node.type_path is not None:
                self.warn(
                    node.type_path,
                    f'"depot", but no agent starts or ends at node {node.id}; the solver '
                    "treats it as a target every solution must visit",
                    "depot_unused",
                )

    def cost(self, kind: str, i: int, j: int) -> float:
        rows = self.matrices.get(kind)
        if rows is None or i >= len(rows) or j >= len(rows[i]):
            return MISSING_COST
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
        depots = {a.start for a in self.agents} | {a.end for a in self.agents}
        targets = [j for j in range(n) if j not in depots and self.index.get(self.nodes[j].id) == j]
        if not targets:
            return
        if not self.agents:
            self.warn(
                "agents",
                f"empty; no agent serves the {len(targets)} target nodes, so the instance has no solution",
                "no_agents",
            )
            return
        timed = bool(self.windows) or any(a.limit > 0 for a in self.agents)
        outward: dict[tuple[str, int], list[float]] = {}
        back: dict[tuple[str, int], list[float]] = {}
        for j in targets:
            node = self.nodes[j]
            allowed = self.allowed_types(node)
            if allowed is None:
                continue  # reported with the assignment
            window = self.windows.get(node.id)
            if window is not None and window[1] > window[2]:
                self.warn(
                    window[0],
                    f"the window of node {node.id} opens at {_number(window[1])}, after it closes "
                    f"at {_number(window[2])}; the solver requires arrival by {_number(window[2])} "
                    f"and then waits until {_number(window[1])}",
                    "window_inverted",
                )
            if not timed or self.negative_costs:
                continue
            late: list[tuple[_Agent, float]] = []
            long: list[tuple[_Agent, float]] = []
            for agent in self.agents:
                if agent.type not in allowed or agent.start is None or agent.end is None:
                    continue
                if self.direct_trip_fits(agent, j, window):
                    break  # this agent can serve the node; no bound needed
                key = (agent.type, agent.start)
                if key not in outward:
                    outward[key] = self.distances(agent.type, agent.start, reverse=False)
                arrival = outward[key][j]
                if window is not None and arrival > window[2] + TOLERANCE:
                    late.append((agent, arrival))
                    continue
                if agent.limit <= 0:
                    break  # this agent can serve the node
                leave = max(arrival, window[1]) if window is not None else arrival
                if self.closes_free:
                    trip = leave
                else:
                    key = (agent.type, agent.end)
                    if key not in back:
                        back[key] = self.distances(agent.type, agent.end, reverse=True)
                    trip = leave + back[key][j]
                if trip > agent.limit + TOLERANCE:
                    long.append((agent, trip))
                    continue
                break
            else:
                self.report_unservable(j, window, late, long)

    def direct_trip_fits(self, agent: _Agent, j: int, window: tuple[str, float, float] | None) -> bool:
        """Whether going straight from the agent's start to node j and on to its end meets j's
        window and the agent's limit: then the agent can serve j."""
        assert agent.start is not None and agent.end is not None
        arrival = 0.0 if j == agent.start else self.cost(agent.type, agent.start, j)
        if window is not None:
            if arrival > window[2]:
                return False
            arrival = max(arrival, window[1])
        if agent.limit <= 0:
            return True
        if not self.closes_free and j != agent.end:
            arrival += self.cost(agent.type, j, agent.end)
        return arrival <= agent.limit

    def allowed_types(self, node: _Node) -> set[str] | None:
        entry = self.assignments.get(node.id)
        if entry is None:
            return set(self.types)
        path, names = entry
        known = [t for t in names if t in self.types]
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
                where, f"empty; no agent may serve node {node.id}, so the instance has no solution", "empty_assignment"
            )
        else:
            self.warn(
                where,
                f"names only {_quoted(dict.fromkeys(names))}, which no agent has; no agent may serve "
                f"node {node.id}, so the instance has no solution",
                "no_agent_type",
            )
        return None

    def report_unservable(
        self,
        j: int,
        window: tuple[str, float, float] | None,
        late: list[tuple[_Agent, float]],
        long: list[tuple[_Agent, float]],
    ) -> None:
        node = self.nodes[j]
        if late and not long:
            assert window is not None
            earliest = min(t for _, t in late)
            self.warn(
                key_path(window[0], "end"),
                f"the window of node {node.id} closes at {_number(window[2])}, "
                f"but no agent that may serve it arrives before "
                f"{_number(earliest)}; the instance has no solution",
                "window_unreachable",
            )
        elif long and not late:
            limits = ", ".join(f"{a.path} {a.limit}" for a, _ in long)
            shortest = min(t for _, t in long)
            self.warn(
                node.path,
                f"the round trip to node {node.id} costs at least {_number(shortest)}, above the "
                f"max_length of every agent that may serve it ({limits}); the instance has no "
                "solution",
                "limit_round_trip",
            )
        elif late or long:
            reasons = [
                f"{a.path} arrives at {_number(t)}, after the window closes at {_number(window[2])}"
                for a, t in late
                if window is not None
            ]
            reasons += [
                f"{a.path} needs at least {_number(t)} for the round trip, above its max_length {a.limit}"
                for a, t in long
            ]
            self.warn(
                node.path,
                f"no agent can serve node {node.id} ({'; '.join(reasons)}); the instance has no solution",
                "unservable",
            )


def first_solution_budget(n_nodes: int) -> float:
    """Processor seconds below which the focal search may end before its first solution: the time
    a first solution takes on uniform Euclidean instances (0.1 s at 128 nodes, 0.5 s at 200,
    growing with n^3.6), four times over for slower machines and harder constraints. 0 below 100
    nodes, where a first solution comes within milliseconds."""
    if n_nodes < 100:
        return 0.0
    return float(f"{1e-8 * n_nodes**3.6:.2g}")


def check_instance(doc: Any, *, time_limit: float | None = None) -> list[Finding]:
    """Every finding for the parsed instance `doc`, in document order (nodes, agents, costs,
    constraints, options, then what the set-up makes of them).

    `time_limit`, when above 0, is the budget the solve will use instead of options.time_limit."""
    return _Checker(time_limit).run(doc)


def exit_status(findings: Iterable[Finding]) -> int:
    """0 without findings, 1 with warnings only, 2 when the solver would refuse the instance."""
    severities = {f.severity for f in findings}
    return 2 if ERROR in severities else 1 if severities else 0


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
