#!/usr/bin/env python3
"""Benchmark the KVT solver on the TSPLIB mTSP set against best-known values and OR-Tools.

For every instance x agent count x objective, each solver runs in a process of its own (run_one.py);
the table is printed and written as Markdown and JSON to the output folder, named after --label.
"""
from __future__ import annotations

import argparse
import datetime
import importlib.metadata
import importlib.util
import json
import pathlib
import re
import shlex
import subprocess
import sys
import time

from bench_tools import (OBJECTIVES, bks_value, build_instance, fmt, gap_percent, load_bks,
                         load_tsplib, resolve_instance)
from machine import describe

BENCH_DIR = pathlib.Path(__file__).resolve().parent
SOLVERS = {"kvt": "KVT", "ortools": "OR-Tools"}
DEFAULT_INSTANCES = ["eil51", "berlin52", "eil76"]


def parse_args(argv=None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--budget", type=float, default=10.0,
                        help="time budget per run in seconds (KVT: processor time; OR-Tools: wall clock)")
    parser.add_argument("--instances", nargs="+", default=DEFAULT_INSTANCES,
                        help="names in bench/data (eil51) or paths of TSPLIB EUC_2D files")
    parser.add_argument("--agents", nargs="+", type=int, default=[2, 3, 5, 7])
    parser.add_argument("--objectives", nargs="+", choices=OBJECTIVES, default=list(OBJECTIVES))
    parser.add_argument("--solvers", nargs="+", choices=list(SOLVERS), default=list(SOLVERS))
    parser.add_argument("--out", type=pathlib.Path, default=BENCH_DIR / "results")
    parser.add_argument("--label", default=datetime.datetime.now().strftime("%Y%m%d-%H%M%S"),
                        help="name of the run, part of the file names (e.g. before, after)")
    args = parser.parse_args(argv)
    if args.budget <= 0:
        parser.error("--budget must be positive")
    if any(m < 1 for m in args.agents):
        parser.error("--agents must be positive")
    if not re.fullmatch(r"[A-Za-z0-9._-]+", args.label):
        parser.error("--label may hold letters, digits, '.', '_' and '-' only")
    return args


def run_solver(solver: str, doc: dict, budget: float) -> dict:
    """Runs one solver on one document in a child process; failures come back as a status."""
    command = [sys.executable, str(BENCH_DIR / "run_one.py"), "--solver", solver, "--budget", repr(budget)]
    try:
        proc = subprocess.run(command, input=json.dumps(doc), capture_output=True, text=True,
                              timeout=3 * budget + 60)
    except subprocess.TimeoutExpired:
        return {"solver": solver, "status": "killed", "message": "no answer within 3 x budget + 60 s"}
    lines = [line for line in proc.stdout.splitlines() if line.strip()]
    if proc.returncode != 0 or not lines:
        tail = " | ".join(proc.stderr.strip().splitlines()[-3:])
        return {"solver": solver, "status": "error",
                "message": f"exit status {proc.returncode}: {tail or 'no output'}"}
    return json.loads(lines[-1])


def make_row(name: str, nodes: int, agents: int, objective: str, budget: float, bks: dict,
             results: dict) -> dict:
    best = bks_value(bks, name, agents, objective)
    for res in results.values():
        res["gap"] = gap_percent(res.get("value"), best)
    row = {"instance": name, "nodes": nodes, "agents": agents, "objective": objective, "budget": budget,
           "bks": best, "solvers": results}
    if "kvt" in results and "ortools" in results:
        row["kvt_vs_ortools"] = gap_percent(results["kvt"].get("value"), results["ortools"].get("value"))
    return row


