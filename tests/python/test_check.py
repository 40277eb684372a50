"""`kvt_mtsp.check_instance`, `kvt-mtsp check`, the check before `kvt-mtsp solve`, the reasons of a
failed solve, the instance-format document and the bundled solutions."""

from __future__ import annotations

import json
import pathlib
import re
import subprocess
import sys

import pytest

import _kvt_core as core
from kvt_mtsp import Finding, check_instance
from kvt_mtsp.check import INFEASIBLE, summarise, summarise_console
from kvt_mtsp.instance import READER_KEYS, Instance
from kvt_mtsp.validate import validate_result

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
DOCUMENT = ROOT / "docs" / "instance-format.md"
SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")


def base(n: int = 4) -> dict:
    """Two trucks at depot 0 and n - 1 customers on a line: arc i -> j costs |i - j|."""
    nodes = [{"id": 0, "x": 0, "y": 0, "type": "depot"}] + [{"id": i, "x": i, "y": 0} for i in range(1, n)]
    return {
        "nodes": nodes,
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(2)],
        "costs": {"truck": [[float(abs(i - j)) for j in range(n)] for i in range(n)]},
        "options": {"objective": "min_max", "time_limit": 1},
    }


def changed(change) -> dict:
    doc = base()
    change(doc)
    return doc


def constraint(doc: dict, kind: str, items: list, key: str = "items") -> None:
    doc.setdefault("constraints", []).append({"kind": kind, key: items})


def add_van(doc: dict, **extra) -> None:
    """A third agent of type van, whose arcs cost twice a truck's."""
    doc["agents"].append({"id": 2, "type": "van", "start_node": 0, "end_node": 0, **extra})
    doc["costs"]["van"] = [[2 * c for c in row] for row in doc["costs"]["truck"]]


W, E = "warning", "error"
REFUSES = "the solver refuses the document"
NO_SOLUTION = "the instance has no solution"

