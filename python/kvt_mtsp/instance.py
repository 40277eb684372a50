"""A JSON instance read into plain records, with the conversions the solver's reader applies.

Used to check results, draw routes and describe instances; the solver itself reads the file on its
own. Errors raise `InstanceError` with a message that names the offending element.
"""

from __future__ import annotations

import json
import math
import pathlib
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

from .check import json_type as _json_type
from .check import read_int32, read_uint64

MISSING_COST = 9999.0  # what the solver charges for an arc without a matrix cell
DEFAULT_TIME_LIMIT = 60.0


class InstanceError(ValueError):
    """The document is not an instance the solver could read."""


def _require(obj: Mapping[str, Any], key: str, where: str) -> Any:
    if key not in obj:
        raise InstanceError(f"{where}: missing key {key!r}")
    return obj[key]


def _object(value: Any, where: str) -> Mapping[str, Any]:
    if not isinstance(value, dict):
        raise InstanceError(f"{where}: expected an object, got {_json_type(value)}")
    return value


def _list(value: Any, where: str) -> list[Any]:
    if not isinstance(value, list):
        raise InstanceError(f"{where}: expected an array, got {_json_type(value)}")
    return value


def _id(value: Any, where: str) -> int:
    """An unsigned 64-bit id as the reader converts it: floats truncate, negatives wrap, values
    beyond 64 bits saturate."""
    if isinstance(value, (bool, int)) or isinstance(value, float) and math.isfinite(value):
        return read_uint64(value)
    raise InstanceError(f"{where}: expected a number, got {_json_type(value)}")


def _int32(value: Any, where: str) -> int:
    """A signed 32-bit integer as the reader converts it ("capacity", "max_length")."""
    if isinstance(value, (bool, int)) or isinstance(value, float) and math.isfinite(value):
        return read_int32(value)
    raise InstanceError(f"{where}: expected a number, got {_json_type(value)}")


def _float(value: Any, where: str) -> float:
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return float(value)
    raise InstanceError(f"{where}: expected a number, got {_json_type(value)}")


def _str(value: Any, where: str) -> str:
    if isinstance(value, str):
        return value
    raise InstanceError(f"{where}: expected a string, got {_json_type(value)}")


@dataclass(frozen=True)
class Node:
    id: int
    x: float
    y: float
    depot: bool = False

    @classmethod
    def from_document(cls, obj: Any, where: str = "node") -> Node:
        obj = _object(obj, where)
        kind = obj.get("type")
        return cls(
            id=_id(_require(obj, "id", where), f"{where} id"),
            x=_float(_require(obj, "x", where), f"{where} x"),
            y=_float(_require(obj, "y", where), f"{where} y"),
            depot=kind is not None and _str(kind, f"{where} type").upper() == "DEPOT",
        )


@dataclass(frozen=True)
class Agent:
    id: int
    type: str
    start_node: int
    end_node: int
    max_length: int = 0  # limit on the route cost; 0 means none

    @classmethod
    def from_document(cls, obj: Any, where: str = "agent") -> Agent:
        obj = _object(obj, where)
        return cls(
            id=_id(_require(obj, "id", where), f"{where} id"),
            type=_str(_require(obj, "type", where), f"{where} type"),
            start_node=_id(_require(obj, "start_node", where), f"{where} start_node"),
            end_node=_id(_require(obj, "end_node", where), f"{where} end_node"),
            max_length=_int32(obj.get("max_length", 0), f"{where} max_length"),
        )


