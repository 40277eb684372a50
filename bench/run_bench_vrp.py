#!/usr/bin/env python3
"""The capacity-and-precedence suite: KVT (improvement engine with enforce_capacity /
enforce_precedence), OR-Tools, PyVRP and HGS on the rows of vrp_rows.py.

Each run is a process of its own, one at a time (run_one.py for KVT and OR-Tools, pyvrp_peer.py --vrp
for PyVRP, hgs_peer.py for HGS-CVRP through the hygese package). Every result is checked against its
instance with `kvt_mtsp.validate` under the rules the instance turns on, and its value is recomputed
from its routes (each peer's too). A KVT build whose module has no enforce_capacity option reports its
rows as "not enforced by this build" instead of running them. Writes bench/results/bench-vrp-LABEL.md and .json.
"""

from __future__ import annotations

import argparse
import datetime
import fnmatch
import importlib.metadata
import importlib.util
import json
import pathlib
import shlex
import sys
import time

from bench_tools import check_result, fmt, gap_percent
from hgs_peer import unsupported as unsupported_hgs
from kvt_mtsp.check import check_instance
from kvt_mtsp.instance import Instance
from machine import describe
from pyvrp_peer import unsupported_vrp
from run_bench import BENCH_DIR, git_commit, pyvrp_python, results_json, run_solver, write_atomic
from vrp_rows import rows

SOLVERS = {"kvt": "KVT", "ortools": "OR-Tools", "pyvrp": "PyVRP", "hgs": "HGS"}
PEERS = ("pyvrp", "hgs", "ortools")
NOT_ENFORCED = "not enforced by this build"
NO_SOLUTION = "no solution exists"