CASES = {
    # objective and node type names
    "objective minmax": (
        lambda d: d["options"].update(objective="minmax"),
        [(W, "options.objective", '"minmax" is not an objective name; the solver reads it as min_sum (use "min_max")')],
    ),
    "objective MinMax": (
        lambda d: d["options"].update(objective="MinMax"),
        [(W, "options.objective", '"MinMax" is not an objective name; the solver reads it as min_sum (use "min_max")')],
    ),
    "objective unrelated": (
        lambda d: d["options"].update(objective="fastest"),
        [
            (
                W,
                "options.objective",
                '"fastest" is not an objective name; the solver reads it as min_sum (use "min_max" or "min_sum")',
            )
        ],
    ),
    "node type": (
        lambda d: d["nodes"][2].update(type="warehouse"),
        [
            (
                W,
                "nodes[2].type",
                '"warehouse" is not a node type; the solver reads it as target (use "depot" or "target")',
            )
        ],
    ),
    "depot nobody uses": (
        lambda d: d["nodes"][3].update(type="depot"),
        [
            (
                W,
                "nodes[3].type",
                '"depot", but no agent starts or ends at node 3; the solver treats it as a target '
                "every solution must visit",
            )
        ],
    ),
    "start at a target": (
        lambda d: d["agents"][1].update(start_node=3, end_node=3),
        [
            (
                W,
                "agents[1].start_node",
                'node 3 is a target node (its "type" is not "depot"); the solver treats it as '
                "a depot that no agent serves",
            ),
            (
                W,
                "agents[1].end_node",
                'node 3 is a target node (its "type" is not "depot"); the solver treats it as a '
                "depot that no agent serves",
            ),
        ],
    ),
    # constraints the solver skips or ignores
    "constraint kind": (
        lambda d: constraint(d, "Assignment", [{"node": 1, "types": ["truck"]}]),
        [
            (
                W,
                "constraints[0].kind",
                '"Assignment" is not a constraint kind; the solver skips this constraint (use "assignment")',
            )
        ],
    ),
    "constraint without items": (
        lambda d: d.update(constraints=[{"kind": "timewindow"}]),
        [(W, "constraints[0]", 'a "timewindow" constraint without "items"; the solver skips it')],
    ),
    "assignment to an unknown node": (
        lambda d: constraint(d, "assignment", [{"node": 99, "types": ["truck"]}]),
        [(W, "constraints[0].items[0].node", "99 is not a node id; the solver ignores this assignment")],
    ),
    "assignment naming an unknown type": (
        lambda d: constraint(d, "assignment", [{"node": 2, "types": ["bike", "truck"]}]),
        [(W, "constraints[0].items[0].types[0]", '"bike" is not the type of any agent; the solver ignores it')],
    ),
    "assignment replaced": (
        lambda d: constraint(d, "assignment", [{"node": 2, "types": ["truck"]}, {"node": 2, "types": ["truck"]}]),
        [
            (
                W,
                "constraints[0].items[1].node",
                "node 2 already has an assignment (constraints[0].items[0]); this one replaces it",
            )
        ],
    ),
    "window on an unknown node": (
        lambda d: constraint(d, "timewindow", [{"node": 7, "start": 0, "end": 9}]),
        [(W, "constraints[0].items[0].node", "7 is not a node id; the solver ignores this window")],
    ),
    "window replaced": (
        lambda d: constraint(d, "timewindow", [{"node": 2, "start": 0, "end": 9}, {"node": 2, "start": 0, "end": 8}]),
        [
            (
                W,
                "constraints[0].items[1].node",
                "node 2 already has a window (constraints[0].items[0]); this one replaces it",
            )
        ],
    ),
    # carried, not enforced
    "precedence": (
        lambda d: constraint(d, "sequence", [{"before": 3, "after": 1}], key="precedence"),
        [
            (
                W,
                "constraints[0].precedence",
                'precedence is carried but not enforced; routes may visit an "after" node before its "before" node',
            )
        ],
    ),
    "precedence type": (
        lambda d: constraint(d, "sequence", [{"before": 3, "after": 1, "type": "SAME"}], key="precedence"),
        [
            (
                W,
                "constraints[0].precedence[0].type",
                '"SAME" is not a precedence type; the solver reads it as plain precedence (use "same")',
            ),
            (
                W,
                "constraints[0].precedence",
                'precedence is carried but not enforced; routes may visit an "after" node before its "before" node',
            ),
        ],
    ),
    "top-level precedence": (
        lambda d: d.update(precedence=[{"before": 3, "after": 1}]),
        [
            (
                W,
                "precedence",
                'ignored at the top level; the solver reads precedence pairs only from the "precedence" '
                'list of a "sequence" constraint',
            )
        ],
    ),
    "demand": (
        lambda d: d["nodes"][1].update(demand=4),
        [(W, "nodes[1].demand", "demands are carried but not enforced; no route is restricted by them")],
    ),
    "capacity": (
        lambda d: d["agents"][0].update(capacity=15.9),
        [
            (W, "agents[0].capacity", '15.9 is cut to 15 (the solver reads "capacity" as a 32-bit integer)'),
            (W, "agents[0].capacity", "capacities are carried but not enforced; no route is restricted by them"),
        ],
    ),
    # 32-bit limits
    "max_length truncated": (
        lambda d: d["agents"][0].update(max_length=126.9),
        [
            (
                W,
                "agents[0].max_length",
                '126.9 is cut to 126 (the solver reads "max_length" as a 32-bit integer); '
                "routes costing more than 126 are refused",
            )
        ],
    ),
    "max_length wraps": (
        lambda d: d["agents"][0].update(max_length=4294967296),
        [(W, "agents[0].max_length", "4294967296 does not fit a 32-bit integer; the solver reads it as 0")],
    ),
    "max_length negative": (
        lambda d: d["agents"][0].update(max_length=-5),
        [(W, "agents[0].max_length", "-5 is below 0; the solver reads it as no limit (0 means none)")],
    ),
    # ids
    "duplicate node id": (
        lambda d: d["nodes"][3].update(id=2),
        [
            (
                W,
                "nodes[3].id",
                "2 is already the id of nodes[2]; the solver keeps both nodes (routes may list 2 twice), "
                "and references to 2 mean the last one",
            )
        ],
    ),
    "duplicate agent id": (
        lambda d: d["agents"][1].update(id=0),
        [(W, "agents[1].id", "0 is already the id of agents[0]; the solver plans both agents")],
    ),
    "duplicate agent id of another type": (
        lambda d: (add_van(d), d["agents"][2].update(id=0)),
        [
            (W, "agents[2].id", "0 is already the id of agents[0]; the solver plans both agents"),
            (
                W,
                "agents[0].type",
                '"truck" is overridden: agents sharing the id 0 all take the type "van" of the last one',
            ),
        ],
    ),
    "id above 2^64 - 1": (
        lambda d: d["nodes"][3].update(id=2**64),
        [(W, "nodes[3].id", "18446744073709551616 is above 2^64 - 1; the solver reads it as 18446744073709551615")],
    ),
    "negative id": (
        lambda d: d["nodes"][3].update(id=-1),
        [(W, "nodes[3].id", "-1 is negative; the solver reads it as 18446744073709551615")],
    ),
    "fractional id": (
        lambda d: d["nodes"][3].update(id=3.7),
        [(W, "nodes[3].id", "3.7 is not an integer; the solver reads it as 3")],
    ),
    "boolean id": (
        lambda d: d["agents"][1].update(id=True),
        [(W, "agents[1].id", "true is a boolean; the solver reads it as 1")],
    ),
    # costs
    "no costs": (
        lambda d: d.pop("costs"),
        [(W, "costs", "missing; every arc costs 9999.0 (the solver's cost of a missing arc)")],
    ),
    "short matrix": (
        lambda d: d["costs"]["truck"].pop(),
        [(W, "costs.truck", "3 rows for 4 nodes; the arcs from the missing rows cost 9999.0")],
    ),
    "short row": (
        lambda d: d["costs"]["truck"][1].pop(),
        [(W, "costs.truck[1]", "3 columns for 4 nodes; the arcs to the missing columns cost 9999.0")],
    ),
    "type without a matrix": (
        lambda d: (add_van(d), d["costs"].pop("van")),
        [(W, "costs.van", 'missing: no matrix for agent type "van"; every arc of its agents costs 9999.0')],
    ),
    "negative cost": (
        lambda d: d["costs"]["truck"][1].__setitem__(2, -1.5),
        [
            (
                W,
                "costs.truck[1][2]",
                "-1.5 is negative; the search's bounds assume costs of at least 0 and may cut off better routes",
            )
        ],
    ),
    "missing-arc cost": (
        lambda d: d["costs"]["truck"][1].__setitem__(2, 9999),
        [(W, "costs.truck[1][2]", "9999 is 9999 or more; the solver's bounds treat such an arc as missing")],
    ),
    # sections in other shapes
    "unknown key": (
        lambda d: d["agents"][0].update(max_lenght=50),
        [(W, "agents[0].max_lenght", 'not a key the solver reads in an agent; ignored (did you mean "max_length"?)')],
    ),
    "nodes as an object": (
        lambda d: d.update(nodes={str(i): n for i, n in enumerate(d["nodes"])}),
        [(W, "nodes", "an object, not an array; the solver reads its values in key order")],
    ),
    "constraints null": (
        lambda d: d.update(constraints=None),
        [(W, "constraints", "null; the solver reads it as an empty list")],
    ),
    "negative improve_iterations": (
        lambda d: d["options"].update(improve=True, improve_iterations=-3),
        [(W, "options.improve_iterations", "-3 is below 0; the solver reads it as no cap (0 means none)")],
    ),
    "small budget at 256 nodes": (
        lambda d: d.update(changed_size(256), options={"time_limit": 0.5}),
        [
            (
                W,
                "options.time_limit",
                "a budget of 0.5 s for 256 nodes; the search may not reach a first solution in "
                "time (allow at least 4.7 s)",
            )
        ],
    ),
    # instances without a solution
    "empty assignment": (
        lambda d: constraint(d, "assignment", [{"node": 2, "types": []}]),
        [(W, "constraints[0].items[0].types", f"empty; no agent may serve node 2, so {NO_SOLUTION}")],
    ),
    "assignment to a type no agent has": (
        lambda d: constraint(d, "assignment", [{"node": 2, "types": ["bike"]}]),
        [
            (
                W,
                "constraints[0].items[0].types",
                f'names only "bike", which no agent has; no agent may serve node 2, so {NO_SOLUTION}',
            )
        ],
    ),
    "inverted window": (
        lambda d: constraint(d, "timewindow", [{"node": 2, "start": 50, "end": 20}]),
        [
            (
                W,
                "constraints[0].items[0]",
                "the window of node 2 opens at 50, after it closes at 20; the solver requires "
                "arrival by 20 and then waits until 50",
            )
        ],
    ),
    "window closes before arrival": (
        lambda d: constraint(d, "timewindow", [{"node": 3, "start": 0, "end": 1}]),
        [
            (
                W,
                "constraints[0].items[0].end",
                f"the window of node 3 closes at 1, but no agent that may serve it arrives before 3; {NO_SOLUTION}",
            )
        ],
    ),
    "limit below the round trip": (
        lambda d: [a.update(max_length=5) for a in d["agents"]],
        [
            (
                W,
                "nodes[3]",
                "the round trip to node 3 costs at least 6, above the max_length of every agent that may "
                f"serve it (agents[0] 5, agents[1] 5); {NO_SOLUTION}",
            )
        ],
    ),
    "limit met only by a detour": (
        lambda d: (
            [a.update(max_length=6) for a in d["agents"]],
            d["costs"]["truck"][0].__setitem__(3, 10.0),
            d["costs"]["truck"][3].__setitem__(0, 10.0),
        ),
        [],
    ),
    "window and limit together": (
        lambda d: (
            add_van(d),
            d["agents"].pop(1),
            d["agents"][0].update(max_length=5),
            constraint(d, "timewindow", [{"node": 3, "start": 0, "end": 5}]),
        ),
        [
            (
                W,
                "nodes[3]",
                "no agent can serve node 3 (agents[1] arrives at 6, after the window closes at 5; "
                "agents[0] needs at least 6 for the round trip, above its max_length 5); "
                f"{NO_SOLUTION}",
            )
        ],
    ),
    "no agents": (
        lambda d: (d.update(agents=[]), d.pop("costs"), d["nodes"][0].pop("type")),
        [(W, "agents", f"empty; no agent serves the 4 target nodes, so {NO_SOLUTION}")],
    ),
    "budget not above 0": (
        lambda d: d["options"].update(time_limit=0),
        [(W, "options.time_limit", "0 is not above 0; the search stops before its first solution")],
    ),
    # documents the solver refuses, each for one reason only
    "agents missing": (lambda d: d.pop("agents"), [(E, "agents", "required key is missing; " + REFUSES)]),
    "nodes missing": (lambda d: d.pop("nodes"), [(E, "nodes", "required key is missing; " + REFUSES)]),
    "string node id": (
        lambda d: d["nodes"][3].update(id="3"),
        [(E, "nodes[3].id", "expected a number, got string; " + REFUSES)],
    ),
    "agent without a type": (
        lambda d: d["agents"][0].pop("type"),
        [(E, "agents[0].type", "required key is missing; " + REFUSES)],
    ),
    "missing key": (lambda d: d["nodes"][2].pop("y"), [(E, "nodes[2].y", "required key is missing; " + REFUSES)]),
    "wrong type": (
        lambda d: d["nodes"][2].update(x="3"),
        [(E, "nodes[2].x", "expected a number, got string; " + REFUSES)],
    ),
    "return_to_end as a number": (
        lambda d: d["options"].update(return_to_end=0),
        [(E, "options.return_to_end", "expected a boolean, got number; " + REFUSES)],
    ),
    "options as an array": (
        lambda d: d.update(options=[]),
        [(E, "options", "expected an object, got array; " + REFUSES)],
    ),
    "seed below 0": (
        lambda d: d["options"].update(seed=-1),
        [(E, "options.seed", "-1 is not an unsigned 64-bit integer; " + REFUSES)],
    ),
    "threads below 0": (
        lambda d: d["options"].update(threads=-1),
        [(E, "options.threads", "-1 is not an unsigned 32-bit integer; " + REFUSES)],
    ),
    "threads beyond 32 bits": (
        lambda d: d["options"].update(threads=2**32),
        [(E, "options.threads", "4294967296 is not an unsigned 32-bit integer; " + REFUSES)],
    ),
    "fractional improve_iterations": (
        lambda d: d["options"].update(improve_iterations=1.5),
        [(E, "options.improve_iterations", "1.5 is not an integer; " + REFUSES)],
    ),
    "not a number": (
        lambda d: d["costs"]["truck"][0].__setitem__(1, float("nan")),
        [(E, "costs.truck[0][1]", "NaN is not a JSON number; the solver's parser refuses the document")],
    ),
    "257 nodes": (
        lambda d: d.update(changed_size(257)),
        [(E, "nodes", "257 nodes; the solver handles at most 256 (up to 2000 with options.improve true)")],
    ),
    "unknown start node": (
        lambda d: d["agents"][0].update(start_node=99),
        [(E, "agents[0].start_node", "99 is not a node id; the solver refuses the instance")],
    ),
    "matrix for an unknown type": (
        lambda d: d["costs"].update(bike=[[0.0]]),
        [(E, "costs.bike", '"bike" is not the type of any agent; the solver refuses the instance')],
    ),
    "matrices as an array": (
        lambda d: d.update(costs=[d["costs"]["truck"]]),
        [
            (
                E,
                "costs[0]",
                'an array of matrices names them "0", "1", ...; "0" is not the type of any agent; the solver '
                "refuses the instance",
            ),
            (W, "costs.truck", 'missing: no matrix for agent type "truck"; every arc of its agents costs 9999.0'),
        ],
    ),
    "matrix too large": (
        lambda d: d["costs"]["truck"].append([0.0] * 4),
        [(E, "costs.truck", "5 rows but the instance has 4 nodes; the solver refuses the instance")],
    ),
    "row too long": (
        lambda d: d["costs"]["truck"][2].append(0.0),
        [(E, "costs.truck[2]", "5 columns but the instance has 4 nodes; the solver refuses the instance")],
    ),
}


