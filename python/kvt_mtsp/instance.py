"""A JSON instance read into plain records, with the conversions of the solver's reader and its
findings.

`read_instance(doc)` walks a parsed document as the solver's reader and set-up do and gives the
`Instance` they make of it together with every `Finding`: names the reader does not know, numbers
it cuts or wraps, references that point nowhere, and what makes the solver refuse the document (the
errors; the reading is complete only without them). `Instance.from_document(doc)` raises
`InstanceError` with the first error instead. `kvt_mtsp.check` adds what the set-up makes of an
instance read without errors (nodes no agent can serve, budgets).
"""

from __future__ import annotations

import difflib
import json
import math
import pathlib
import re
from array import array
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass, field
from typing import Any

from . import engine
from .document import compact_row, parse_document
from .findings import ERROR, WARNING, Finding, first_error, index_path, json_type, key_path, show

# The keys the reader reads, per object.
TOP_KEYS = ("nodes", "agents", "costs", "constraints", "options")
NODE_KEYS = ("id", "x", "y", "z", "type", "demand")
AGENT_KEYS = ("id", "type", "start_node", "end_node", "capacity", "max_length")
CONSTRAINT_KEYS = ("kind", "items", "precedence")
ASSIGNMENT_ITEM_KEYS = ("node", "types")
WINDOW_ITEM_KEYS = ("node", "start", "end")
PRECEDENCE_ITEM_KEYS = ("before", "after", "type")
OPTION_KEYS = (
    "return_to_end",
    "objective",
    "time_limit",
    "improve",
    "seed",
    "improve_iterations",
    "threads",
    "enforce_capacity",
    "enforce_precedence",
)
# Options that need "improve" true: the rules only the improvement engine enforces.
ENFORCE_KEYS = ("enforce_capacity", "enforce_precedence")
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
# Read by this package, not by the solver: the instance's name, a title for plots, and notes on
# where it came from (a converter's).
PACKAGE_KEYS = ("name", "notes")

CONSTRAINT_KINDS = ("assignment", "timewindow", "sequence")
OBJECTIVES = {"min_max": "min_max", "MIN_MAX": "min_max", "min_sum": "min_sum", "MIN_SUM": "min_sum"}
PRECEDENCE_TYPES = ("same", "diff")
PLAIN = "plain"  # the kind of a pair whose "type" is neither "same" nor "diff"

_UINT64_MAX = (1 << 64) - 1
_UINT32_MAX = (1 << 32) - 1
_INT64_MIN = -(1 << 63)
_NUMBERS = frozenset({float, int})

Row = Sequence[float]  # a list of floats, or an array("d") as `parse_document` gives it


class InstanceError(ValueError):
    """The document is not an instance the solver could read."""


# --- records --------------------------------------------------------------------------------------------


@dataclass(frozen=True)
class Node:
    id: int
    x: float
    y: float
    depot: bool = False  # its "type" is "depot" (in any case)
    demand: float = 0.0


@dataclass(frozen=True)
class Agent:
    id: int
    type: str  # the type the solver plans it with: that of the last agent sharing its id
    start_node: int
    end_node: int
    max_length: int = 0  # limit on the route cost; 0 or less means none
    capacity: int = 0  # limit on the demands served; 0 or less means none


@dataclass(frozen=True)
class Pair:
    """A precedence pair of a "sequence" constraint: `before` is served no later than `after`;
    kind "same": by one agent, earlier on its route; "diff": by two agents."""

    before: int
    after: int
    kind: str = PLAIN  # "plain", "same" or "diff"


