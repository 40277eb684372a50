"""The `kvt-mtsp` command line: solve, convert-tsplib, validate."""

from __future__ import annotations

import argparse
import json
import math
import os
import pathlib
import stat
import sys
import threading
import time
from collections.abc import Callable, Sequence
from typing import Any, TextIO

from . import __version__
from .check import Finding, check_instance, exit_status, failure_reasons, summarise, summarise_console
from .instance import DEFAULT_TIME_LIMIT, Instance, InstanceError, unknown_references
from .results import Improvement, RouteEntry, SolveResult
from .tsplib import AGENT_TYPE, OBJECTIVES, ROUNDINGS, build_instance, parse_tsplib
from .validate import ResultError, validate_result

PROG = "kvt-mtsp"
MAX_NODES = 256  # the solver's limit
# Largest input file read: far above any instance the solver can take, small enough to refuse
# endless files (/dev/zero) before they exhaust memory.
MAX_INPUT_BYTES = 64 << 20


class CliError(Exception):
    """A failure the user can act on: reported as one line, exit status 2."""


# --- small helpers ---------------------------------------------------------------------------------


def _fail(path: str, reason: str) -> CliError:
    return CliError(f"{path}: {reason}")


def _read_text(path: str) -> str:
    """The whole file as text; endless, oversized and binary files are refused without reading
    them whole."""
    try:
        with open(path, "rb") as handle:
            info = os.fstat(handle.fileno())
            if stat.S_ISREG(info.st_mode) and info.st_size > MAX_INPUT_BYTES:
                raise _too_large(path)
            data = handle.read(MAX_INPUT_BYTES + 1)
    except FileNotFoundError:
        raise _fail(path, "no such file") from None
    except IsADirectoryError:
        raise _fail(path, "is a directory, not a file") from None
    except PermissionError:
        raise _fail(path, "permission denied") from None
    except MemoryError:
        raise _too_large(path) from None
    except OSError as err:
        raise _fail(path, err.strerror or str(err)) from None
    if len(data) > MAX_INPUT_BYTES:
        raise _too_large(path)
    if b"\0" in data:
        raise _fail(path, "not a text file (binary data)")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        raise _fail(path, "not a UTF-8 text file") from None


def _too_large(path: str) -> CliError:
    return _fail(path, f"too large: more than {MAX_INPUT_BYTES >> 20} MiB")


def _parse_json(path: str, text: str) -> Any:
    try:
        return json.loads(text)
    except json.JSONDecodeError as err:
        raise _fail(path, f"malformed JSON: {err.msg} (line {err.lineno}, column {err.colno})") from None
    except RecursionError:
        raise _fail(path, "cannot read: JSON nested too deeply") from None
    except MemoryError:
        raise _too_large(path) from None
    except ValueError as err:  # e.g. an integer beyond Python's digit limit
        reason = "a number has too many digits" if "digits" in str(err) else str(err)
        raise _fail(path, f"cannot read: {reason}") from None


def _read_document(path: str) -> Any:
    return _parse_json(path, _read_text(path))


def _read_instance(path: str) -> tuple[str, Any, Instance]:
    """The file's text, its document and the instance it describes."""
    text = _read_text(path)
    doc = _parse_json(path, text)
    try:
        return text, doc, Instance.from_document(doc)
    except InstanceError as err:
        raise _fail(path, f"not a valid instance: {err}") from None


def _load_instance(path: str) -> tuple[Any, Instance]:
    _, doc, instance = _read_instance(path)
    return doc, instance


def _check_writable(path: str | None) -> None:
    """Fails before a long solve rather than after it."""
    if path is None:
        return
    parent = pathlib.Path(path).resolve().parent
    if not parent.is_dir():
        raise _fail(path, f"cannot write: directory {parent} does not exist")
    if pathlib.Path(path).is_dir():
        raise _fail(path, "cannot write: is a directory")
    # Open it as the write will (permissions, read-only file systems), leaving an existing file
    # as it is and no new one behind.
    try:
        if os.path.lexists(path):
            with open(path, "ab"):
                pass
        else:
            with open(path, "xb"):
                pass
            os.unlink(path)
    except OSError as err:
        raise _fail(path, f"cannot write: {err.strerror or err}") from None


def _write_text(path: str, text: str) -> None:
    try:
        pathlib.Path(path).write_text(text, encoding="utf-8")
    except OSError as err:
        raise _fail(path, f"cannot write: {err.strerror or err}") from None