def columns(solvers) -> list:
    """(header, right-aligned, cell function) for the chosen solvers."""
    def solver_cell(solver, key, digits=2):
        return lambda row: fmt(row["solvers"][solver].get(key), digits)

    cols = [("instance", False, lambda r: r["instance"]),
            ("n", True, lambda r: str(r["nodes"])),
            ("m", True, lambda r: str(r["agents"])),
            ("objective", False, lambda r: r["objective"]),
            ("budget s", True, lambda r: fmt(r["budget"], 1)),
            ("BKS", True, lambda r: fmt(r["bks"], 2))]
    for s in solvers:
        cols += [(f"{SOLVERS[s]} value", True, solver_cell(s, "value")),
                 (f"{SOLVERS[s]} gap %", True, solver_cell(s, "gap"))]
    if "kvt" in solvers and "ortools" in solvers:
        cols.append(("KVT vs OR-Tools %", True, lambda r: fmt(r.get("kvt_vs_ortools"))))
    if "kvt" in solvers:
        cols += [("KVT status", False, solver_cell("kvt", "status")),
                 ("first sol s", True, solver_cell("kvt", "first_time", 3)),
                 ("last impr s", True, solver_cell("kvt", "last_time", 3)),
                 ("generated", True, solver_cell("kvt", "n_generated")),
                 ("expanded", True, solver_cell("kvt", "n_expanded")),
                 ("gen/s", True, solver_cell("kvt", "gen_per_s", 0)),
                 ("peak MiB", True, solver_cell("kvt", "peak_rss_mib", 1)),
                 ("done early", False, solver_cell("kvt", "ended_early"))]
    if "ortools" in solvers:
        cols.append(("OR-Tools status", False, solver_cell("ortools", "status")))
    return cols


def render_text(rows, cols) -> str:
    cells = [[c[0] for c in cols]] + [[c[2](r) for c in cols] for r in rows]
    widths = [max(len(line[i]) for line in cells) for i in range(len(cols))]

    def line(values):
        return "  ".join(v.rjust(w) if c[1] else v.ljust(w) for v, w, c in zip(values, widths, cols)).rstrip()

    out = [line(cells[0]), "  ".join("-" * w for w in widths)]
    out += [line(values) for values in cells[1:]]
    return "\n".join(out)


def render_markdown_table(rows, cols) -> str:
    out = ["| " + " | ".join(c[0] for c in cols) + " |",
           "|" + "|".join("---:" if c[1] else "---" for c in cols) + "|"]
    out += ["| " + " | ".join(c[2](r) for c in cols) + " |" for r in rows]
    return "\n".join(out)


def problems(rows) -> list:
    """One line per run that did not end with valid routes."""
    out = []
    for r in rows:
        for solver, res in r["solvers"].items():
            if res.get("status") != "ok":
                out.append(f"{r['instance']} m={r['agents']} {r['objective']} {SOLVERS[solver]}: "
                           f"{res.get('status')} {res.get('message', '')}".rstrip())
    return out


def min_sum_note(bks: dict) -> str:
    return next((n for n in bks.get("notes", []) if n.startswith("min_sum")), "min_sum: no best-known values.")


def notes(meta: dict, bks: dict) -> list:
    out = [
        f"Budget {fmt(meta['budget'], 1)} s per run. KVT's is processor time (`time_limit` of "
        "`solve_json_str`); OR-Tools' is wall-clock time (its `time_limit`). Both search on one thread.",
        "Each solver runs in a process of its own, one run at a time.",
        "value: longest route (min_max) or total length (min_sum), in real unrounded Euclidean "
        "distances; depot = node 1 of the file, every agent starts and ends there.",
        "OR-Tools: one vehicle per agent, PATH_CHEAPEST_ARC then GUIDED_LOCAL_SEARCH; distances x1000 "
        "rounded to integers; min_max as a distance dimension with global span cost 100 plus arc costs; "
        "its value is recomputed from its routes with the real distances.",
        "gap % = (value - BKS) / BKS x 100; BKS exist for min_max only. " + min_sum_note(bks),
    ]
    if "kvt" in meta["solvers"]:
        if "ortools" in meta["solvers"]:
            out.append("KVT vs OR-Tools % = (KVT - OR-Tools) / OR-Tools x 100; negative means KVT is better.")
        out += [
            "first sol s / last impr s: processor seconds from the start of KVT's solve to its first "
            "logged solution and to its last improvement (`last_update_time`).",
            "gen/s: generated states / processor time of the solve call, measured in the child process.",
            "peak MiB: peak resident memory (ru_maxrss) of KVT's child process, Python included; the "
            "JSON also holds `base_rss_mib`, the peak before the solve.",
            "done early: the search ended before its budget (`timeout` false).",
        ]
    return out


