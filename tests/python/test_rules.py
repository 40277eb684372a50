"""Capacities and precedence pairs that the routes obey (`Options.enforce_capacity`,
`Options.enforce_precedence`): the set-up's refusals, and the engine's routes on tiny instances against
an exhaustive search."""

from __future__ import annotations

import itertools
import json
import math
import random

import pytest

import _kvt_core as core

KINDS = {"precedence": "", "precedence_same": "same", "precedence_diff": "diff"}


def tiny(n=6, agents=2, seed=1, objective="min_sum", capacity=0, demands=None, pairs=(), **options):
    """A depot (id 0) and n - 1 targets (ids 1..), identical agents at the depot; `pairs` as
    (list name, before id, after id)."""
    rng = random.Random(seed)
    points = [(rng.randint(0, 60), rng.randint(0, 60)) for _ in range(n)]
    demands = demands or [0] + [rng.randint(1, 9) for _ in range(n - 1)]
    doc = {
        "nodes": [
            {"id": i, "x": x, "y": y, "demand": demands[i], **({"type": "depot"} if i == 0 else {})}
            for i, (x, y) in enumerate(points)
        ],
        "agents": [
            {"id": 100 + k, "type": "truck", "start_node": 0, "end_node": 0, "capacity": capacity}
            for k in range(agents)
        ],
        "costs": {"truck": [[float(round(math.dist(a, b))) for b in points] for a in points]},
        "constraints": [
            {"kind": "assignment", "items": [{"node": i, "types": ["truck"]} for i in range(n)]},
            {
                "kind": "sequence",
                "precedence": [
                    {"before": b, "after": a, **({"type": KINDS[name]} if KINDS[name] else {})} for name, b, a in pairs
                ],
            },
        ],
        "options": {"objective": objective, "time_limit": 5.0, "improve": True, **options},
    }
    return doc


def solve(doc, budget=-1.0):
    return core.solve_json_str(json.dumps(doc), budget)


# --- the set-up's refusals -------------------------------------------------------------------------


def refused_cases():
    base = {"enforce_capacity": True, "enforce_precedence": True}
    return [
        (
            "capacity_without_improve",
            {"improve": False, "enforce_capacity": True},
            None,
            "options.enforce_capacity needs options.improve on",
        ),
        (
            "precedence_without_improve",
            {"improve": False, "enforce_precedence": True},
            None,
            "options.enforce_precedence needs options.improve on",
        ),
        (
            "negative_demand",
            base,
            lambda d: d["nodes"][3].update(demand=-2),
            "node 3 has a negative demand (-2); enforce_capacity needs demands of 0 or more",
        ),
        (
            "unknown_node",
            base,
            lambda d: pairs_of(d).append({"before": 1, "after": 77}),
            "precedence[1] names node id 77, which no node has",
        ),
        (
            "depot",
            base,
            lambda d: pairs_of(d).append({"before": 0, "after": 2, "type": "same"}),
            "precedence_same[0] names node id 0, a depot; pairs tie targets",
        ),
        (
            "twice",
            base,
            lambda d: pairs_of(d).append({"before": 4, "after": 4, "type": "diff"}),
            "precedence_diff[0] names node id 4 twice",
        ),
    ]


def pairs_of(doc):
    return doc["constraints"][1]["precedence"]


@pytest.mark.parametrize("name, options, change, text", refused_cases(), ids=[c[0] for c in refused_cases()])
def test_the_set_up_refuses(name, options, change, text):
    doc = tiny(pairs=[("precedence", 1, 2)])
    doc["options"].update(options)
    if change is not None:
        change(doc)
    with pytest.raises(ValueError) as caught:
        solve(doc, 0.1)
    assert str(caught.value) == text


@pytest.mark.parametrize(
    "change",
    [
        lambda d: d["nodes"][3].update(demand=-2),  # no rule reads demands
        lambda d: pairs_of(d).append({"before": 1, "after": 77}),  # nor pairs
    ],
)
def test_without_the_options_nothing_is_refused(change):
    doc = tiny(pairs=[("precedence", 1, 2)])
    change(doc)
    assert solve(doc, 0.2)["status"] == "success"


@pytest.mark.parametrize("name", ["enforce_capacity", "enforce_precedence"])
def test_options_default_off_and_take_booleans_only(name):
    options = core.Options()
    assert getattr(options, name) is False
    setattr(options, name, True)
    assert getattr(options, name) is True
    with pytest.raises(TypeError) as caught:
        setattr(options, name, "yes")
    assert str(caught.value) == f"Options.{name}: expected bool, got str"
    doc = tiny()
    doc["options"][name] = 1
    with pytest.raises(RuntimeError, match=r"type must be boolean, but is number"):
        solve(doc, 0.1)


def test_a_demand_above_every_capacity_fails():
    doc = tiny(capacity=10, demands=[0, 3, 11, 2, 2, 2], enforce_capacity=True)
    result = solve(doc, 0.5)
    assert result["status"] == "failed"
    assert all(route["path"] == [] for route in result["routes"])


# --- the engine against an exhaustive search --------------------------------------------------------


def served(doc, routes):
    """Per target: (agent index, position, served time) along node-id routes (start first)."""
    cost = doc["costs"]["truck"]
    out = {}
    for k, path in enumerate(routes):
        t = 0.0
        for p in range(1, len(path)):
            t += cost[path[p - 1]][path[p]]
            if p + 1 < len(path):
                out[path[p]] = (k, p, t)
    return out