def parse_args(argv=None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--budget", type=float, default=10.0, help="seconds per run (default 10)")
    parser.add_argument(
        "--rows", nargs="+", metavar="PATTERN", help="row names to run (shell patterns: 'eil76*', 'PR01')"
    )
    parser.add_argument("--objectives", nargs="+", choices=("min_sum", "min_max"))
    parser.add_argument("--solvers", nargs="+", choices=list(SOLVERS), default=list(SOLVERS))
    parser.add_argument("--quick", action="store_true", help="2 s per run, no lin318 rows")
    parser.add_argument("--out", type=pathlib.Path, default=BENCH_DIR / "results")
    parser.add_argument("--label", default=datetime.datetime.now().strftime("%Y%m%d-%H%M%S"))
    args = parser.parse_args(argv)
    if args.quick:
        args.budget = min(args.budget, 2.0)
    if args.budget <= 0:
        parser.error("--budget must be positive")
    return args


def chosen(args) -> list:
    out = []
    for row in rows():
        if args.rows and not any(fnmatch.fnmatch(row.name, p) for p in args.rows):
            continue
        if args.objectives and row.objective not in args.objectives:
            continue
        if args.quick and row.name.startswith("lin318"):
            continue
        out.append(row)
    return out


def kvt_enforces() -> bool:
    """Whether the installed module knows the enforce options (an engine that ignores them would
    solve another problem)."""
    if importlib.util.find_spec("_kvt_core") is None:
        return False
    import _kvt_core

    return hasattr(_kvt_core.Options(), "enforce_capacity") and hasattr(_kvt_core.Options(), "enforce_precedence")


def peer_skip(solver: str, doc: dict) -> str | None:
    if solver == "pyvrp":
        return unsupported_vrp(doc)
    if solver == "hgs":
        return unsupported_hgs(doc)
    return None


def run_peer(solver: str, text: str, budget: float, python: str) -> dict:
    """PyVRP (`pyvrp_peer.py --vrp`) or HGS (`hgs_peer.py`) in a process of its own."""
    import subprocess

    script = ["pyvrp_peer.py", "--vrp"] if solver == "pyvrp" else ["hgs_peer.py"]
    try:
        proc = subprocess.run(
            [python, str(BENCH_DIR / script[0]), *script[1:], "--budget", repr(budget)],
            input=text,
            capture_output=True,
            text=True,
            timeout=3 * budget + 60,
        )
    except subprocess.TimeoutExpired:
        return {"solver": solver, "status": "killed", "message": "no answer within 3 x budget + 60 s"}
    lines = [line for line in proc.stdout.splitlines() if line.strip()]
    if proc.returncode != 0 or not lines:
        tail = " | ".join(proc.stderr.strip().splitlines()[-3:])
        return {
            "solver": solver,
            "status": "error",
            "message": f"exit status {proc.returncode}: {tail or 'no output'}",
        }
    return json.loads(lines[-1])


def valid(results: dict, solver: str):
    """The solver's value where its routes are valid, else None."""
    res = results.get(solver) or {}
    return res.get("value") if res.get("status") == "ok" else None


def cell(res: dict | None) -> str:
    if res is None:
        return "—"
    status = res.get("status")
    if status == "ok":
        return fmt(res.get("value"))
    if status == "invalid":
        return f"{fmt(res.get('value'))} (invalid)"
    if status == "unsupported":
        return "n/a"
    return status or "—"


def render(rows_out: list, solvers: list, meta: dict) -> str:
    head = ["row", "kind", "n", "m", "objective", "reference"] + [SOLVERS[s] for s in solvers]
    if "kvt" in solvers:
        head += [f"KVT vs {SOLVERS[p]} %" for p in PEERS if p in solvers]
    head += ["first sol s (KVT)", "valid", "note"]
    lines = [
        f"# Capacity and precedence benchmark `{meta['label']}`",
        "",
        f"- Date: {meta['created']}",
        f"- Machine: {meta['machine']}",
        f"- Commit: {meta['commit']}",
        f"- Budget: {fmt(meta['budget'], 1)} s per run; OR-Tools {meta['ortools'] or 'not used'}; "
        f"PyVRP {meta['pyvrp'] or 'not used'}; HGS (hygese) {meta.get('hgs') or 'not used'}",
        f"- Command: `{meta['command']}`",
        "",
        "| " + " | ".join(head) + " |",
        "|" + "|".join("---" for _ in head) + "|",
    ]
    for r in rows_out:
        res = r["solvers"]
        cells = [r["row"], r["kind"], str(r["nodes"]), str(r["agents"]), r["objective"], fmt(r["reference"])]
        cells += [cell(res.get(s)) for s in solvers]
        if "kvt" in solvers:
            cells += [fmt(r.get(f"kvt_vs_{p}")) for p in PEERS if p in solvers]
        cells.append(fmt((res.get("kvt") or {}).get("first_time"), 3))
        bad = [SOLVERS[s] for s, x in res.items() if x.get("status") == "invalid"]
        ran = [s for s, x in res.items() if x.get("value") is not None]
        cells.append(("no: " + ", ".join(bad)) if bad else ("yes" if ran else "—"))
        cells.append(r["note"])
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "Notes:", ""] + [f"- {n}" for n in NOTES]
    impossible = {
        f"{r['row']}: {x['message']}" for r in rows_out for x in r["solvers"].values() if x.get("status") == NO_SOLUTION
    }
    if impossible:
        lines += ["", "Rows without a solution (the instance check's reason; no solver was run):", ""]
        lines += [f"- {t}" for t in sorted(impossible)]
    trouble = [
        f"{r['row']} {r['objective']} {SOLVERS[s]}: {x.get('status')} {x.get('message', '')}".rstrip()
        for r in rows_out
        for s, x in r["solvers"].items()
        if x.get("status") not in ("ok", "unsupported", NO_SOLUTION, NOT_ENFORCED)
    ]
    if trouble:
        lines += ["", "Runs without valid routes:", ""] + [f"- {t}" for t in trouble]
    return "\n".join(lines) + "\n"


NOTES = [
    "Value: the sum (min_sum) or the longest (min_max) of the route costs recomputed from each solver's "
    "routes: arrival time at the route's end, waits for windows included, with the instance's costs "
    "(service times folded into leaving costs). Every result is validated with `kvt_mtsp.validate` "
    "under the rules the instance turns on (capacities, pairs, windows, max_length, assignments).",
    "KVT: the module with options improve, enforce_capacity / enforce_precedence as the row sets them, seed "
    f'0; "{NOT_ENFORCED}" where the installed module has no such options.',
    "OR-Tools: the benchmark's routing model (bench/ortools_peer.py) plus a capacity dimension, "
    'pickup-and-delivery with same vehicle for "same" pairs, different vehicles for "diff" pairs and '
    'ordered time cumuls for plain and "diff" pairs; min_max by a global span cost.',
    "PyVRP: min_sum rows without pairs; capacities, windows, shift durations (max_length), one profile per "
    "agent type for assignments; on rows with windows or limits a unit duration cost and no distance cost, "
    "every vehicle leaving at time 0 (our objective: route duration with waits), else the distance.",
    "HGS: HGS-CVRP through the hygese package (bench/hgs_peer.py), on the min_sum rows of one depot, one "
    "agent type and one capacity, without windows, limits or pairs; real distances; the iteration cap "
    "out of reach, so the budget (processor time) ends each run.",
    "KVT vs peer %: (KVT - peer) / peer x 100 where both are valid; negative means KVT is better.",
]


