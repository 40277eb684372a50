#!/usr/bin/env python3
"""Benchmark the KVT solver against best-known values, OR-Tools and PyVRP.

Suites: "standard" (the TSPLIB mTSP set eil51, berlin52, eil76, rat99 with m = 2, 3, 5, 7 under
min_max and min_sum, plus the generated variant instances of variants.py) and "large" (lin318,
att532.euc2d, rat783, min_max, 60 s). Solvers: KVT's focal search ("kvt"), KVT with the improvement
engine ("kvt-improve"; "kvt-improve-2" with two search threads), OR-Tools ("ortools") and PyVRP
("pyvrp", single-depot min_sum rows only, in an environment of its own). Each run is a process of its
own, one at a time; every result is checked against its instance (kvt_mtsp.validate). With
--short-budgets (standard suite: 0.1 and 1 s) the TSPLIB rows also get runs of both improve solvers at
those budgets, as columns of their own. The table is printed and written as Markdown and JSON to the
output folder, named after --label.
"""

from __future__ import annotations

import argparse
import datetime
import importlib.metadata
import importlib.util
import json
import math
import pathlib
import re
import shlex
import subprocess
import sys
import time

from bench_tools import (
    OBJECTIVES,
    bks_value,
    build_instance,
    check_result,
    fmt,
    gap_percent,
    instance_name,
    load_bks,
    load_tsplib,
    resolve_instance,
)
from kvt_mtsp.instance import Instance
from machine import describe
from pyvrp_peer import unsupported as pyvrp_unsupported
from variants import VARIANT_NAMES, generate, variant_spec

BENCH_DIR = pathlib.Path(__file__).resolve().parent
SOLVERS = {
    "kvt": "focal",
    "kvt-improve": "improve",
    "kvt-improve-2": "improve 2 threads",
    "ortools": "OR-Tools",
    "pyvrp": "PyVRP",
}
# The solvers that also run at the short budgets.
SHORT_SOLVERS = ("kvt-improve", "kvt-improve-2")
SUITES = {
    "standard": {
        "instances": ["eil51", "berlin52", "eil76", "rat99"],
        "agents": [2, 3, 5, 7],
        "objectives": list(OBJECTIVES),
        "variants": list(VARIANT_NAMES),
        "solvers": ["kvt", "kvt-improve", "kvt-improve-2", "ortools", "pyvrp"],
        "budget": 10.0,
        "short_budgets": [0.1, 1.0],
        "bks": "bks.json",
    },
    "large": {
        "instances": ["lin318", "att532.euc2d", "rat783"],
        "agents": None,
        "objectives": ["min_max"],
        "variants": [],
        "solvers": ["kvt-improve", "kvt-improve-2", "ortools"],
        "budget": 60.0,
        "short_budgets": [],
        "bks": "large/bks.json",
    },
}
VARIANT_SEED = 0