def changed_size(n: int) -> dict:
    doc = base(n)
    return {"nodes": doc["nodes"], "costs": doc["costs"]}


def test_the_base_instance_and_the_examples_have_no_findings():
    assert check_instance(base()) == []
    for path in sorted(EXAMPLES.glob("*.json")):
        if not path.name.endswith(".solution.json"):
            assert check_instance(json.loads(path.read_text())) == [], path.name


@pytest.mark.parametrize("name", sorted(CASES))
def test_each_finding_names_its_path_and_what_the_solver_does(name):
    change, expected = CASES[name]
    found = check_instance(changed(change))
    assert [(f.severity, f.path, f.message) for f in found] == expected
    assert all(isinstance(f, Finding) and f.code for f in found)


@pytest.mark.parametrize("name", sorted(CASES))
def test_errors_are_exactly_the_documents_the_solver_refuses(name):
    change, expected = CASES[name]
    text = json.dumps(changed(change))
    refused = any(severity == E for severity, _, _ in expected)
    try:
        result = core.solve_json_str(text, 0.05)
    except (RuntimeError, ValueError, IndexError):
        assert refused, f"the solver refused {name}"
    else:
        assert not refused, f"the solver accepted {name}"
        if any(f.infeasible for f in check_instance(json.loads(text), time_limit=0.05)):
            assert result["status"] == "failed"