@dataclass
class Instance:
    nodes: list[Node]
    agents: list[Agent]
    costs: dict[str, list[Row]] = field(default_factory=dict)
    windows: dict[int, tuple[float, float]] = field(default_factory=dict)
    assignments: dict[int, list[str]] = field(default_factory=dict)
    return_to_end: bool = True
    objective: str = "min_sum"  # "min_max" or "min_sum"
    time_limit: float = field(default_factory=lambda: engine.DEFAULT_TIME_LIMIT)  # processor seconds
    name: str = ""
    improve: bool = False
    seed: int = 0
    improve_iterations: int = 0  # 0 or less: no cap
    threads: int = 1  # improvement searches; 0: one per core
    pairs: list[Pair] = field(default_factory=list)  # in document order
    enforce_capacity: bool = False
    enforce_precedence: bool = False
    document: Any = field(default=None, repr=False, compare=False)  # what it was read from, when read

    def __post_init__(self) -> None:
        self._index: dict[int, int] = {}
        for i, node in enumerate(self.nodes):
            self._index[node.id] = i

    @classmethod
    def from_document(cls, doc: Any) -> Instance:
        """The instance the solver reads from `doc`; InstanceError with the first finding the solver
        refuses the document for."""
        reading = read_instance(doc)
        refusal = first_error(reading.findings)
        if refusal is not None:
            raise InstanceError(str(refusal))
        return reading.instance

    def index_of(self, node_id: int) -> int | None:
        """Position of the node in the node list; the last one when an id repeats, as for the solver."""
        return self._index.get(node_id)

    def node(self, node_id: int) -> Node | None:
        i = self._index.get(node_id)
        return None if i is None else self.nodes[i]

    def duplicate_node_ids(self) -> list[int]:
        return sorted({n.id for i, n in enumerate(self.nodes) if self._index[n.id] != i})

    def carriers(self) -> dict[int, list[int]]:
        """Node id -> the positions of the nodes carrying it, in document order."""
        out: dict[int, list[int]] = {}
        for i, node in enumerate(self.nodes):
            out.setdefault(node.id, []).append(i)
        return out

    def arc_cost(self, agent_type: str, u: int, v: int) -> float:
        """Cost of moving an agent of `agent_type` from node id u to node id v."""
        return self.cost_at(agent_type, self._index.get(u), self._index.get(v))

    def cost_at(self, agent_type: str, a: int | None, b: int | None) -> float:
        """Cost of moving an agent of `agent_type` from the node at position a to the one at b."""
        matrix = self.costs.get(agent_type)
        if matrix is None or a is None or b is None or a >= len(matrix) or b >= len(matrix[a]):
            return engine.MISSING_COST
        return matrix[a][b]

    def depot_ids(self) -> set[int]:
        """Every agent's start and end node."""
        return {a.start_node for a in self.agents} | {a.end_node for a in self.agents}

    def types(self) -> list[str]:
        """The agent types in order of first appearance, as the solver numbers them."""
        return list(dict.fromkeys(a.type for a in self.agents))


@dataclass(frozen=True)
class Places:
    """Where the records of a reading came from: JSON paths for findings about them."""

    nodes: list[str] = field(default_factory=list)  # one per node of the instance
    node_types: list[str | None] = field(default_factory=list)  # the node's "type", when it has one
    agents: list[str] = field(default_factory=list)
    windows: dict[int, str] = field(default_factory=dict)  # node id -> the item that set its window
    assignments: dict[int, str] = field(default_factory=dict)
    pairs: list[str] = field(default_factory=list)  # one per pair of the instance: its item


@dataclass(frozen=True)
class Reading:
    """What the solver's reader and set-up make of a document, and the findings on the way."""

    instance: Instance  # complete only when `refused` is False
    findings: list[Finding]
    places: Places
    negative_costs: bool = False  # some arc costs less than 0

    @property
    def refused(self) -> bool:
        return any(f.severity == ERROR for f in self.findings)

    @property
    def refusal(self) -> Finding | None:
        """The finding the solver refuses the document for; None when it reads it."""
        return first_error(self.findings)


# --- conversions ------------------------------------------------------------------------------------------


def read_uint64(value: int | float | bool) -> int:
    """An id as the reader converts it: floats truncate, negatives wrap, values beyond 64 bits
    saturate."""
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


def _is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _suggest(word: str, known: Iterable[str]) -> str | None:
    known = list(known)
    folded = {re.sub(r"[^a-z0-9]", "", k.lower()): k for k in known}
    exact = folded.get(re.sub(r"[^a-z0-9]", "", word.lower()))
    if exact is not None:
        return exact
    close = difflib.get_close_matches(word, known, n=1, cutoff=0.7)
    return close[0] if close else None


def quoted(names: Iterable[str]) -> str:
    names = [json.dumps(n) for n in names]
    return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " or " + names[-1]


# --- the walk ---------------------------------------------------------------------------------------------


@dataclass
class _Agent:
    path: str
    id: int
    type: str
    start: int
    end: int
    limit: int
    capacity: int