def dumps(value: Any, indent: int = 0) -> str:
    """JSON with one line per object or array of plain values: readable and still compact for
    matrices, node lists and paths."""
    plain = (str, int, float, bool, type(None))
    if isinstance(value, dict) and value and not all(isinstance(v, plain) for v in value.values()):
        pad = " " * (indent + 2)
        items = [f"{pad}{json.dumps(k)}: {dumps(v, indent + 2)}" for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + " " * indent + "}"
    if isinstance(value, list) and value and not all(isinstance(v, plain) for v in value):
        pad = " " * (indent + 2)
        return "[\n" + ",\n".join(pad + dumps(v, indent + 2) for v in value) + "\n" + " " * indent + "]"
    return json.dumps(value)


def _positive(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value > 0:
        raise argparse.ArgumentTypeError(f"must be positive, got {text}")
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number of seconds, got {text}")
    return value


def _agents(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    return value


def _seed(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(f"must be between 0 and 2^64 - 1, got {value}")
    return value


# --- solve -------------------------------------------------------------------------------------------


class Interrupted(Exception):
    """Ctrl-C stopped the solve; `result` holds the best solution found until then."""

    def __init__(self, result: SolveResult) -> None:
        super().__init__("interrupted")
        self.result = result


def _solve(
    path: str, text: str, instance: Instance, time_limit: float, quiet: bool, verbose: bool, budget: float
) -> SolveResult:
    """Solves on this thread, so that Ctrl-C stops the search; a helper thread redraws the bar."""
    import _kvt_core

    from .progress import ProgressBar
    from .solve import ConsoleLines

    found: list[Improvement] = []
    start = time.monotonic()
    interrupted = False
    try:
        with ConsoleLines() as native:
            bar = None if quiet else ProgressBar(budget, native.write_terminal, live=native.isatty())
            stop_ticks = _tick_every(0.1, bar.update) if bar is not None else None
            try:
                result = _kvt_core.solve_json_str(text, time_limit, callback=found.append, diagnostics=native)
            except KeyboardInterrupt:
                interrupted = True
            finally:
                if stop_ticks is not None:
                    stop_ticks()
                if bar is not None and not interrupted:
                    bar.finish()
                elif bar is not None and native.isatty():
                    native.write_terminal("\n")
    except (RuntimeError, ValueError, IndexError, MemoryError) as err:
        if verbose and native.text:
            sys.stderr.write(summarise_console(native.text))
        raise _refusal(path, err, instance) from None
    if verbose and native.text:
        sys.stderr.write(summarise_console(native.text))
    if interrupted:
        raise Interrupted(_best_so_far(instance, found, time.monotonic() - start))
    return result


def _tick_every(interval: float, tick: Callable[[], None]) -> Callable[[], None]:
    """Calls `tick` every `interval` seconds on a helper thread until the returned function is called."""
    done = threading.Event()

    def run() -> None:
        while not done.wait(interval):
            tick()

    worker = threading.Thread(target=run, name="kvt-progress", daemon=True)
    worker.start()

    def stop() -> None:
        done.set()
        worker.join()

    return stop


def _best_so_far(instance: Instance, found: list[Improvement], solve_time: float) -> SolveResult:
    """A result dictionary from the improvements the solve reported before it was stopped."""
    last = found[-1] if found else None
    routes: list[RouteEntry] = (
        last["routes"]
        if last is not None
        else [{"agent_id": agent.id, "path": [], "cost": 0.0} for agent in instance.agents]
    )
    costs = [route["cost"] for route in routes]
    return {
        "status": "success" if last is not None else "failed",
        "timeout": True,
        "routes": routes,
        "statistics": {
            "solve_time": solve_time,
            "max_cost": max([0.0] + costs),
            "sum_cost": sum(costs),
            "n_generated": last["n_generated"] if last is not None else 0,
            "n_expanded": last["n_expanded"] if last is not None else 0,
            "last_update_time": last["time"] if last is not None else 0.0,
        },
        "anytime": [{"time": e["time"], "max_cost": e["max_cost"], "sum_cost": e["sum_cost"]} for e in found],
    }


def _refusal(path: str, err: BaseException, instance: Instance) -> CliError:
    reason = str(err) or type(err).__name__
    if isinstance(err, IndexError):
        # The solver's own message is a bare lookup failure: name what it failed to find.
        found = unknown_references(instance)
        if found:
            reason = "; ".join(found)
    return _fail(path, f"the solver refused the instance: {reason}")


def route_table(instance: Instance, result: SolveResult) -> str:
    rows = [("agent", "type", "stops", "cost", "route")]
    for agent, route in zip(instance.agents, result["routes"]):
        path = route["path"]
        rows.append(
            (
                str(agent.id),
                agent.type,
                str(max(0, len(path) - 2)),
                f"{route['cost']:.2f}",
                " ".join(str(v) for v in path) or "-",
            )
        )
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    lines = []
    for r in rows:
        lines.append(f"{r[0]:>{widths[0]}}  {r[1]:<{widths[1]}}  {r[2]:>{widths[2]}}  {r[3]:>{widths[3]}}  {r[4]}")
    return "\n".join(lines)


def summary(instance: Instance, result: SolveResult, ending: str | None = None) -> str:
    stats = result["statistics"]
    if ending is None:
        ending = "stopped at the time limit" if result["timeout"] else "search completed"
    if result["status"] != "success":
        return f"no solution found ({ending})"
    value = stats["max_cost"] if instance.objective == "min_max" else stats["sum_cost"]
    improvements = len(result["anytime"])
    return (
        f"objective {instance.objective}: {value:.2f}  (max {stats['max_cost']:.2f}, "
        f"sum {stats['sum_cost']:.2f})\n"
        f"{improvements} improving solution{'s' if improvements != 1 else ''}, last after "
        f"{stats['last_update_time']:.3f} s of processor time; {ending} after "
        f"{stats['solve_time']:.2f} s; {stats['n_generated']} states generated"
    )


def _with_improvement(text: str, doc: Any, improve: bool | None, seed: int | None) -> str:
    """The instance text with the command line's improvement settings in its options.

    By default the command line improves, unless the instance itself says whether to; the text is
    passed on unchanged when there is nothing to set or its options cannot take the keys."""
    if not isinstance(doc, dict):
        return text
    options = doc.get("options", {})
    if not isinstance(options, dict):
        return text
    settings: dict[str, Any] = {}
    if improve is not None:
        settings["improve"] = improve
    elif "improve" not in options:
        settings["improve"] = True
    if seed is not None:
        settings["seed"] = seed
    if not settings:
        return text
    try:
        return json.dumps({**doc, "options": {**options, **settings}}, allow_nan=False)
    except ValueError:
        return text


def cmd_solve(args: argparse.Namespace, out: TextIO) -> int:
    text, doc, instance = _read_instance(args.instance)
    improved = _with_improvement(text, doc, args.improve, args.seed)
    if improved is not text:
        text, doc = improved, json.loads(improved)
    findings = _pre_check(doc, args.time_limit)
    _check_writable(args.output)
    _check_writable(args.plot)
    if args.plot:
        from .plot import PlotUnavailable, require_matplotlib

        try:
            require_matplotlib()
        except PlotUnavailable as err:
            raise CliError(f"--plot: {err}") from None
    budget = args.time_limit if args.time_limit is not None else instance.time_limit
    try:
        result = _solve(
            args.instance,
            text,
            instance,
            args.time_limit if args.time_limit is not None else -1.0,
            args.quiet,
            args.verbose,
            budget,
        )
    except Interrupted as stop:
        # What was found so far is kept; the plot is left out.
        out.write(route_table(instance, stop.result) + "\n" + summary(instance, stop.result, "interrupted") + "\n")
        if args.output:
            _write_text(args.output, dumps(stop.result) + "\n")
            out.write(f"result written to {args.output}\n")
        out.flush()
        raise
    out.write(route_table(instance, result) + "\n" + summary(instance, result) + "\n")
    out.flush()
    if result["status"] != "success":
        for reason in failure_reasons(findings, result, budget, len(instance.nodes), len(instance.agents)):
            print(f"{PROG}: no solution: {reason}", file=sys.stderr)
    if args.output:
        _write_text(args.output, dumps(result) + "\n")
        out.write(f"result written to {args.output}\n")
        out.flush()
    if args.plot:
        from .plot import save_plot

        try:
            save_plot(
                instance, result, args.plot, title=instance.name or pathlib.Path(args.instance).stem, budget=budget
            )
        except OSError as err:
            raise _fail(args.plot, f"cannot write: {err.strerror or err}") from None
        out.write(f"plot written to {args.plot}\n")
        out.flush()
    return 0 if result["status"] == "success" else 1


# --- convert-tsplib ------------------------------------------------------------------------------------


def cmd_convert(args: argparse.Namespace, out: TextIO) -> int:
    text = _read_text(args.file)
    try:
        tsp = parse_tsplib(text, fallback_name=pathlib.Path(args.file).stem)
    except ValueError as err:
        raise _fail(args.file, f"not a TSPLIB EUC_2D file: {err}") from None
    try:
        doc = build_instance(tsp, args.agents, args.objective, args.time_limit, args.rounding)
    except OverflowError:
        doc = None
    if doc is None or not all(math.isfinite(d) for row in doc["costs"][AGENT_TYPE] for d in row):
        raise _fail(args.file, "not a TSPLIB EUC_2D file: coordinates so large that distances overflow")
    if len(tsp.points) > MAX_NODES:
        print(
            f"{PROG}: note: {len(tsp.points)} nodes; the solver handles at most {MAX_NODES} "
            f"(up to 2000 with improve on, the default of {PROG} solve)",
            file=sys.stderr,
        )
    text = dumps(doc) + "\n"
    if args.output:
        _check_writable(args.output)
        _write_text(args.output, text)
    else:
        out.write(text)
    return 0


# --- validate ------------------------------------------------------------------------------------------


def cmd_validate(args: argparse.Namespace, out: TextIO) -> int:
    _, instance = _load_instance(args.instance)
    result = _read_document(args.result)
    try:
        violations = validate_result(instance, result)
    except ResultError as err:
        raise _fail(args.result, f"not a result: {err}") from None
    if violations:
        for v in violations:
            out.write(f"{args.result}: {v}\n")
        out.write(f"{args.result}: {len(violations)} violation{'s' if len(violations) != 1 else ''}\n")
        return 1
    served = len({n.id for n in instance.nodes})
    value = (
        result["statistics"]["max_cost" if instance.objective == "min_max" else "sum_cost"]
        if isinstance(result.get("statistics"), dict)
        else None
    )
    objective = f", {instance.objective} {value:.2f}" if isinstance(value, (int, float)) else ""
    out.write(f"OK: {len(result['routes'])} routes cover all {served} nodes{objective}\n")
    return 0


# --- batch ---------------------------------------------------------------------------------------------


def _workers(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    return value


def cmd_batch(args: argparse.Namespace, out: TextIO) -> int:
    from .batch import BatchError, run_batch

    try:
        return run_batch(
            args.paths,
            args.out,
            workers=args.workers,
            scheduler=args.scheduler,
            time_limit=args.time_limit,
            improve=args.improve,
            seed=args.seed,
            quiet=args.quiet,
            out=out,
            err=sys.stderr,
        )
    except BatchError as err:
        raise CliError(str(err)) from None
    except ImportError as err:
        raise CliError(f"--scheduler: {err}") from None


# --- check ---------------------------------------------------------------------------------------------


def _pre_check(doc: Any, time_limit: float | None) -> list[Finding]:
    """The instance check before a solve: its warnings on standard error, many alike as one line.
    Documents the solver refuses are left to the solver's own message."""
    findings = check_instance(doc, time_limit=time_limit)
    if exit_status(findings) < 2:
        for line in summarise(findings):
            print(f"{PROG}: warning: {line}", file=sys.stderr)
        sys.stderr.flush()
    return findings


def cmd_check(args: argparse.Namespace, out: TextIO) -> int:
    findings = check_instance(_read_document(args.instance))
    for finding in findings:
        out.write(f"{args.instance}: {finding.severity}: {finding}\n")
    errors = sum(f.severity == "error" for f in findings)
    warnings = len(findings) - errors
    counts = [f"{n} {word}{'s' if n != 1 else ''}" for n, word in ((errors, "error"), (warnings, "warning")) if n]
    out.write(f"{args.instance}: {', '.join(counts) or 'no findings'}\n")
    return exit_status(findings)


# --- entry point ------------------------------------------------------------------------------------------


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, description="KVT MTSP Solver: multi-agent routing from the command line."
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    solve = commands.add_parser(
        "solve", help="solve a JSON instance", description="Solve a JSON instance and print its routes."
    )
    solve.add_argument("instance", metavar="INSTANCE.json")
    solve.add_argument(
        "--time-limit",
        type=_positive,
        metavar="S",
        help="time budget in processor seconds (default: the instance's options.time_limit, "
        f"else {DEFAULT_TIME_LIMIT:g})",
    )
    solve.add_argument("--output", "-o", metavar="RESULT.json", help="write the result dictionary as JSON")
    solve.add_argument("--plot", metavar="ROUTES.png", help="draw the routes and the anytime curve (needs matplotlib)")
    solve.add_argument(
        "--improve",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="spend the budget left after the focal search's first solution improving the "
        "routes (default: on, unless the instance's options say otherwise); "
        "--no-improve runs the focal search alone",
    )
    solve.add_argument(
        "--seed",
        type=_seed,
        metavar="N",
        help="seed of the improvement's random choices (default: the instance's, else 0)",
    )
    solve.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    solve.add_argument(
        "--verbose",
        "-v",
        action="store_true",
        help="show the solver's own console output (warnings, search notes) after the solve",
    )
    solve.set_defaults(run=cmd_solve)

    convert = commands.add_parser(
        "convert-tsplib",
        help="turn a TSPLIB EUC_2D file into an instance",
        description="Turn a TSPLIB EUC_2D file into a JSON instance: the first node "
        "is the depot, where every agent starts and ends; one agent type.",
    )
    convert.add_argument("file", metavar="FILE.tsp")
    convert.add_argument("--agents", "-m", type=_agents, required=True, metavar="M", help="number of agents")
    convert.add_argument("--objective", choices=OBJECTIVES, default="min_max")
    convert.add_argument(
        "--rounding",
        choices=ROUNDINGS,
        default="real",
        help="real: unrounded Euclidean distances; nint: rounded to the nearest integer as "
        "TSPLIB defines EUC_2D (default: real)",
    )
    convert.add_argument(
        "--time-limit",
        type=_positive,
        default=DEFAULT_TIME_LIMIT,
        metavar="S",
        help=f"the instance's time budget (default {DEFAULT_TIME_LIMIT:g})",
    )
    convert.add_argument("--output", "-o", metavar="OUT.json", help="write here instead of standard output")
    convert.set_defaults(run=cmd_convert)

    validate = commands.add_parser(
        "validate",
        help="check a result against its instance",
        description="Recompute every route of a result against its instance and "
        "list each violation; exit status 1 when there is one.",
    )
    validate.add_argument("instance", metavar="INSTANCE.json")
    validate.add_argument("result", metavar="RESULT.json")
    validate.set_defaults(run=cmd_validate)

    check = commands.add_parser(
        "check",
        help="list what the solver will read differently than meant",
        description="List every place where the solver will read the instance other "
        "than its writer likely meant, and what makes it unsolvable; exit "
        "status 0 without findings, 1 with warnings only, 2 when the solver "
        "would refuse it.",
    )
    check.add_argument("instance", metavar="INSTANCE.json")
    check.set_defaults(run=cmd_check)

    batch = commands.add_parser(
        "batch",
        help="solve many instances on all cores or on a Dask cluster",
        description="Solve every instance (files, or folders of .json files) and "
        "write one result per instance and a summary (summary.md, "
        "summary.csv) into the output folder; exit status 1 when an "
        "instance was not solved.",
    )
    batch.add_argument("paths", nargs="+", metavar="PATH", help="instance file or folder of instance files")
    batch.add_argument("--out", required=True, metavar="DIR", help="folder for the results and the summary")
    batch.add_argument("--workers", type=_workers, metavar="N", help="worker processes (default: one per core)")
    batch.add_argument(
        "--scheduler",
        metavar="ADDRESS|local",
        help="solve on a Dask cluster: a scheduler's address, or 'local' for one on this "
        "machine (needs the 'cluster' extra)",
    )
    batch.add_argument(
        "--time-limit",
        type=_positive,
        metavar="S",
        help="time budget per instance in processor seconds (default: each instance's own)",
    )
    batch.add_argument(
        "--improve",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="run the improvement search after the focal search (default: each instance's options)",
    )
    batch.add_argument("--seed", type=int, metavar="N", help="seed of the improvement search")
    batch.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    batch.set_defaults(run=cmd_batch)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        status: int = args.run(args, sys.stdout)
        return status
    except CliError as err:
        sys.stdout.flush()
        print(f"{PROG}: error: {err}", file=sys.stderr)
        return 2
    except (Interrupted, KeyboardInterrupt):
        sys.stdout.flush()
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # Output piped into a reader that stopped (e.g. `| head`).
        sys.stderr.close()
        return 1