# --- capacities and precedence pairs --------------------------------------------------------------------


def enforcing(*keys: str):
    """A change that gives nodes 1-3 demands 2, 3, 4, the trucks capacity 5, and turns `keys` on."""

    def change(doc: dict, extra) -> None:
        for node, demand in zip(doc["nodes"][1:], (2, 3, 4)):
            node["demand"] = demand
        for agent in doc["agents"]:
            agent["capacity"] = 5
        doc["options"].update({"improve": True, **{key: True for key in keys}})
        extra(doc)

    return lambda extra: lambda d: change(d, extra)


CAP = enforcing("enforce_capacity")
PRE = enforcing("enforce_capacity", "enforce_precedence")
PAIRS = "constraints[0].precedence"


def pairs(*items: dict):
    return lambda d: constraint(d, "sequence", list(items), key="precedence")


NOT_ENFORCED = (
    "demands are carried but not enforced; no route is restricted by them",
    "capacities are carried but not enforced; no route is restricted by them",
)

RULE_CASES = {
    "capacity on: no carried-only warnings": (CAP(lambda d: None), []),
    "capacity off: the carried-only warnings": (
        enforcing()(lambda d: None),
        [(W, f"nodes[{j}].demand", NOT_ENFORCED[0]) for j in (1, 2, 3)]
        + [(W, f"agents[{k}].capacity", NOT_ENFORCED[1]) for k in (0, 1)],
    ),
    "enforce without improve": (
        CAP(lambda d: d["options"].update(improve=False)),
        [
            (
                E,
                "options.enforce_capacity",
                "true needs options.improve true (the rule is enforced by the improvement engine); " + REFUSES,
            )
        ],
    ),
    "enforce not a boolean": (
        CAP(lambda d: d["options"].update(enforce_capacity="yes")),
        [(W, f"nodes[{j}].demand", NOT_ENFORCED[0]) for j in (1, 2, 3)]
        + [(W, f"agents[{k}].capacity", NOT_ENFORCED[1]) for k in (0, 1)]
        + [(E, "options.enforce_capacity", "expected a boolean, got string; " + REFUSES)],
    ),
    "negative demand": (
        CAP(lambda d: d["nodes"][2].update(demand=-1)),
        [(E, "nodes[2].demand", "-1 is negative; with enforce_capacity on the solver refuses the instance")],
    ),
    "demand above every allowed capacity": (
        CAP(
            lambda d: (
                add_van(d, capacity=9),
                d["nodes"][3].update(demand=7),
                constraint(d, "assignment", [{"node": 3, "types": ["truck"]}]),
            )
        ),
        [
            (
                W,
                "nodes[3].demand",
                "7 is above the capacity of every agent that may serve node 3 (at most 5); " + NO_SOLUTION,
            )
        ],
    ),
    "demand above capacity, an unlimited agent may serve": (
        CAP(lambda d: (add_van(d), d["nodes"][3].update(demand=7))),
        [],
    ),
    "total demand above total capacity": (
        CAP(lambda d: d["nodes"][1].update(demand=4.5)),
        [
            (
                W,
                "agents",
                "the targets' demands add up to 11.5, above the 10 that the capacities of the agents that may "
                "serve them hold together; " + NO_SOLUTION,
            )
        ],
    ),
    "demand of the targets only one type may serve above its capacity": (
        CAP(
            lambda d: (
                add_van(d),
                d["nodes"][2].update(demand=5),
                d["nodes"][3].update(demand=5),
                constraint(d, "assignment", [{"node": 2, "types": ["truck"]}, {"node": 3, "types": ["truck"]}]),
                d["agents"][0].update(capacity=4),
            )
        ),
        [
            (
                W,
                "agents",
                'the targets that only agents of type "truck" may serve demand 10 in all, above the 9 that '
                "the capacities of those agents hold together; " + NO_SOLUTION,
            )
        ],
    ),
    "precedence off: the carried-only warning": (
        pairs({"before": 1, "after": 2}),
        [
            (
                W,
                PAIRS,
                'precedence is carried but not enforced; routes may visit an "after" node before its "before" node',
            )
        ],
    ),
    "precedence on: no carried-only warning": (PRE(pairs({"before": 1, "after": 2, "type": "same"})), []),
    "pair names an unknown node": (
        PRE(pairs({"before": 1, "after": 2}, {"before": 9, "after": 2})),
        [
            (
                E,
                f"{PAIRS}[1].before",
                "9 is not a node id; with enforce_precedence on the solver refuses the instance",
            )
        ],
    ),
    "pair names a depot": (
        PRE(pairs({"before": 1, "after": 0, "type": "diff"})),
        [
            (
                E,
                f"{PAIRS}[0].after",
                "node 0 is an agent's start or end node; with enforce_precedence on the solver refuses the instance",
            )
        ],
    ),
    "pair names one node twice": (
        PRE(pairs({"before": 3, "after": 3})),
        [(E, f"{PAIRS}[0]", "names node 3 twice; with enforce_precedence on the solver refuses the instance")],
    ),
    "cycle of plain and diff pairs": (
        PRE(
            pairs(
                {"before": 1, "after": 2, "type": "same"},
                {"before": 2, "after": 3},
                {"before": 3, "after": 1, "type": "diff"},
                {"before": 1, "after": 2},
            )
        ),
        [
            (
                W,
                f"{PAIRS}[1]",
                "the pairs (2, 3), (3, 1), (1, 2) form a cycle: they hold only when nodes 2, 3, 1 are all served at "
                "the same time",
            )
        ],
    ),
    "same pairs alone make no cycle": (
        PRE(pairs({"before": 1, "after": 2, "type": "same"}, {"before": 2, "after": 1})),
        [],
    ),
    "same pair no type may serve whole": (
        PRE(
            lambda d: (
                add_van(d),
                constraint(d, "assignment", [{"node": 1, "types": ["truck"]}, {"node": 2, "types": ["van"]}]),
                pairs({"before": 1, "after": 2, "type": "same"}, {"before": 1, "after": 3, "type": "same"})(d),
            )
        ),
        [
            (
                W,
                "constraints[1].precedence[0]",
                'no agent type may serve both node 1 ("truck") and node 2 ("van"), which one agent must serve; '
                + NO_SOLUTION,
            )
        ],
    ),
}
ENGINE_ENFORCES = hasattr(core.Options(), "enforce_capacity")