def parse_args(argv=None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument(
        "--suite",
        choices=list(SUITES),
        default="standard",
        help="row set and defaults of the options below (standard: 10 s; large: 60 s)",
    )
    parser.add_argument(
        "--budget", type=float, help="time budget per run in seconds (KVT: processor time; peers: wall clock)"
    )
    parser.add_argument(
        "--instances", nargs="*", help="TSPLIB rows: names in bench/data or bench/data/large, or paths of EUC_2D files"
    )
    parser.add_argument(
        "--agents",
        nargs="+",
        type=int,
        help="agent counts of the TSPLIB rows (large suite: those with a best-known value)",
    )
    parser.add_argument("--objectives", nargs="+", choices=OBJECTIVES)
    parser.add_argument(
        "--variants",
        nargs="*",
        metavar="NAME",
        help=f"variant rows ({', '.join(VARIANT_NAMES)}); none with an empty list",
    )
    parser.add_argument("--solvers", nargs="+", choices=list(SOLVERS))
    parser.add_argument(
        "--short-budgets",
        nargs="*",
        type=float,
        metavar="S",
        help="further budgets for the improve solvers on the TSPLIB rows (standard: 0.1 1; none with an empty list)",
    )
    parser.add_argument("--out", type=pathlib.Path, default=BENCH_DIR / "results")
    parser.add_argument(
        "--label",
        default=datetime.datetime.now().strftime("%Y%m%d-%H%M%S"),
        help="name of the run, part of the file names (e.g. before, after)",
    )
    args = parser.parse_args(argv)
    suite = SUITES[args.suite]
    for key in ("instances", "agents", "objectives", "variants", "solvers", "budget", "short_budgets"):
        if getattr(args, key) is None:
            setattr(args, key, suite[key])
    args.bks_file = BENCH_DIR / "data" / suite["bks"]
    if args.budget <= 0 or any(not b > 0 for b in args.short_budgets):
        parser.error("--budget must be positive")
    if args.agents is not None and any(m < 1 for m in args.agents):
        parser.error("--agents must be positive")
    unknown = [v for v in args.variants if v not in VARIANT_NAMES]
    if unknown:
        parser.error(f"unknown variant {unknown[0]!r}; known: {', '.join(VARIANT_NAMES)}")
    if not re.fullmatch(r"[A-Za-z0-9._-]+", args.label):
        parser.error("--label may hold letters, digits, '.', '_' and '-' only")
    return args


# --- rows -------------------------------------------------------------------------------------------


def agent_counts(bks: dict, name: str, agents) -> list:
    """The given counts, or (large suite) every count with a best-known min_max value."""
    if agents is not None:
        return list(agents)
    return sorted(int(m) for m in bks.get("min_max", {}).get(name, {}))


def plan_rows(args, bks: dict) -> list:
    """(name, kind, agents, objective, make_doc) per row, in run order."""
    rows = []
    for item in args.instances:
        path = resolve_instance(item)
        if not path.is_file():
            raise FileNotFoundError(f"no instance file {path}")
        tsp = load_tsplib(path)
        name = instance_name(path)
        for m in agent_counts(bks, name, args.agents):
            for objective in args.objectives:
                rows.append(
                    {
                        "instance": name,
                        "kind": "tsplib",
                        "nodes": len(tsp.points),
                        "agents": m,
                        "objective": objective,
                        "make": (lambda tsp=tsp, m=m, o=objective: build_instance(tsp, m, o, args.budget)),
                    }
                )
    for vname in args.variants:
        spec = variant_spec(vname)
        points = load_tsplib(resolve_instance(spec.source)).points
        for objective in args.objectives:
            rows.append(
                {
                    "instance": vname,
                    "kind": "variant",
                    "features": spec.features(),
                    "nodes": spec.nodes,
                    "agents": spec.agents,
                    "objective": objective,
                    "make": (
                        lambda spec=spec, points=points, o=objective: generate(
                            spec, points, VARIANT_SEED, o, args.budget
                        )[0]
                    ),
                }
            )
    return rows


# --- running ----------------------------------------------------------------------------------------


def pyvrp_python() -> tuple:
    """The interpreter of bench/.venv-pyvrp (made on first use), or (None, why not)."""
    try:
        proc = subprocess.run(["bash", str(BENCH_DIR / "setup_pyvrp.sh")], capture_output=True, text=True, timeout=1800)
    except (OSError, subprocess.TimeoutExpired) as err:
        return None, str(err)
    if proc.returncode != 0:
        return None, " | ".join(proc.stderr.strip().splitlines()[-2:]) or f"exit status {proc.returncode}"
    return proc.stdout.strip().splitlines()[-1], None


def child_command(solver: str, budget: float, pyvrp: str | None) -> list:
    if solver == "pyvrp":
        return [pyvrp, str(BENCH_DIR / "pyvrp_peer.py"), "--budget", repr(budget)]
    return [sys.executable, str(BENCH_DIR / "run_one.py"), "--solver", solver, "--budget", repr(budget)]


def short_key(solver: str, budget: float) -> str:
    """The results key of a run at a short budget, e.g. "kvt-improve@0.1"."""
    return f"{solver}@{budget:g}"


def label(key: str) -> str:
    """The column name of a results key: the solver's, with the budget of a short run."""
    solver, _, budget = key.partition("@")
    return SOLVERS[solver] + (f" {budget} s" if budget else "")


def run_keys(args) -> list:
    """The results keys of a TSPLIB row: the solvers, then the improve solvers at each short budget."""
    return list(args.solvers) + [
        short_key(s, b) for b in args.short_budgets for s in SHORT_SOLVERS if s in args.solvers
    ]


def run_solver(solver: str, doc_text: str, budget: float, pyvrp: str | None = None) -> dict:
    """Runs one solver on one document in a child process; failures come back as a status."""
    try:
        proc = subprocess.run(
            child_command(solver, budget, pyvrp),
            input=doc_text,
            capture_output=True,
            text=True,
            timeout=3 * budget + 60,
        )
    except subprocess.TimeoutExpired:
        return {"solver": solver, "status": "killed", "message": "no answer within 3 x budget + 60 s"}
    lines = [line for line in proc.stdout.splitlines() if line.strip()]
    if proc.returncode != 0 or not lines:
        tail = " | ".join(proc.stderr.strip().splitlines()[-3:])
        return {"solver": solver, "status": "error", "message": f"exit status {proc.returncode}: {tail or 'no output'}"}
    try:
        return json.loads(lines[-1])
    except json.JSONDecodeError:
        return {"solver": solver, "status": "error", "message": f"unreadable answer: {lines[-1][:200]}"}


def applicable(solver: str, row: dict, doc: dict) -> str | None:
    """Why `solver` does not run on the row, or None."""
    if solver == "pyvrp":
        return pyvrp_unsupported(doc)
    return None


def first_improvement(improve: dict, focal: dict | None, objective: str):
    """Processor seconds at which the improve run first beat everything the focal search reported (the
    focal row's value and its anytime entries: under min_sum the focal search logs solutions that its
    post-optimisation then makes worse), or, without a focal row, first improved on its own first
    solution; None when never."""
    key = "max_cost" if objective == "min_max" else "sum_cost"
    anytime = improve.get("anytime") or []
    if focal is not None and focal.get("status") in ("ok", "invalid") and focal.get("value") is not None:
        bound = min([focal["value"]] + [e[key] for e in focal.get("anytime") or []])
        return first_below(anytime, key, bound)
    return anytime[1]["time"] if len(anytime) > 1 else None


def first_below(anytime: list, key: str, bound: float, after: float = -math.inf):
    """Time of the first anytime entry later than `after` whose `key` is below `bound` by more than
    rounding; None when there is none."""
    slack = 1e-9 * max(1.0, abs(bound)) if math.isfinite(bound) else 0.0
    return next((e["time"] for e in anytime if e["time"] > after and e[key] < bound - slack), None)


def after_handover(improve: dict, objective: str):
    """Processor seconds from the hand-over to the improvement engine (statistics "improve_start_time")
    to the improve run's first solution better than every solution it recorded before (its first
    solution when the focal search had found none); None without a hand-over or an improvement."""
    start = (improve.get("statistics") or {}).get("improve_start_time")
    if start is None:
        return None
    key = "max_cost" if objective == "min_max" else "sum_cost"
    anytime = improve.get("anytime") or []
    bound = min((e[key] for e in anytime if e["time"] <= start), default=math.inf)
    found = first_below(anytime, key, bound, after=start)
    return None if found is None else found - start


def make_row(row: dict, budget: float, bks: dict, results: dict) -> dict:
    ref = bks_value(bks, row["instance"], row["agents"], row["objective"]) if row["kind"] == "tsplib" else None
    for res in results.values():
        res["gap"] = gap_percent(res.get("value"), ref)
    out = {k: v for k, v in row.items() if k != "make"}
    out.update({"budget": budget, "reference": ref, "solvers": results})
    if "kvt-improve" in results:
        results["kvt-improve"]["first_improvement_time"] = first_improvement(
            results["kvt-improve"], results.get("kvt"), row["objective"]
        )
        results["kvt-improve"]["handover_time"] = (results["kvt-improve"].get("statistics") or {}).get(
            "improve_start_time"
        )
        results["kvt-improve"]["after_handover"] = after_handover(results["kvt-improve"], row["objective"])

    def valid_value(solver):
        res = results.get(solver, {})
        return res.get("value") if res.get("status") == "ok" else None

    for peer in ("ortools", "pyvrp"):
        if peer in results:  # valid results only: an invalid plan is no benchmark to meet
            out[f"improve_vs_{peer}"] = gap_percent(valid_value("kvt-improve"), valid_value(peer))
    return out


# --- tables -----------------------------------------------------------------------------------------


def value_cell(res) -> str:
    if res is None:
        return "—"
    if res.get("status") == "unsupported":
        return "n/a"
    text = fmt(res.get("value"))
    return text + " (invalid)" if res.get("status") == "invalid" else text


def validity_cell(row) -> str:
    ran = [(s, r) for s, r in row["solvers"].items() if r.get("value") is not None]
    bad = [label(s) for s, r in ran if r.get("status") == "invalid"]
    if bad:
        return "no: " + ", ".join(bad)
    return "yes" if ran else "—"


def columns(solvers) -> list:
    """(header, right-aligned, cell function) for the chosen solvers."""

    def res(row, solver):
        return row["solvers"].get(solver)

    def solver_cell(solver, key, digits=2):
        return lambda row: fmt((res(row, solver) or {}).get(key), digits)

    cols = [
        ("instance", False, lambda r: r["instance"]),
        ("features", False, lambda r: r.get("features", "")),
        ("n", True, lambda r: str(r["nodes"])),
        ("m", True, lambda r: str(r["agents"])),
        ("objective", False, lambda r: r["objective"]),
        ("reference", True, lambda r: fmt(r["reference"], 2)),
    ]
    for s in solvers:
        cols.append((label(s), True, lambda r, s=s: value_cell(res(r, s))))
        cols.append((f"{label(s)} gap %", True, solver_cell(s, "gap")))
    if "kvt-improve" in solvers:
        for peer in ("ortools", "pyvrp"):
            if peer in solvers:
                cols.append(
                    (f"improve vs {SOLVERS[peer]} %", True, lambda r, peer=peer: fmt(r.get(f"improve_vs_{peer}")))
                )
    cols.append(("valid", False, validity_cell))
    if "kvt-improve" in solvers:
        cols += [
            ("improve first impr s", True, solver_cell("kvt-improve", "first_improvement_time", 3)),
            ("improve hand-over s", True, solver_cell("kvt-improve", "handover_time", 3)),
            ("improve first impr after hand-over s", True, solver_cell("kvt-improve", "after_handover", 3)),
            ("improve last impr s", True, solver_cell("kvt-improve", "last_time", 3)),
            ("improve peak MiB", True, solver_cell("kvt-improve", "peak_rss_mib", 1)),
        ]
    if "kvt" in solvers:
        cols += [
            ("focal first sol s", True, solver_cell("kvt", "first_time", 3)),
            ("focal peak MiB", True, solver_cell("kvt", "peak_rss_mib", 1)),
        ]
    cols.append(
        (
            "status",
            False,
            lambda r: (
                ", ".join(
                    f"{label(s)} {x.get('status')}"
                    for s, x in r["solvers"].items()
                    if x.get("status") not in ("ok", "unsupported")
                )
                or "ok"
            ),
        )
    )
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
    out = ["| " + " | ".join(c[0] for c in cols) + " |", "|" + "|".join("---:" if c[1] else "---" for c in cols) + "|"]
    out += ["| " + " | ".join(c[2](r) for c in cols) + " |" for r in rows]
    return "\n".join(out)


def problems(rows) -> list:
    """One line per run that did not end with valid routes (runs a solver does not model excepted)."""
    out = []
    for r in rows:
        for solver, res in r["solvers"].items():
            if res.get("status") not in ("ok", "unsupported"):
                out.append(
                    f"{r['instance']} m={r['agents']} {r['objective']} {label(solver)}: "
                    f"{res.get('status')} {res.get('message', '')}".rstrip()
                )
    return out


def summary(rows, solvers) -> list:
    """Mean and largest gap per solver and objective over the rows with a reference, and the rows on
    which the improve run is worse than a peer."""
    out = []
    for objective in OBJECTIVES:
        for s in solvers:
            gaps = [
                r["solvers"][s]["gap"]
                for r in rows
                if r["objective"] == objective
                and s in r["solvers"]
                and r["solvers"][s].get("gap") is not None
                and r["solvers"][s].get("status") == "ok"
            ]
            if gaps:
                out.append(
                    f"{objective}, {label(s)}: mean gap {fmt(sum(gaps) / len(gaps))} %, largest "
                    f"{fmt(max(gaps))} % over {len(gaps)} rows"
                )
    if "kvt-improve" in solvers:
        for peer in ("ortools", "pyvrp"):
            worse = [
                f"{r['instance']} m={r['agents']} {r['objective']}"
                for r in rows
                if (r.get(f"improve_vs_{peer}") or 0) > 1e-9
            ]
            compared = sum(1 for r in rows if r.get(f"improve_vs_{peer}") is not None)
            if compared:
                out.append(
                    f"improve worse than {SOLVERS[peer]} on {len(worse)} of {compared} rows"
                    + (": " + "; ".join(worse) if worse else "")
                )
        out += threads_summary(rows, solvers)
        times = [
            r["solvers"]["kvt-improve"].get("first_improvement_time") for r in rows if "kvt-improve" in r["solvers"]
        ]
        times = [t for t in times if t is not None]
        if times:
            out.append(
                f"improve: first improvement after at most {max(times):.3f} s ({len(times)} rows with an improvement)"
            )
        lags = [r["solvers"]["kvt-improve"].get("after_handover") for r in rows if "kvt-improve" in r["solvers"]]
        lags = [t for t in lags if t is not None]
        if lags:
            out.append(
                f"improve: first improvement at most {max(lags):.3f} s after the hand-over to the engine "
                f"({len(lags)} rows)"
            )
    return out


def threads_summary(rows, keys) -> list:
    """Per budget: the rows on which two search threads end worse than one, and the ratio of their
    improvement iterations (the searches' sum over the one search's), as the mean over the rows."""
    out = []
    for key in keys:
        solver, at, budget = key.partition("@")
        if solver != "kvt-improve-2":
            continue
        one = "kvt-improve" + at + budget
        if one not in keys:
            continue
        pairs = [
            (r, r["solvers"][one], r["solvers"][key])
            for r in rows
            if r["solvers"].get(one, {}).get("status") == "ok" and r["solvers"].get(key, {}).get("status") == "ok"
        ]
        if not pairs:
            continue
        worse = [
            f"{r['instance']} m={r['agents']} {r['objective']}"
            for r, a, b in pairs
            if b.get("value") is not None and a.get("value") is not None and b["value"] > a["value"] * (1 + 1e-9)
        ]
        out.append(
            f"{label(key)} worse than {label(one)} on {len(worse)} of {len(pairs)} rows"
            + (": " + "; ".join(worse) if worse else "")
        )
        ratios = [
            b["statistics"]["improve_iterations"] / a["statistics"]["improve_iterations"]
            for _, a, b in pairs
            if (a.get("statistics") or {}).get("improve_iterations")
            and (b.get("statistics") or {}).get("improve_iterations")
        ]
        if ratios:
            out.append(
                f"{label(key)}: {fmt(sum(ratios) / len(ratios))} x the iterations of {label(one)} "
                f"(mean over {len(ratios)} rows)"
            )
    return out


def notes(meta: dict) -> list:
    out = [
        f"Budget {fmt(meta['budget'], 1)} s per run. KVT's is processor time (`time_limit` of "
        "`solve_json_str`); OR-Tools' and PyVRP's are wall-clock time. All search on one thread.",
        "Each solver runs in a process of its own, one run at a time.",
        "focal: the KVT module as it is by default (focal search and post-optimisation); improve: the "
        'module with the instance options "improve" true and "seed" 0.',
        "value: longest route (min_max) or total of the routes (min_sum), recomputed from each solver's "
        "routes with the real distances (waiting before a window opens included); every result is "
        "checked with `kvt_mtsp.validate.validate_result` and marked (invalid) when it breaks a rule.",
        "TSPLIB rows: depot = node 1 of the file, every agent starts and ends there, real Euclidean "
        "distances. reference: the best-known longest route (min_max) or the single-tour optimum "
        "(min_sum: without a bound on the cities per agent it is the min-sum optimum for every m); "
        "gap % = (value - reference) / reference x 100.",
        "Variant rows (bench/variants.py, seed 0): generated around a known feasible solution from "
        "TSPLIB coordinates; features: types = two agent types with their own costs and assignments, "
        "windows = time windows, limits = max_length per agent, open = return_to_end false, depots = "
        "distinct start and end depots. No reference: compare the solvers.",
        "OR-Tools: one vehicle per agent, distances x1000 rounded up to integers; types via per-vehicle "
        "transits and allowed vehicles, windows and limits on a time dimension with waiting as slack; "
        "PARALLEL_CHEAPEST_INSERTION (with windows or limits, and droppable visits at a prohibitive "
        "penalty) or PATH_CHEAPEST_ARC, then GUIDED_LOCAL_SEARCH; min_max as a global span cost.",
        "PyVRP: single-depot min_sum rows only (n/a elsewhere); one depot, one vehicle type with m "
        "vehicles, distances x1000 rounded to integers, MaxRuntime = budget, seed 0.",
        "improve vs OR-Tools % / improve vs PyVRP %: (improve - peer) / peer x 100 where both are valid; "
        "negative means KVT improve is better.",
        "improve first impr s: processor seconds from the start of the improve run's solve to its first "
        "solution better than the focal column's result and every anytime entry of it (without a focal "
        "run: better than its own first recorded solution, which on a focal-search start may be a "
        "post-optimisation step); last impr s: its `last_update_time`.",
        "improve hand-over s: processor seconds at which the improvement engine took over (statistics "
        '"improve_start_time": the focal search\'s first solution, its end or, without a solution, the '
        "smaller of 5 % of the budget and 0.2 s); first impr after hand-over s: from then to the first "
        "solution better than every one recorded before it (the engine's first solution when the focal "
        "search had none).",
        "peak MiB: peak resident memory (ru_maxrss) of the solving child process, Python included.",
        'improve 2 threads: the improve run with the option "threads" 2 (two searches that meet every '
        "5000 iterations; the budget is each thread's processor time). Columns with a budget in their name "
        "(e.g. improve 0.1 s): the improve runs at that budget, on the TSPLIB rows only.",
    ]
    return out


def render_markdown(rows, cols, meta: dict) -> str:
    out = [
        f"# Benchmark run `{meta['label']}` ({meta['suite']} suite)",
        "",
        f"- Date: {meta['created']}",
        f"- Machine: {meta['machine']}",
        f"- Commit: {meta['commit']}",
        f"- OR-Tools: {meta['ortools'] or 'not used'}; PyVRP: {meta['pyvrp'] or 'not used'}",
        f"- Command: `{meta['command']}`",
        "",
        render_markdown_table(rows, cols),
        "",
        "Summary:",
        "",
    ]
    out += [f"- {s}" for s in summary(rows, meta.get("runs", meta["solvers"]))] or ["- no rows"]
    out += ["", "Notes:", ""] + [f"- {n}" for n in notes(meta)]
    trouble = problems(rows)
    if trouble:
        out += ["", "Runs without valid routes:", ""] + [f"- {t}" for t in trouble]
    return "\n".join(out) + "\n"


def git_commit() -> str:
    try:
        head = subprocess.run(
            ["git", "-C", str(BENCH_DIR), "rev-parse", "--short", "HEAD"], capture_output=True, text=True, check=True
        ).stdout.strip()
        dirty = subprocess.run(
            ["git", "-C", str(BENCH_DIR), "status", "--porcelain", "--untracked-files=no"],
            capture_output=True,
            text=True,
            check=True,
        ).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return head + (" (with uncommitted changes)" if dirty else "")


def results_json(meta: dict, notes_: list, rows: list) -> str:
    """Indented header, one line per row (routes included, so any run can be re-checked)."""
    head = json.dumps({**meta, "notes": notes_, "rows": []}, indent=1, ensure_ascii=False)
    assert head.endswith('"rows": []\n}')
    body = ",\n  ".join(json.dumps(r, ensure_ascii=False) for r in rows)
    return head[: -len("[]\n}")] + "[\n  " + body + "\n ]\n}\n"


def write_atomic(path: pathlib.Path, text: str) -> None:
    tmp = path.with_name(path.name + ".tmp")
    tmp.write_text(text)
    tmp.replace(path)


def main(argv=None) -> int:
    args = parse_args(argv)
    missing = [
        s
        for s, module in (
            ("kvt", "_kvt_core"),
            ("kvt-improve", "_kvt_core"),
            ("kvt-improve-2", "_kvt_core"),
            ("ortools", "ortools"),
        )
        if s in args.solvers and importlib.util.find_spec(module) is None
    ]
    if missing:
        hint = {
            "kvt": "make module",
            "kvt-improve": "make module",
            "kvt-improve-2": "make module",
            "ortools": "make bench, or pip install 'ortools>=9.10'",
        }
        for s in missing:
            print(f"error: {SOLVERS[s]} is not installed in {sys.executable} ({hint[s]})", file=sys.stderr)
        return 2
    pyvrp, pyvrp_error = (None, None)
    if "pyvrp" in args.solvers:
        pyvrp, pyvrp_error = pyvrp_python()
        if pyvrp is None:
            print(f"warning: PyVRP rows fail: {pyvrp_error}", file=sys.stderr)

    bks = load_bks(args.bks_file)
    try:
        planned = plan_rows(args, bks)
    except (FileNotFoundError, ValueError) as err:
        print(f"error: {err}", file=sys.stderr)
        return 2

    meta = {
        "label": args.label,
        "suite": args.suite,
        "created": datetime.datetime.now().isoformat(timespec="seconds"),
        "machine": describe(),
        "commit": git_commit(),
        "ortools": (importlib.metadata.version("ortools") if "ortools" in args.solvers else None),
        "pyvrp": None,
        "command": " ".join(shlex.quote(a) for a in [pathlib.Path(sys.argv[0]).name] + sys.argv[1:]),
        "budget": args.budget,
        "variant_seed": VARIANT_SEED,
        "solvers": args.solvers,
        "short_budgets": args.short_budgets,
        "runs": run_keys(args),
    }
    keys = run_keys(args)
    total = sum(len(keys) if row["kind"] == "tsplib" else len(args.solvers) for row in planned)
    done = 0
    rows = []
    for row in planned:
        doc = row["make"]()
        text = json.dumps(doc)
        # The rules to check routes against; "improve" lifts the node limit of the reading and
        # changes no rule (the large rows have more nodes than the focal search takes).
        inst = Instance.from_document({**doc, "options": {**doc.get("options", {}), "improve": True}})
        results = {}
        for key in keys if row["kind"] == "tsplib" else args.solvers:
            solver, _, short = key.partition("@")
            budget = float(short) if short else args.budget
            done += 1
            why_not = applicable(solver, row, doc)
            start = time.perf_counter()
            if why_not is not None:
                res = {"solver": solver, "status": "unsupported", "message": why_not}
            elif solver == "pyvrp" and pyvrp is None:
                res = {"solver": solver, "status": "error", "message": f"PyVRP not available: {pyvrp_error}"}
            else:
                res = run_solver(solver, text, budget, pyvrp)
                check_result(inst, res)
                if solver == "pyvrp" and res.get("version"):
                    meta["pyvrp"] = res["version"]
            results[key] = res
            print(
                f"[{done}/{total}] {row['instance']} m={row['agents']} {row['objective']} {key}: "
                f"{res['status']} {fmt(res.get('value'))} ({time.perf_counter() - start:.1f} s)",
                file=sys.stderr,
                flush=True,
            )
        rows.append(make_row(row, args.budget, bks, results))

    cols = columns(keys)
    print(render_text(rows, cols))
    for line in summary(rows, keys):
        print("*", line)
    for line in problems(rows):
        print("!", line)

    args.out.mkdir(parents=True, exist_ok=True)
    md_path = args.out / f"bench-{args.label}.md"
    json_path = args.out / f"bench-{args.label}.json"
    write_atomic(md_path, render_markdown(rows, cols, meta))
    write_atomic(json_path, results_json(meta, notes(meta), rows))
    print(f"wrote {md_path} and {json_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