class _Reader:
    def __init__(self) -> None:
        self.findings: list[Finding] = []
        self.nodes: list[Node] = []
        self.places = Places()
        self.index: dict[int, int] = {}  # node id -> its last position, as the solver maps it
        self.n_nodes: int | None = 0  # elements of "nodes", the matrices' size; None when unknown
        self.ids_known = True  # every node's id was read: an id no node has is one the writer lacks
        self.agents: list[_Agent] = []
        self.types: list[str] = []  # agent type names in order of first appearance
        self.types_known = True  # every agent's type was read
        self.matrices: dict[str, list[Row]] = {}
        self.negative_costs = False
        self.assignments: dict[int, list[str]] = {}
        self.windows: dict[int, tuple[float, float]] = {}
        self.options: dict[str, Any] = {}
        self.pairs: list[Pair] = []
        self.enforced: dict[str, bool] = {}  # the rules the document's options turn on

    # findings

    def error(self, path: str, message: str, code: str) -> None:
        self.findings.append(Finding(ERROR, path, message, code))

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

    def elements(self, value: Any, path: str) -> Iterator[tuple[str, Any]] | None:
        """The elements the reader walks: an array's, an object's values in key order, none for
        null; None (refused) for anything else."""
        if isinstance(value, list):
            return ((index_path(path, i), element) for i, element in enumerate(value))
        if isinstance(value, dict):
            if value:
                self.warn(path, "an object, not an array; the solver reads its values in key order", "object_list")
            return ((key_path(path, key), value[key]) for key in sorted(value))
        if value is None:
            self.warn(path, "null; the solver reads it as an empty list", "null_list")
            return iter(())
        self.refuse_type(path, value, "an array")
        return None

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

    def run(self, doc: Any) -> Reading:
        document = self.obj(doc, "")
        if document is not None:
            self.read(document)
        instance = Instance(
            nodes=self.nodes,
            agents=[
                Agent(a.id, a.type, self.nodes[a.start].id, self.nodes[a.end].id, a.limit, a.capacity)
                for a in self.agents
            ],
            costs=self.matrices,
            windows=self.windows,
            assignments=self.assignments,
            return_to_end=self.options.get("return_to_end", True) is not False,
            objective=OBJECTIVES.get(self.options.get("objective"), "min_sum"),  # type: ignore[arg-type]
            time_limit=self.options.get("time_limit", engine.DEFAULT_TIME_LIMIT),
            name=document.get("name", "") if document is not None and isinstance(document.get("name"), str) else "",
            improve=self.options.get("improve") is True,
            seed=self.options.get("seed", 0),
            improve_iterations=self.options.get("improve_iterations", 0),
            threads=self.options.get("threads", 1),
            pairs=self.pairs,
            enforce_capacity=self.options.get("enforce_capacity") is True,
            enforce_precedence=self.options.get("enforce_precedence") is True,
            document=doc,
        )
        return Reading(instance, self.findings, self.places, self.negative_costs)

    def read(self, document: dict[str, Any]) -> None:
        self.unknown_keys(document, "", TOP_KEYS + PACKAGE_KEYS + ("precedence",), "the document")
        options = document.get("options")
        improve = isinstance(options, dict) and options.get("improve") is True
        if isinstance(options, dict):
            self.enforced = {key: options.get(key) is True for key in ENFORCE_KEYS}
        if "nodes" in document:
            self.read_nodes(document["nodes"], improve)
        else:
            self.missing("nodes")
            self.n_nodes, self.ids_known = None, False
        if "agents" in document:
            self.read_agents(document["agents"])
        else:
            self.missing("agents")
            self.types_known = False
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
        if "options" in document:
            self.read_options(document["options"])

    def read_nodes(self, value: Any, improve: bool) -> None:
        elements = self.elements(value, "nodes")
        if elements is None:
            self.n_nodes, self.ids_known = None, False
            return
        count = 0
        for path, element in elements:
            count += 1
            node = self.obj(element, path)
            if node is None:
                self.ids_known = False
                continue
            self.unknown_keys(node, path, NODE_KEYS, "a node")
            node_id = self.id_value(node, "id", path)
            x = self.double(node, "x", path, None)
            y = self.double(node, "y", path, None)
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
            if demand is not None and demand < 0 and self.enforced.get("enforce_capacity"):
                self.error(
                    key_path(path, "demand"),
                    f"{show(node['demand'])} is negative; with enforce_capacity on the solver refuses the instance",
                    "demand_negative",
                )
            elif demand and not self.enforced.get("enforce_capacity"):
                self.warn(
                    key_path(path, "demand"),
                    "demands are carried but not enforced; no route is restricted by them",
                    "demand_not_enforced",
                )
            if node_id is None:
                self.ids_known = False
                continue
            if node_id in self.index:
                first = next(self.places.nodes[i] for i, n in enumerate(self.nodes) if n.id == node_id)
                self.warn(
                    key_path(path, "id"),
                    f"{node_id} is already the id of {first}; the solver keeps both "
                    f"nodes (routes may list {node_id} twice), and references to "
                    f"{node_id} mean the last one",
                    "duplicate_node",
                )
            self.index[node_id] = len(self.nodes)
            self.nodes.append(
                Node(
                    node_id,
                    x if x is not None else math.nan,
                    y if y is not None else math.nan,
                    depot,
                    demand if demand is not None else 0.0,
                )
            )
            self.places.nodes.append(path)
            self.places.node_types.append(key_path(path, "type") if kind is not None else None)
        self.n_nodes = count
        most, least = engine.MAX_IMPROVE_NODES, engine.MAX_NODES
        if improve and count > most:
            self.error("nodes", f"{count} nodes; the solver handles at most {most} with improve on", "too_many_nodes")
        elif not improve and count > least:
            self.error(
                "nodes",
                f"{count} nodes; the solver handles at most {least} (up to {most} with options.improve true)",
                "too_many_nodes",
            )

    def read_agents(self, value: Any) -> None:
        elements = self.elements(value, "agents")
        if elements is None:
            self.types_known = False
            return
        seen: dict[int, _Agent] = {}
        last_type: dict[int, str] = {}
        for path, element in elements:
            raw = self.obj(element, path)
            if raw is None:
                self.types_known = False
                continue
            self.unknown_keys(raw, path, AGENT_KEYS, "an agent")
            agent_id = self.id_value(raw, "id", path)
            kind = self.string(raw, "type", path, required=True)
            ends = []
            for key in ("start_node", "end_node"):
                node_id = self.id_value(raw, key, path)
                index = None if node_id is None else self.index.get(node_id)
                if node_id is not None and index is None and self.ids_known:
                    self.error(
                        key_path(path, key),
                        f"{node_id} is not a node id; the solver refuses the instance",
                        "unknown_node",
                    )
                ends.append(index)
            capacity = self.limit(raw, "capacity", path)
            if capacity and not self.enforced.get("enforce_capacity"):
                self.warn(
                    key_path(path, "capacity"),
                    "capacities are carried but not enforced; no route is restricted by them",
                    "capacity_not_enforced",
                )
            limit = self.limit(raw, "max_length", path)
            if kind is None:
                self.types_known = False
                continue
            if kind not in self.types:
                self.types.append(kind)
            start, end = ends
            if agent_id is None or start is None or end is None:
                continue
            agent = _Agent(path, agent_id, kind, start, end, limit, capacity)
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
            self.places.agents.append(path)
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
        missing = engine.MISSING_COST
        if "costs" not in document:
            if self.nodes and self.agents:
                self.warn(
                    "costs", f"missing; every arc costs {missing} (the solver's cost of a missing arc)", "no_costs"
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
        n = self.n_nodes
        for path, name, value in named:
            if name not in self.types and self.types_known:
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
            rows: list[Row] = []
            for i, row in enumerate(value):
                row_path = index_path(path, i)
                if not isinstance(row, (list, array)):
                    self.refuse_type(row_path, row, "an array")
                    continue
                if n is not None and len(row) > n:
                    self.error(
                        row_path,
                        f"{len(row)} columns but the instance has {n} nodes; the solver refuses the instance",
                        "matrix_too_large",
                    )
                elif n is not None and len(row) < n:
                    self.warn(
                        row_path,
                        f"{len(row)} columns for {n} nodes; the arcs to the missing columns cost {missing}",
                        "short_row",
                    )
                rows.append(self.read_row(row, row_path, i))
            if n is not None and len(value) > n:
                self.error(
                    path,
                    f"{len(value)} rows but the instance has {n} nodes; the solver refuses the instance",
                    "matrix_too_large",
                )
            elif n is not None and len(value) < n:
                self.warn(
                    path,
                    f"{len(value)} rows for {n} nodes; the arcs from the missing rows cost {missing}",
                    "short_matrix",
                )
            self.matrices[name] = rows
        if self.nodes and self.types_known:
            for kind in self.types:
                if kind not in self.matrices:
                    self.warn(
                        key_path("costs", kind),
                        f"missing: no matrix for agent type {json.dumps(kind)}; every arc of its agents "
                        f"costs {missing}",
                        "no_matrix",
                    )

    def read_row(self, row: list[Any] | array[float], path: str, i: int) -> Row:
        """One cost row: a row of finite numbers from 0 to below the missing-arc cost at once (no
        loop over its cells here), any other cell by cell."""
        plain = compact_row(row) if isinstance(row, list) else row
        if isinstance(plain, array) and math.isfinite(sum(plain)):
            rest = plain[:i] + plain[i + 1 :]  # the diagonal is not an arc
            if not rest or (min(rest) >= 0 and max(rest) < engine.MISSING_COST):
                return plain
        return self.read_cells(row, path, i)

    def read_cells(self, row: Sequence[Any], path: str, i: int) -> Row:
        """One cost row cell by cell; cells the solver refuses count as missing arcs here."""
        missing = engine.MISSING_COST
        n = self.n_nodes if self.n_nodes is not None else len(row)
        cells = array("d")
        for j, cell in enumerate(row):
            cell_path = index_path(path, j)
            if not _is_number(cell):
                self.refuse_type(cell_path, cell, "a number")
                cells.append(missing)
                continue
            if not self.finite(cell, cell_path):
                cells.append(missing)
                continue
            try:
                cells.append(float(cell))
            except OverflowError:  # an integer beyond a double: the parser's own refusal
                self.error(
                    cell_path,
                    f"an integer of {len(str(abs(cell)))} digits is beyond the range of a number; the solver's "
                    "parser refuses the document",
                    "not_json",
                )
                cells.append(missing)
                continue
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
            elif cell >= missing:
                self.warn(
                    cell_path,
                    f"{show(cell)} is {missing:g} or more; the solver's bounds treat such an arc as missing",
                    "missing_sentinel",
                )
        return cells

    def read_constraints(self, value: Any) -> None:
        elements = self.elements(value, "constraints")
        for path, element in elements or ():
            constraint = self.obj(element, path)
            if constraint is None:
                continue
            kind = self.string(constraint, "kind", path, required=True)
            if kind is None:
                continue
            if kind not in CONSTRAINT_KINDS:
                hint = _suggest(kind, CONSTRAINT_KINDS)
                advice = f"use {json.dumps(hint)}" if hint else f"use {quoted(CONSTRAINT_KINDS)}"
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
            items = list(self.elements(constraint[list_key], key_path(path, list_key)) or ())
            if kind == "assignment":
                for item_path, item in items:
                    self.read_assignment(item_path, item)
            elif kind == "timewindow":
                for item_path, item in items:
                    self.read_window(item_path, item)
            else:
                for item_path, item in items:
                    self.read_precedence(item_path, item)
                if items and not self.enforced.get("enforce_precedence"):
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
            if self.ids_known:
                self.warn(
                    key_path(path, "node"),
                    f"{node} is not a node id; the solver ignores this assignment",
                    "assignment_unknown_node",
                )
            return
        if node in self.assignments:
            self.warn(
                key_path(path, "node"),
                f"node {node} already has an assignment ({self.places.assignments[node]}); this one replaces it",
                "duplicate_assignment",
            )
        self.assignments[node] = names
        self.places.assignments[node] = path

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
            if self.ids_known:
                self.warn(
                    key_path(path, "node"),
                    f"{node} is not a node id; the solver ignores this window",
                    "window_unknown_node",
                )
            return
        if node in self.windows:
            self.warn(
                key_path(path, "node"),
                f"node {node} already has a window ({self.places.windows[node]}); this one replaces it",
                "duplicate_window",
            )
        self.windows[node] = (start, end)
        self.places.windows[node] = path

    def read_precedence(self, path: str, value: Any) -> None:
        item = self.obj(value, path)
        if item is None:
            return
        self.unknown_keys(item, path, PRECEDENCE_ITEM_KEYS, "a precedence item")
        before = self.id_value(item, "before", path)
        after = self.id_value(item, "after", path)
        kind = self.string(item, "type", path, required=False)
        if kind is not None and kind not in PRECEDENCE_TYPES:
            hint = _suggest(kind, PRECEDENCE_TYPES)
            advice = f"use {json.dumps(hint)}" if hint else f"use {quoted(PRECEDENCE_TYPES)} or leave it out"
            self.warn(
                key_path(path, "type"),
                f"{json.dumps(kind)} is not a precedence type; the solver reads it as plain precedence ({advice})",
                "precedence_type",
            )
        if before is None or after is None or ("type" in item and kind is None):
            return
        pair = Pair(before, after, kind if kind in PRECEDENCE_TYPES else PLAIN)
        if self.enforced.get("enforce_precedence") and not self.pair_taken(pair, path):
            return
        self.pairs.append(pair)
        self.places.pairs.append(path)

    def pair_taken(self, pair: Pair, path: str) -> bool:
        """With enforce_precedence on, whether the solver takes the pair: both nodes known, neither an
        agent's start or end, not one node twice. False, with the error, for a pair it refuses."""
        if not self.ids_known:
            return True  # the node ids are not all known: judged once they are
        depots = {self.nodes[a.start].id for a in self.agents} | {self.nodes[a.end].id for a in self.agents}
        for key, node in (("before", pair.before), ("after", pair.after)):
            if node not in self.index:
                self.error(
                    key_path(path, key),
                    f"{node} is not a node id; with enforce_precedence on the solver refuses the instance",
                    "pair_unknown_node",
                )
                return False
            if node in depots:
                self.error(
                    key_path(path, key),
                    f"node {node} is an agent's start or end node; with enforce_precedence on the solver "
                    "refuses the instance",
                    "pair_depot",
                )
                return False
        if pair.before == pair.after:
            self.error(
                path,
                f"names node {pair.before} twice; with enforce_precedence on the solver refuses the instance",
                "pair_same_node",
            )
            return False
        return True

    def read_options(self, value: Any) -> None:
        options = self.obj(value, "options")
        if options is None:
            return
        self.unknown_keys(options, "options", OPTION_KEYS, "the options")
        for key in ("return_to_end", "improve") + ENFORCE_KEYS:
            if key in options:
                if isinstance(options[key], bool):
                    self.options[key] = options[key]
                else:
                    self.refuse_type(key_path("options", key), options[key], "a boolean")
        objective = self.string(options, "objective", "options", required=False)
        if objective is not None:
            self.options["objective"] = objective
            if objective not in OBJECTIVES:
                hint = _suggest(objective, ("min_max", "min_sum"))
                advice = f"use {json.dumps(hint)}" if hint else 'use "min_max" or "min_sum"'
                self.warn(
                    "options.objective",
                    f"{json.dumps(objective)} is not an objective name; the solver reads it as min_sum ({advice})",
                    "objective_name",
                )
        if "time_limit" in options:
            time_limit = self.double(options, "time_limit", "options", None)
            if time_limit is not None:
                self.options["time_limit"] = time_limit
        self.read_improvement(options)
        for key in ENFORCE_KEYS:
            if self.options.get(key) is True and self.options.get("improve") is not True:
                self.error(
                    key_path("options", key),
                    "true needs options.improve true (the rule is enforced by the improvement engine); "
                    "the solver refuses the document",
                    "needs_improve",
                )

    def read_improvement(self, options: dict[str, Any]) -> None:
        if "seed" in options:
            seed = options["seed"]
            if isinstance(seed, int) and not isinstance(seed, bool) and 0 <= seed <= _UINT64_MAX:
                self.options["seed"] = seed
            else:
                self.error(
                    "options.seed",
                    f"{show(seed)} is not an unsigned 64-bit integer; the solver refuses the document",
                    "type",
                )
        if "threads" in options:
            threads = options["threads"]
            if isinstance(threads, int) and not isinstance(threads, bool) and 0 <= threads <= _UINT32_MAX:
                self.options["threads"] = threads
            else:
                self.error(
                    "options.threads",
                    f"{show(threads)} is not an unsigned 32-bit integer; the solver refuses the document",
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
            else:
                self.options["improve_iterations"] = cap
                if cap < 0:
                    self.warn(
                        "options.improve_iterations",
                        f"{cap} is below 0; the solver reads it as no cap (0 means none)",
                        "iterations_negative",
                    )


def read_instance(doc: Any) -> Reading:
    """What the solver's reader makes of the parsed document `doc`, with every finding on the way, in
    document order (nodes, agents, costs, constraints, options)."""
    return _Reader().run(doc)


def read_json(path: str | pathlib.Path) -> Any:
    """The parsed document (cost rows as `array("d")`); OSError, UnicodeDecodeError or
    json.JSONDecodeError when it cannot be had."""
    with open(path, encoding="utf-8") as handle:
        return parse_document(handle.read()).document


def load_instance(path: str | pathlib.Path) -> Instance:
    return Instance.from_document(read_json(path))


__all__ = [
    "Agent",
    "Instance",
    "Pair",
    "InstanceError",
    "Node",
    "Places",
    "Reading",
    "load_instance",
    "read_instance",
    "read_int32",
    "read_uint64",
    "read_json",
]