def render_markdown(rows, cols, meta: dict, bks: dict) -> str:
    out = [f"# Benchmark run `{meta['label']}`", "",
           f"- Date: {meta['created']}",
           f"- Machine: {meta['machine']}",
           f"- Commit: {meta['commit']}",
           f"- OR-Tools: {meta['ortools'] or 'not used'}",
           f"- Command: `{meta['command']}`", "",
           render_markdown_table(rows, cols), "", "Notes:", ""]
    out += [f"- {n}" for n in notes(meta, bks)]
    trouble = problems(rows)
    if trouble:
        out += ["", "Runs without valid routes:", ""] + [f"- {t}" for t in trouble]
    return "\n".join(out) + "\n"


def git_commit() -> str:
    try:
        head = subprocess.run(["git", "-C", str(BENCH_DIR), "rev-parse", "--short", "HEAD"],
                              capture_output=True, text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", str(BENCH_DIR), "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return head + (" (with uncommitted changes)" if dirty else "")


def results_json(meta: dict, notes_: list, rows: list) -> str:
    """Indented header, one line per row (routes included, so any run can be re-checked)."""
    head = json.dumps({**meta, "notes": notes_, "rows": []}, indent=1, ensure_ascii=False)
    assert head.endswith('"rows": []\n}')
    body = ",\n  ".join(json.dumps(r, ensure_ascii=False) for r in rows)
    return head[:-len("[]\n}")] + "[\n  " + body + "\n ]\n}\n"


def write_atomic(path: pathlib.Path, text: str) -> None:
    tmp = path.with_name(path.name + ".tmp")
    tmp.write_text(text)
    tmp.replace(path)


def main(argv=None) -> int:
    args = parse_args(argv)
    missing = [s for s, module in (("kvt", "_kvt_core"), ("ortools", "ortools"))
               if s in args.solvers and importlib.util.find_spec(module) is None]
    if missing:
        hint = {"kvt": "make module", "ortools": "make bench, or pip install 'ortools>=9.10'"}
        for s in missing:
            print(f"error: {SOLVERS[s]} is not installed in {sys.executable} ({hint[s]})", file=sys.stderr)
        return 2

    bks = load_bks()
    instances = []
    for item in args.instances:
        path = resolve_instance(item)
        if not path.is_file():
            print(f"error: no instance file {path}", file=sys.stderr)
            return 2
        instances.append(load_tsplib(path))

    meta = {"label": args.label,
            "created": datetime.datetime.now().isoformat(timespec="seconds"),
            "machine": describe(),
            "commit": git_commit(),
            "ortools": (importlib.metadata.version("ortools") if "ortools" in args.solvers else None),
            "command": " ".join(shlex.quote(a) for a in [pathlib.Path(sys.argv[0]).name] + sys.argv[1:]),
            "budget": args.budget,
            "solvers": args.solvers}
    total = len(instances) * len(args.agents) * len(args.objectives) * len(args.solvers)
    done = 0
    rows = []
    for tsp in instances:
        for m in args.agents:
            for objective in args.objectives:
                doc = build_instance(tsp, m, objective, args.budget)
                results = {}
                for solver in args.solvers:
                    start = time.perf_counter()
                    res = run_solver(solver, doc, args.budget)
                    results[solver] = res
                    done += 1
                    print(f"[{done}/{total}] {tsp.name} m={m} {objective} {solver}: {res['status']} "
                          f"{fmt(res.get('value'))} ({time.perf_counter() - start:.1f} s)",
                          file=sys.stderr, flush=True)
                rows.append(make_row(tsp.name, len(tsp.points), m, objective, args.budget, bks, results))

    cols = columns(args.solvers)
    print(render_text(rows, cols))
    for line in problems(rows):
        print("!", line)

    args.out.mkdir(parents=True, exist_ok=True)
    md_path = args.out / f"bench-{args.label}.md"
    json_path = args.out / f"bench-{args.label}.json"
    write_atomic(md_path, render_markdown(rows, cols, meta, bks))
    write_atomic(json_path, results_json(meta, notes(meta, bks), rows))
    print(f"wrote {md_path} and {json_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