@pytest.mark.parametrize("name", sorted(RULE_CASES))
def test_rule_findings_name_their_path(name):
    change, expected = RULE_CASES[name]
    found = check_instance(changed(change))
    assert [(f.severity, f.path, f.message) for f in found] == expected


@pytest.mark.skipif(not ENGINE_ENFORCES, reason="this build's engine does not enforce capacities and pairs")
@pytest.mark.parametrize("name", sorted(RULE_CASES))
def test_rule_errors_are_exactly_the_documents_the_solver_refuses(name):
    change, expected = RULE_CASES[name]
    text = json.dumps(changed(change))
    refused = any(severity == E for severity, _, _ in expected)
    try:
        result = core.solve_json_str(text, 0.2)
    except (RuntimeError, ValueError, IndexError):
        assert refused, f"the solver refused {name}"
    else:
        assert not refused, f"the solver accepted {name}"
        if any(f.infeasible for f in check_instance(json.loads(text))):
            assert result["status"] == "failed"


def test_every_code_is_documented_and_has_a_case():
    cases = list(CASES.values()) + list(RULE_CASES.values())
    codes = {f.code for change, _ in cases for f in check_instance(changed(change))}
    documented = set(re.findall(r"^\| `([a-z0-9_]+)` \| (?:error|warning)", DOCUMENT.read_text(), re.M))
    assert codes == documented
    assert INFEASIBLE <= codes


