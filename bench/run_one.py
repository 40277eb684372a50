"""One benchmark run in a process of its own: reads an instance document on standard input, solves it
with one solver (KVT's focal search, KVT with improvement, OR-Tools) and writes one JSON line on
standard output. The routes are checked by the caller (run_bench.py), for every solver alike.

The solvers' own console output goes to standard error: standard output is re-pointed there before
anything is loaded, so native writes (flushed at any time, even at exit) cannot mix with the result line.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import sys
import time
import traceback

RESULT_FD = os.dup(1)
os.dup2(2, 1)


def peak_rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0  # kilobytes on Linux


def run_kvt(doc: dict, budget: float, improve: bool = False, threads: int = 1) -> dict:
    """The KVT module; with `improve` the instance gets the options "improve" true and "seed" 0, and
    "threads" when it is not 1."""
    import _kvt_core

    if improve:
        extra = {"threads": threads} if threads != 1 else {}
        doc = {**doc, "options": {**doc.get("options", {}), "improve": True, "seed": 0, **extra}}
    text = json.dumps(doc)
    base = peak_rss_mib()
    cpu0, wall0 = time.process_time(), time.perf_counter()
    res = _kvt_core.solve_json_str(text, budget)
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
    stats = res["statistics"]
    anytime = res["anytime"]
    ok = res["status"] == "success"
    return {
        "status": "ok" if ok else "failed",
        "native_status": res["status"],
        "first_time": anytime[0]["time"] if anytime else None,
        "last_time": stats["last_update_time"] if ok else None,
        "improvements": len(anytime),
        "n_generated": stats["n_generated"],
        "n_expanded": stats["n_expanded"],
        "cpu_time": cpu,
        "wall_time": wall,
        "solve_time": stats["solve_time"],
        "gen_per_s": stats["n_generated"] / cpu if cpu > 0 else None,
        "base_rss_mib": base,
        "peak_rss_mib": peak_rss_mib(),
        "ended_early": not res["timeout"],
        "statistics": stats,
        "anytime": anytime,
        "routes": res["routes"] if ok else [],
        "paths": [r["path"] for r in res["routes"]] if ok else [],
    }


def run_ortools(doc: dict, budget: float) -> dict:
    import ortools_peer

    base = peak_rss_mib()
    cpu0, wall0 = time.process_time(), time.perf_counter()
    res = ortools_peer.solve(doc, budget)
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
    return {
        "status": "ok" if res["paths"] else "failed",
        "native_status": res["status"],
        "first_time": res["anytime"][0]["time"] if res["anytime"] else None,
        "last_time": res["anytime"][-1]["time"] if res["anytime"] else None,
        "improvements": len(res["anytime"]),
        "cpu_time": cpu,
        "wall_time": wall,
        "base_rss_mib": base,
        "peak_rss_mib": peak_rss_mib(),
        # Guided local search never stops by itself: only a run that finished early counts.
        "ended_early": wall < 0.95 * budget,
        "paths": res["paths"],
    }


RUNNERS = {
    "kvt": run_kvt,
    "kvt-improve": lambda doc, budget: run_kvt(doc, budget, improve=True),
    "kvt-improve-2": lambda doc, budget: run_kvt(doc, budget, improve=True, threads=2),
    "ortools": run_ortools,
}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--solver", choices=tuple(RUNNERS), required=True)
    parser.add_argument("--budget", type=float, required=True, help="time budget in seconds")
    args = parser.parse_args()

    doc = json.load(sys.stdin)
    run = RUNNERS[args.solver]
    try:
        out = run(doc, args.budget)
    except Exception as err:  # reported in the table, not raised: the other runs go on
        traceback.print_exc()
        # A ValueError is the solver refusing the instance (as KVT does above its node limit): the
        # row failed; anything else is a fault of the run.
        status = "failed" if isinstance(err, ValueError) else "error"
        out = {"status": status, "message": f"{type(err).__name__}: {err}"}
    out = {"solver": args.solver, **out}
    os.write(RESULT_FD, (json.dumps(out) + "\n").encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
