#!/usr/bin/env python3
"""Fingerprints of the routes KVT finds on the benchmark rows, for checking that a change of the code
leaves every answer as it was.

Both solvers stop at a point that does not depend on the machine's speed: the focal search at its
--solutions-th improving solution (through the anytime callback), the improvement engine after
--iterations iterations (with a budget generous enough to reach them). A focal search that finds no
solution, or fewer, runs to its budget; its counters then depend on the speed and are left out. One
line per row and solver: the row, a digest of the routes, the objective and the search counters.
Run it before and after a change and compare the files (`diff`).
"""

from __future__ import annotations

import argparse
import hashlib
import json
import sys

import _kvt_core
from bench_tools import load_bks
from run_bench import SUITES, parse_args, plan_rows


def digest(result: dict) -> str:
    paths = json.dumps([r["path"] for r in result["routes"]]).encode()
    return hashlib.sha256(paths).hexdigest()[:16]


def solve_focal(doc: dict, solutions: int, budget: float) -> dict:
    seen = []

    def stop_after(entry) -> bool:
        seen.append(entry)
        return len(seen) >= solutions

    doc = {**doc, "options": {**doc.get("options", {}), "improve": False}}
    result = _kvt_core.solve_json_str(
        json.dumps(doc), budget, diagnostics=lambda stream, text: None, callback=stop_after
    )
    result["deterministic"] = len(seen) >= solutions or not result["timeout"]
    return result


def solve_improve(doc: dict, iterations: int, budget: float) -> dict:
    options = {**doc.get("options", {}), "improve": True, "seed": 0, "improve_iterations": iterations}
    doc = {**doc, "options": options}
    return _kvt_core.solve_json_str(json.dumps(doc), budget, diagnostics=lambda stream, text: None)


def line(row: dict, solver: str, result: dict) -> str:
    stats = result["statistics"]
    prefix = "improve_" if solver == "kvt-improve" else "n_"  # the focal phase of an improve run may time out
    counters = {k: stats[k] for k in sorted(stats) if k.startswith(prefix) and not k.endswith("_time")}
    if not result.get("deterministic", True):
        counters = "depend on the speed"
    return json.dumps(
        {
            "row": f"{row['instance']} m={row['agents']} {row['objective']}",
            "solver": solver,
            "status": result["status"],
            "routes": digest(result) if result["status"] == "success" else None,
            "max_cost": stats["max_cost"],
            "sum_cost": stats["sum_cost"],
            "counters": counters,
        },
        sort_keys=True,
    )


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--solutions", type=int, default=1, help="focal search: stop at this improving solution")
    parser.add_argument("--focal-budget", type=float, default=3.0, help="focal runs: processor seconds at most")
    parser.add_argument("--iterations", type=int, default=1000, help="improvement engine: iteration cap")
    parser.add_argument(
        "--budget", type=float, default=8.0, help="improve runs: processor seconds (half of it is the focal phase)"
    )
    parser.add_argument("--solvers", nargs="+", default=["kvt", "kvt-improve"], choices=["kvt", "kvt-improve"])
    own, rest = parser.parse_known_args(argv)
    args = parse_args(rest + ["--budget", str(own.budget)])
    rows = plan_rows(args, load_bks(args.bks_file) if args.suite in SUITES else {})
    for row in rows:
        doc = row["make"]()
        if "kvt" in own.solvers:
            print(line(row, "kvt", solve_focal(doc, own.solutions, own.focal_budget)), flush=True)
        if "kvt-improve" in own.solvers:
            print(line(row, "kvt-improve", solve_improve(doc, own.iterations, own.budget)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