def test_the_document_names_every_key_the_reader_reads():
    instance_part, _ = DOCUMENT.read_text().split("## The result dictionary")
    assert table_keys(instance_part) == READER_KEYS


def table_keys(text: str) -> set[str]:
    return set(re.findall(r"^\| \"([^\"]+)\" \|", text, re.M))


def test_the_document_names_every_key_of_the_result_dictionary():
    result = core.solve_json_file(str(EXAMPLES / "two_types.json"), 0.2)
    keys = set(result) | set(result["routes"][0]) | set(result["statistics"]) | set(result["anytime"][0])
    # With the improvement phase on, its counts join the statistics.
    doc = json.loads((EXAMPLES / "two_types.json").read_text())
    doc.setdefault("options", {}).update(improve=True, improve_iterations=20)
    keys |= set(core.solve_json_str(json.dumps(doc), 0.2)["statistics"])
    result_part = DOCUMENT.read_text().split("## The result dictionary")[1].split("## Console lines")[0]
    documented = table_keys(result_part) | set(re.findall(r"\"(time|max_cost|sum_cost)\" \(", result_part))
    assert documented == keys


def test_a_budget_given_to_the_solve_replaces_the_documents():
    doc = base()
    doc["options"]["time_limit"] = 0
    assert check_instance(doc, time_limit=2.0) == []
    large = base(256)
    assert [(f.severity, f.path, f.message) for f in check_instance(large, time_limit=0.5)] == [
        (
            W,
            "",
            "a budget of 0.5 s for 256 nodes; the search may not reach a first solution in time (allow at least 4.7 s)",
        )
    ]
    assert check_instance(large, time_limit=5.0) == []