@dataclass
class Instance:
    nodes: list[Node]
    agents: list[Agent]
    costs: dict[str, list[list[float]]] = field(default_factory=dict)
    windows: dict[int, tuple[float, float]] = field(default_factory=dict)
    assignments: dict[int, list[str]] = field(default_factory=dict)
    return_to_end: bool = True
    objective: str = "min_sum"  # "min_max" or "min_sum"
    time_limit: float = DEFAULT_TIME_LIMIT
    name: str = ""

    def __post_init__(self) -> None:
        self._index: dict[int, int] = {}
        for i, node in enumerate(self.nodes):
            self._index.setdefault(node.id, i)

    @classmethod
    def from_document(cls, doc: Any) -> Instance:
        doc = _object(doc, "instance")
        nodes = [
            Node.from_document(n, f"node {i}") for i, n in enumerate(_list(_require(doc, "nodes", "instance"), "nodes"))
        ]
        agents = [
            Agent.from_document(a, f"agent {k}")
            for k, a in enumerate(_list(_require(doc, "agents", "instance"), "agents"))
        ]
        instance = cls(nodes=nodes, agents=agents, costs=_costs(doc.get("costs")))
        instance.windows, instance.assignments = _constraints(doc.get("constraints"))
        options = doc.get("options")
        if options is not None:
            options = _object(options, "options")
            instance.return_to_end = options.get("return_to_end", True)
            if not isinstance(instance.return_to_end, bool):
                raise InstanceError(
                    "options return_to_end: expected a boolean, got " + _json_type(instance.return_to_end)
                )
            objective = _str(options.get("objective", "min_sum"), "options objective")
            instance.objective = "min_max" if objective in ("min_max", "MIN_MAX") else "min_sum"
            instance.time_limit = _float(options.get("time_limit", DEFAULT_TIME_LIMIT), "options time_limit")
        name = doc.get("name")
        instance.name = name if isinstance(name, str) else ""
        return instance

    def index_of(self, node_id: int) -> int | None:
        """Position of the node in the node list (the first one when an id repeats)."""
        return self._index.get(node_id)

    def node(self, node_id: int) -> Node | None:
        i = self._index.get(node_id)
        return None if i is None else self.nodes[i]

    def duplicate_node_ids(self) -> list[int]:
        return sorted({n.id for n in self.nodes if self.nodes[self._index[n.id]] is not n})

    def arc_cost(self, agent_type: str, u: int, v: int) -> float:
        """Cost of moving an agent of `agent_type` from node id u to node id v."""
        matrix = self.costs.get(agent_type)
        a, b = self._index.get(u), self._index.get(v)
        if matrix is None or a is None or b is None or a >= len(matrix) or b >= len(matrix[a]):
            return MISSING_COST
        return matrix[a][b]

    def depot_ids(self) -> set[int]:
        """Every agent's start and end node."""
        return {a.start_node for a in self.agents} | {a.end_node for a in self.agents}


def _costs(costs: Any) -> dict[str, list[list[float]]]:
    if costs is None:
        return {}
    if isinstance(costs, list):
        named = {str(i): m for i, m in enumerate(costs)}
    else:
        named = dict(_object(costs, "costs"))
    out = {}
    for name, matrix in named.items():
        where = f"costs {name!r}"
        out[name] = [
            [_float(cell, f"{where} row {r}") for cell in _list(row, f"{where} row {r}")]
            for r, row in enumerate(_list(matrix, where))
        ]
    return out


def _constraints(constraints: Any) -> tuple[dict[int, tuple[float, float]], dict[int, list[str]]]:
    windows: dict[int, tuple[float, float]] = {}
    assignments: dict[int, list[str]] = {}
    if constraints is None:
        return windows, assignments
    for c, raw in enumerate(_list(constraints, "constraints")):
        where = f"constraint {c}"
        constraint = _object(raw, where)
        kind = _str(_require(constraint, "kind", where), f"{where} kind")
        if kind not in ("assignment", "timewindow") or constraint.get("items") is None:
            continue  # other kinds restrict nothing the routes could break
        for i, raw_item in enumerate(_list(constraint["items"], f"{where} items")):
            at = f"{where} item {i}"
            item = _object(raw_item, at)
            node = _id(_require(item, "node", at), f"{at} node")
            if kind == "assignment":
                types = _list(_require(item, "types", at), f"{at} types")
                assignments[node] = [_str(t, f"{at} types") for t in types]
            else:
                windows[node] = (
                    _float(_require(item, "start", at), f"{at} start"),
                    _float(_require(item, "end", at), f"{at} end"),
                )
    return windows, assignments


def read_json(path: str | pathlib.Path) -> Any:
    """The parsed document; OSError or json.JSONDecodeError when it cannot be had."""
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)


def load_instance(path: str | pathlib.Path) -> Instance:
    return Instance.from_document(read_json(path))


def unknown_references(instance: Instance) -> list[str]:
    """Names in the instance that point nowhere, which the solver refuses with a bare lookup error."""
    out = []
    for k, agent in enumerate(instance.agents):
        for role, node_id in (("start", agent.start_node), ("end", agent.end_node)):
            if instance.index_of(node_id) is None:
                out.append(f"agent {k} (id {agent.id}) has {role} node {node_id}, which is not a node id")
    types = {agent.type for agent in instance.agents}
    for name in instance.costs:
        if name not in types:
            out.append(f"cost matrix {name!r} names a type no agent has")
    return out
