#!/usr/bin/env python3
"""Soak test: many small random instances through long-lived processes, with their memory.

Two phases (`make soak`; not part of CI):
1. `--batch` instances through `kvt_mtsp.batch.solve_many` on this machine's process pool;
   after every `--every` outcomes, the resident memory of this process and of its pool workers.
2. `--calls` instances through one `_kvt_core.Solver` per call in this process; after every
   `--every` solves, this process's resident memory.

Each phase prints its curve and the slope of a least-squares line through it (KiB per 1,000
solves, leaving out the first point, where allocators and caches still settle); a crash, an
exception or a result whose routes do not validate ends the run with status 1.
"""

from __future__ import annotations

import argparse
import os
import random
import sys

import _kvt_core as core
from kvt_mtsp.batch import solve_many
from kvt_mtsp.instance import Instance
from kvt_mtsp.validate import validate_result


def random_doc(rng: random.Random, index: int) -> dict:
    n = rng.randint(3, 14)
    m = rng.randint(1, 3)
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    cost = [[round(((a[0] - b[0]) ** 2 + (a[1] - b[1]) ** 2) ** 0.5, 2) for b in points] for a in points]
    constraints = []
    if rng.random() < 0.3:
        items = [{"node": i, "start": 0, "end": rng.uniform(150, 400)} for i in range(1, n) if rng.random() < 0.5]
        constraints.append({"kind": "timewindow", "items": items})
    improve = rng.random() < 0.5
    return {
        "name": f"soak-{index}",
        "nodes": [{"id": i, "x": x, "y": y} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "t", "start_node": 0, "end_node": 0} for k in range(m)],
        "costs": {"t": cost},
        "constraints": constraints,
        "options": {
            "objective": rng.choice(["min_max", "min_sum"]),
            "return_to_end": rng.random() < 0.8,
            "time_limit": 0.02,
            "improve": improve,
            "seed": rng.randrange(1 << 32),
            "improve_iterations": 40 if improve else 0,
        },
    }


def rss_kib(pid: int | str = "self") -> int:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def children(pid: int) -> list[int]:
    """Every process below `pid` (the pool's workers)."""
    out, todo = [], [pid]
    while todo:
        parent = todo.pop()
        try:
            with open(f"/proc/{parent}/task/{parent}/children") as f:
                kids = [int(k) for k in f.read().split()]
        except OSError:
            kids = []
        out.extend(kids)
        todo.extend(kids)
    return out


def slope(points: list[tuple[int, int]]) -> float:
    """KiB per 1,000 solves of a least-squares line, without the first point."""
    pts = points[1:] if len(points) > 2 else points
    if len(pts) < 2:
        return 0.0
    mx = sum(x for x, _ in pts) / len(pts)
    my = sum(y for _, y in pts) / len(pts)
    den = sum((x - mx) ** 2 for x, _ in pts)
    return 1000.0 * sum((x - mx) * (y - my) for x, y in pts) / den if den else 0.0


def check(doc: dict, result: dict) -> None:
    if result["status"] == "success":
        violations = validate_result(Instance.from_document(doc), result)
        if violations:
            raise SystemExit(f"{doc['name']}: {violations[0]}")


def batch_phase(count: int, every: int, workers: int | None) -> list[tuple[int, int, int]]:
    rng = random.Random(1)
    docs = [random_doc(rng, i) for i in range(count)]
    curve = []
    done = 0
    for outcome in solve_many(docs, workers=workers):
        if outcome.error is not None:
            raise SystemExit(f"{outcome.name}: {outcome.error}")
        check(docs[outcome.index], outcome.result)
        done += 1
        if done % every == 0:
            workers_rss = sum(rss_kib(pid) for pid in children(os.getpid()))
            curve.append((done, rss_kib(), workers_rss))
            print(f"batch {done:6d}: parent {curve[-1][1]} KiB, workers {workers_rss} KiB", flush=True)
    return curve


def solver_phase(count: int, every: int) -> list[tuple[int, int]]:
    rng = random.Random(2)
    curve = []
    for i in range(1, count + 1):
        doc = random_doc(rng, i)
        problem = core.Problem()
        for n in doc["nodes"]:
            node = core.Node()
            node.id, node.position.x, node.position.y = n["id"], n["x"], n["y"]
            problem.add_node(node)
        for a in doc["agents"]:
            agent = core.Agent()
            agent.id, agent.type, agent.start_node, agent.end_node = a["id"], a["type"], a["start_node"], a["end_node"]
            problem.add_agent(agent, a["id"])
        problem.set_cost_matrix("t", doc["costs"]["t"])
        options = core.Options()
        o = doc["options"]
        options.objective = core.ObjectiveType.MinMax if o["objective"] == "min_max" else core.ObjectiveType.MinSum
        options.return_to_end = o["return_to_end"]
        options.time_limit = o["time_limit"]
        options.improve = o["improve"]
        options.seed = o["seed"]
        options.improve_iterations = o["improve_iterations"]
        solver = core.Solver(problem, options, diagnostics=lambda stream, text: None)
        solver.solve()
        result = solver.get_result()
        if result.paths and len(result.paths) != len(doc["agents"]):
            raise SystemExit(f"call {i}: {len(result.paths)} routes for {len(doc['agents'])} agents")
        del solver, problem
        if i % every == 0:
            curve.append((i, rss_kib()))
            print(f"solver {i:6d}: {curve[-1][1]} KiB", flush=True)
    return curve


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--batch", type=int, default=10_000, help="instances through solve_many")
    parser.add_argument("--calls", type=int, default=2_000, help="instances through one Solver per call")
    parser.add_argument("--every", type=int, default=1_000, help="solves between two memory readings")
    parser.add_argument("--workers", type=int, default=None, help="pool processes (default: one per core)")
    args = parser.parse_args(argv)
    batch = batch_phase(args.batch, args.every, args.workers) if args.batch else []
    calls = solver_phase(args.calls, args.every) if args.calls else []
    if batch:
        print(f"batch: parent slope {slope([(n, p) for n, p, _ in batch]):.1f} KiB per 1000 solves")
        print(f"batch: workers slope {slope([(n, w) for n, _, w in batch]):.1f} KiB per 1000 solves")
    if calls:
        print(f"solver: slope {slope(calls):.1f} KiB per 1000 solves")
    return 0


if __name__ == "__main__":
    sys.exit(main())