@pytest.mark.parametrize(
    "value, read",
    [
        (True, 1),
        (3.7, 3),
        (-0.5, 0),
        (-2, 2**64 - 2),
        (-(2**63), 2**63),
        (-(2**63) - 1, 0),
        (2**64 - 1, 2**64 - 1),
        (2**64, 2**64 - 1),
        (1e30, 2**64 - 1),
    ],
)
def test_ids_are_read_as_the_solver_reads_them(value, read):
    doc = base()
    doc["nodes"][0]["id"] = 7  # the depot out of the way of the ids under test
    for agent in doc["agents"]:
        agent["start_node"] = agent["end_node"] = 7
    doc["agents"].pop()
    doc["nodes"][2]["id"] = value
    result = core.solve_json_str(json.dumps(doc), 0.2)
    visited = {v for route in result["routes"] for v in route["path"]}
    assert visited == {7, 1, read, 3}
    assert [n.id for n in Instance.from_document(doc).nodes] == [7, 1, read, 3]


@pytest.mark.parametrize(
    "value, read",
    [
        (126.9, 126),
        (-3.5, -3),
        (2**31, -(2**31)),
        (2**32 + 5, 5),
        (3e9, 2**31 - 1),
        (-3e9, -(2**31)),
        (2**70, 2**31 - 1),
        (True, 1),
    ],
)
def test_limits_are_read_as_32_bit_integers(value, read):
    doc = base()
    doc["agents"][0]["max_length"] = value
    assert Instance.from_document(doc).agents[0].max_length == read


# --- grouping and console text ------------------------------------------------------------------------


def test_many_alike_become_one_line_with_a_count():
    doc = base(8)
    for node in doc["nodes"][1:]:
        node["demand"] = 1
    doc["options"]["objective"] = "minmax"
    lines = summarise(check_instance(doc))
    assert lines == [
        "nodes[1].demand: demands are carried but not enforced; no route is restricted by them (and 6 more like it)",
        'options.objective: "minmax" is not an objective name; the solver reads it as min_sum (use "min_max")',
    ]
    assert len(summarise(check_instance(doc)[:3])) == 3


def test_console_lines_without_assignment_become_one():
    text = (
        "[warning] node 0 has no assignment constraint; allowing all types\n"
        "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n"
        "[warning] node 1 has no assignment constraint; allowing all types\n"
        "[warning] node 2 has no assignment constraint; allowing all types\n"
        "w = 1\n"
    )
    assert summarise_console(text) == (
        "[warning] node 0 has no assignment constraint; allowing all types (and 2 more nodes without one)\n"
        "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n"
        "w = 1\n"
    )
    one = "[warning] node 5 has no assignment constraint; allowing all types\nw = 1\n"
    assert summarise_console(one) == one


# --- the command line ---------------------------------------------------------------------------------


def run(*args, timeout=120):
    return subprocess.run([str(SCRIPT)] + [str(a) for a in args], capture_output=True, text=True, timeout=timeout)


def write(tmp_path, doc, name="doc.json") -> pathlib.Path:
    path = tmp_path / name
    path.write_text(json.dumps(doc))
    return path