def broken(doc, routes):
    """The first rule the routes break, or None."""
    capacity = {k: a["capacity"] for k, a in enumerate(doc["agents"])}
    demand = {n["id"]: n["demand"] for n in doc["nodes"]}
    for k, path in enumerate(routes):
        load = sum(demand[v] for v in path[1:-1])
        if doc["options"].get("enforce_capacity") and capacity[k] > 0 and load > capacity[k]:
            return f"agent {k} carries {load}"
    if doc["options"].get("enforce_precedence"):
        at = served(doc, routes)
        for item in pairs_of(doc):
            (rb, pb, tb), (ra, pa, ta) = at[item["before"]], at[item["after"]]
            kind = item.get("type", "")
            if kind == "same" and (rb != ra or pb >= pa):
                return f"same pair {item}"
            if kind == "diff" and rb == ra:
                return f"diff pair {item}"
            if kind != "same" and tb > ta + 1e-9:
                return f"pair {item} by time"
    return None


def route_cost(doc, path):
    cost = doc["costs"]["truck"]
    return sum(cost[a][b] for a, b in zip(path, path[1:]))


def optimum(doc):
    """The best objective over every way of giving the targets, in order, to the agents."""
    targets = [n["id"] for n in doc["nodes"] if n.get("type") != "depot"]
    m = len(doc["agents"])
    min_max = doc["options"]["objective"] == "min_max"
    best = math.inf
    for order in itertools.permutations(targets + [None] * (m - 1)):
        routes, current = [], [0]
        for v in order:
            if v is None:
                routes.append(current + [0])
                current = [0]
            else:
                current.append(v)
        routes.append(current + [0])
        if broken(doc, routes) is not None:
            continue
        costs = [route_cost(doc, r) for r in routes]
        value = max(costs) + 1e-6 * sum(costs) if min_max else sum(costs)
        best = min(best, value)
    return best


def tiny_cases():
    cases = []
    for seed in range(1, 5):
        for objective in ("min_sum", "min_max"):
            cases.append(
                (
                    f"capacity-{objective}-{seed}",
                    dict(seed=seed, objective=objective, capacity=14, enforce_capacity=True),
                )
            )
    pairs = [("precedence", 2, 1), ("precedence_same", 3, 5), ("precedence_diff", 4, 3)]
    for seed in range(1, 4):
        for objective in ("min_sum", "min_max"):
            cases.append(
                (
                    f"pairs-{objective}-{seed}",
                    dict(seed=seed, objective=objective, pairs=pairs, enforce_precedence=True),
                )
            )
            cases.append(
                (
                    f"both-{objective}-{seed}",
                    dict(
                        seed=seed,
                        objective=objective,
                        pairs=pairs[:2],
                        capacity=16,
                        enforce_capacity=True,
                        enforce_precedence=True,
                    ),
                )
            )
    return cases


@pytest.mark.parametrize("name, settings", tiny_cases(), ids=[c[0] for c in tiny_cases()])
def test_the_engine_finds_the_optimum_of_tiny_instances(name, settings):
    doc = tiny(n=6, agents=2, improve_iterations=300, **settings)
    best = optimum(doc)
    result = solve(doc, 10.0)
    if best == math.inf:
        assert result["status"] == "failed"
        return
    assert result["status"] == "success"
    routes = [r["path"] for r in result["routes"]]
    assert broken(doc, routes) is None
    for route, path in zip(result["routes"], routes):
        assert route["cost"] == pytest.approx(route_cost(doc, path))
    stats = result["statistics"]
    if doc["options"]["objective"] == "min_max":
        assert stats["max_cost"] == pytest.approx(math.floor(best), abs=1e-6)
    else:
        assert stats["sum_cost"] == pytest.approx(best)


def test_the_rules_bind_on_these_instances():
    """Without the options the same instances break the rules somewhere: the table above tests them."""
    binding = 0
    for _, settings in tiny_cases():
        doc = tiny(n=6, agents=2, improve_iterations=300, **settings)
        free = json.loads(json.dumps(doc))
        free["options"]["enforce_capacity"] = free["options"]["enforce_precedence"] = False
        routes = [r["path"] for r in solve(free, 10.0)["routes"]]
        binding += broken(doc, routes) is not None
    assert binding >= len(tiny_cases()) // 3


# --- construction on a tight fleet ---------------------------------------------------------------------

BIG = [99, 98, 96, 91, 89, 87, 86, 79, 74, 65, 62, 60]  # 986 of the 1239 the seven 131s and the 322 hold


def tight_fleet(seed):
    """Twelve large demands that fit the fleet only when one 131 truck takes two of 60, 62 and 65 and
    the 322 truck four of the middle ones: every cost-led insertion order leaves one out."""
    rng = random.Random(seed)
    small = [rng.randint(1, 10) for _ in range(40)]
    demands = [0] + BIG + small
    doc = tiny(n=len(demands), agents=0, seed=seed, demands=demands)
    caps = [131] * 7 + [322] + [54] * 4
    doc["agents"] = [
        {"id": k, "type": "truck", "start_node": 0, "end_node": 0, "capacity": c} for k, c in enumerate(caps)
    ]
    assert sum(demands) <= sum(caps)
    doc["options"].update(enforce_capacity=True, improve_iterations=1, seed=seed)
    return doc


@pytest.mark.parametrize("seed", range(4))
def test_a_tight_fleet_is_packed_by_the_construction(seed):
    # One iteration leaves no room for repairs: the construction alone routes every target.
    doc = tight_fleet(seed)
    result = solve(doc, 10.0)
    assert result["status"] == "success"
    routes = [r["path"] for r in result["routes"]]
    assert sorted(v for path in routes for v in path[1:-1]) == list(range(1, len(doc["nodes"])))
    assert broken(doc, routes) is None