def main(argv=None) -> int:
    args = parse_args(argv)
    planned = chosen(args)
    if not planned:
        print("error: no rows match", file=sys.stderr)
        return 2
    enforces = "kvt" in args.solvers and kvt_enforces()
    if "ortools" in args.solvers and importlib.util.find_spec("ortools") is None:
        print("error: OR-Tools is not installed (make bench-vrp, or pip install 'ortools>=9.10')", file=sys.stderr)
        return 2
    hgs = "hgs" in args.solvers and importlib.util.find_spec("hygese") is not None
    if "hgs" in args.solvers and not hgs:
        print("warning: HGS rows fail: the package hygese is not installed (pip install hygese)", file=sys.stderr)
    pyvrp, pyvrp_error = (None, None)
    if "pyvrp" in args.solvers:
        pyvrp, pyvrp_error = pyvrp_python()
        if pyvrp is None:
            print(f"warning: PyVRP rows fail: {pyvrp_error}", file=sys.stderr)
    meta = {
        "label": args.label,
        "suite": "vrp",
        "created": datetime.datetime.now().isoformat(timespec="seconds"),
        "machine": describe(),
        "commit": git_commit(),
        "ortools": importlib.metadata.version("ortools") if "ortools" in args.solvers else None,
        "pyvrp": None,
        "hgs": importlib.metadata.version("hygese") if hgs else None,
        "command": " ".join(shlex.quote(a) for a in [pathlib.Path(sys.argv[0]).name] + sys.argv[1:]),
        "budget": args.budget,
        "solvers": args.solvers,
    }
    out_rows = []
    for row in planned:
        doc = row.make(args.budget)
        text = json.dumps(doc)
        inst = Instance.from_document(doc)
        infeasible = [str(f) for f in check_instance(doc) if f.infeasible]
        results = {}
        for solver in args.solvers:
            start = time.perf_counter()
            if infeasible:
                res = {"solver": solver, "status": NO_SOLUTION, "message": infeasible[0]}
            elif solver == "kvt" and not enforces:
                res = {"solver": solver, "status": NOT_ENFORCED}
            elif peer_skip(solver, doc):
                res = {"solver": solver, "status": "unsupported", "message": peer_skip(solver, doc)}
            elif solver == "hgs":
                res = (
                    run_peer("hgs", text, args.budget, sys.executable)
                    if hgs
                    else {"solver": solver, "status": "error", "message": "the package hygese is not installed"}
                )
            elif solver == "pyvrp":
                res = (
                    run_peer("pyvrp", text, args.budget, pyvrp)
                    if pyvrp
                    else {"solver": solver, "status": "error", "message": f"PyVRP not available: {pyvrp_error}"}
                )
                meta["pyvrp"] = res.get("version") or meta["pyvrp"]
            else:
                res = run_solver("kvt-improve" if solver == "kvt" else solver, text, args.budget)
            check_result(inst, res)
            results[solver] = res
            print(
                f"{row.name} {row.objective} {solver}: {res['status']} {fmt(res.get('value'))} "
                f"({time.perf_counter() - start:.1f} s)",
                file=sys.stderr,
                flush=True,
            )

        out_rows.append(
            {
                "row": row.name,
                "kind": row.kind,
                "objective": row.objective,
                "nodes": len(doc["nodes"]),
                "agents": len(doc["agents"]),
                "reference": row.reference,
                "note": row.note,
                "solvers": results,
                **{f"kvt_vs_{p}": gap_percent(valid(results, "kvt"), valid(results, p)) for p in PEERS},
            }
        )
    markdown = render(out_rows, args.solvers, meta)
    print(markdown)
    args.out.mkdir(parents=True, exist_ok=True)
    write_atomic(args.out / f"bench-vrp-{args.label}.md", markdown)
    write_atomic(args.out / f"bench-vrp-{args.label}.json", results_json(meta, NOTES, out_rows))
    return 0


if __name__ == "__main__":
    sys.exit(main())