@pytest.mark.parametrize(
    "change, status",
    [
        (lambda d: None, 0),
        (lambda d: d["options"].update(objective="minmax"), 1),
        (lambda d: d["agents"][0].update(start_node=99), 2),
    ],
)
def test_check_command_exit_status(tmp_path, change, status):
    path = write(tmp_path, changed(change))
    proc = run("check", path)
    assert proc.returncode == status, proc.stderr
    expected = [f"{path}: {f.severity}: {f}" for f in check_instance(changed(change))]
    counts = {0: "no findings", 1: "1 warning", 2: "1 error"}[status]
    assert proc.stdout.splitlines() == expected + [f"{path}: {counts}"]
    assert proc.stderr == ""


@pytest.mark.parametrize(
    "text, reason",
    [
        ("{", "malformed JSON: Expecting property name enclosed in double quotes (line 1, column 2)"),
    ],
)
def test_check_command_on_unreadable_files(tmp_path, text, reason):
    path = tmp_path / "bad.json"
    path.write_text(text)
    proc = run("check", path)
    assert (proc.returncode, proc.stdout) == (2, "")
    assert proc.stderr == f"kvt-mtsp: error: {path}: {reason}\n"
    missing = run("check", tmp_path / "none.json")
    assert missing.returncode == 2 and missing.stderr == f"kvt-mtsp: error: {tmp_path / 'none.json'}: no such file\n"


def test_solve_prints_the_warnings_first_also_without_verbose(tmp_path):
    doc = base(8)
    for node in doc["nodes"][1:]:
        node["demand"] = 1
    doc["options"]["objective"] = "minmax"
    proc = run("solve", write(tmp_path, doc), "-q", "--time-limit", "0.5")
    assert proc.returncode == 0, proc.stderr
    assert proc.stderr.splitlines() == [
        "kvt-mtsp: warning: nodes[1].demand: demands are carried but not enforced; no route is restricted by them "
        "(and 6 more like it)",
        'kvt-mtsp: warning: options.objective: "minmax" is not an objective name; the solver reads it as min_sum '
        '(use "min_max")',
    ]


def test_verbose_shows_one_line_for_the_nodes_without_assignment():
    proc = run("solve", EXAMPLES / "euclid_one_type.json", "-q", "--verbose", "--time-limit", "0.2")
    assert proc.returncode == 0, proc.stderr
    lines = [line for line in proc.stderr.splitlines() if "no assignment constraint" in line]
    assert lines == [
        "[warning] node 0 has no assignment constraint; allowing all types (and 14 more nodes without one)"
    ]


INFEASIBLE_CASES = [
    "empty assignment",
    "assignment to a type no agent has",
    "window closes before arrival",
    "limit below the round trip",
    "window and limit together",
    "budget not above 0",
]


@pytest.mark.parametrize("name", INFEASIBLE_CASES)
def test_a_failed_solve_says_why(tmp_path, name):
    change, expected = CASES[name]
    doc = changed(change)
    doc["options"]["improve"] = False
    proc = run("solve", write(tmp_path, doc), "-q")
    assert proc.returncode == 1, proc.stderr
    assert "no solution found" in proc.stdout
    reasons = [line for line in proc.stderr.splitlines() if line.startswith("kvt-mtsp: no solution: ")]
    assert reasons == [f"kvt-mtsp: no solution: {path}: {message}" for _, path, message in expected]


def test_a_budget_that_runs_out_first_is_named_with_a_suggestion(tmp_path):
    doc = base(256)
    doc["options"] = {"time_limit": 0.01, "improve": False}
    proc = run("solve", write(tmp_path, doc), "-q")
    assert proc.returncode == 1, proc.stderr
    reasons = [line for line in proc.stderr.splitlines() if line.startswith("kvt-mtsp: no solution: ")]
    assert len(reasons) == 1
    assert re.fullmatch(
        r"kvt-mtsp: no solution: the budget of 0\.01 s ran out before a first solution \(the solve "
        r"took \d+\.\d\d s for 256 nodes and 2 agents\); raise the time limit \(--time-limit, or "
        r"options\.time_limit\), e\.g\. to 4\.7 s",
        reasons[0],
    ), reasons[0]


# --- the bundled solutions ------------------------------------------------------------------------------

INSTANCES = sorted(p for p in EXAMPLES.glob("*.json") if not p.name.endswith(".solution.json"))


@pytest.mark.parametrize("path", INSTANCES, ids=lambda p: p.stem)
def test_each_example_has_a_solution_that_still_validates(path):
    solution = path.with_name(path.stem + ".solution.json")
    result = json.loads(solution.read_text())
    assert result["status"] == "success"
    assert validate_result(Instance.from_document(json.loads(path.read_text())), result) == []


def test_improve_raises_the_node_limit_to_2000():
    doc = changed(lambda d: (d.update(changed_size(257)), d["options"].update(improve=True)))
    assert [f for f in check_instance(doc) if f.code == "too_many_nodes"] == []
