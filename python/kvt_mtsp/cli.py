"""The `kvt-mtsp` command line: solve, convert-tsplib, convert-vrplib, validate, check, batch."""

from __future__ import annotations

import argparse
import dataclasses
import math
import os
import pathlib
import signal
import sys
import threading
import time
from collections.abc import Callable, Sequence
from typing import Any, TextIO

from . import __version__, engine
from .batch import Outcome, instance_paths, solve_many, summary_csv, summary_markdown, summary_rows
from .check import Finding, check_reading, exit_status, failure_reasons, summarise, summarise_console
from .document import Parsed
from .inputs import DEFAULT_IMPROVE, InputError, as_solved, read_document, read_text, refusal
from .instance import Instance, Reading, read_instance
from .results import Improvement, SolveResult, dumps
from .solution import stopped_result
from .tsplib import AGENT_TYPE, OBJECTIVES, ROUNDINGS, build_instance, parse_tsplib
from .validate import ResultError, validate_result

PROG = "kvt-mtsp"


class CliError(Exception):
    """A failure the user can act on: reported as one line, exit status 2."""


class BatchError(CliError):
    """A fault of the batch command itself (no instances, an unusable output folder)."""


# --- small helpers ---------------------------------------------------------------------------------


def _fail(path: str, reason: str) -> CliError:
    return CliError(f"{path}: {reason}")


def _read(path: str) -> tuple[str, Parsed]:
    """The file's text and document; one line naming the path when it cannot be read."""
    try:
        return read_document(path)
    except InputError as err:
        raise _fail(path, str(err)) from None


def _read_solved(
    path: str,
    improve: bool | None = None,
    seed: int | None = None,
    iterations: int | None = None,
    rules: dict[str, bool | None] | None = None,
    threads: int | None = None,
) -> tuple[str, Any, Reading]:
    """The text and document a solve of the file runs (improvement on unless the flags or the
    instance say; with `rules`, the rules the instance carries enforced unless the flags or its
    options say; `threads` improvement searches, else the instance's, else one per core) and the
    solver's reading of it."""
    text, doc = as_solved(
        *_read(path), improve, seed, iterations=iterations, rules=rules, threads=threads, default_threads=0
    )
    return text, doc, read_instance(doc)


RULE_NAMES = {"enforce_capacity": "capacities", "enforce_precedence": "precedence pairs"}


def _enforced(doc: Any) -> list[str]:
    """The rules the solve's options turn on, by name."""
    options = doc.get("options") if isinstance(doc, dict) else None
    if not isinstance(options, dict):
        return []
    return [label for key, label in RULE_NAMES.items() if options.get(key) is True]


def _refused(path: str, reading: Reading) -> None:
    """Fails with the finding the solver refuses the document for."""
    if reading.refused:
        raise _fail(path, refusal(reading.refusal))


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


def _threads(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if not 0 <= value < 2**32:
        raise argparse.ArgumentTypeError(f"must be between 0 and 2^32 - 1, got {value}")
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

    from .console import ConsoleLines
    from .progress import ProgressBar

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
        raise _fail(path, refusal(None, err)) from None
    if verbose and native.text:
        sys.stderr.write(summarise_console(native.text))
    if interrupted:
        raise Interrupted(stopped_result(instance, found, time.monotonic() - start))
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


def schedule_table(instance: Instance, result: SolveResult) -> str:
    """Every stop of every route: its arrival, the wait for its window and the start of service."""
    from .validate import walk_route

    rows = [("agent", "#", "node", "arrival", "wait", "start")]
    for agent, route in zip(instance.agents, result["routes"]):
        for i, (node, arrival, wait, start) in enumerate(walk_route(instance, agent, route["path"])):
            rows.append((str(agent.id), str(i), str(node), f"{arrival:.2f}", f"{wait:.2f}", f"{start:.2f}"))
    widths = [max(len(r[i]) for r in rows) for i in range(6)]
    return "\n".join("  ".join(f"{c:>{w}}" for c, w in zip(r, widths)) for r in rows)


def schedule_rows(instance: Instance, result: SolveResult) -> list[dict[str, Any]]:
    from .validate import walk_route

    return [
        {"agent_id": agent.id, "position": i, "node": node, "arrival": arrival, "wait": wait, "start": start}
        for agent, route in zip(instance.agents, result["routes"])
        for i, (node, arrival, wait, start) in enumerate(walk_route(instance, agent, route["path"]))
    ]


def summary(instance: Instance, result: SolveResult, ending: str | None = None) -> str:
    stats = result["statistics"]
    if ending is None:
        ending = "stopped at the time limit" if result["timeout"] else "search completed"
    if result["status"] != "success":
        return f"no solution found ({ending})"
    value = stats["max_cost"] if instance.objective == "min_max" else stats["sum_cost"]
    improvements = len(result["anytime"])
    last = result["anytime"][-1]["time"] if result["anytime"] else stats["last_update_time"]
    return (
        f"objective {instance.objective}: {value:.2f}  (max {stats['max_cost']:.2f}, "
        f"sum {stats['sum_cost']:.2f})\n"
        f"{improvements} improving solution{'s' if improvements != 1 else ''}, the last found after "
        f"{last:.3f} s of processor time; {ending} after "
        f"{stats['solve_time']:.2f} s; {stats['n_generated']} states generated"
    )


def cmd_solve(args: argparse.Namespace, out: TextIO) -> int:
    rules = {"enforce_capacity": args.enforce_capacity, "enforce_precedence": args.enforce_precedence}
    text, doc, reading = _read_solved(
        args.instance, args.improve, args.seed, args.improve_iterations, rules, args.threads
    )
    _refused(args.instance, reading)
    enforced = _enforced(doc)
    if enforced:
        out.write(f"enforcing {' and '.join(enforced)}\n")
    findings = _pre_check(doc, reading, args.time_limit)
    # The matrices are of no use past the check, but for the schedule; the solver reads its own
    # from the text.
    show_schedule = args.schedule if args.schedule is not None else bool(reading.instance.windows)
    instance = reading.instance if show_schedule else dataclasses.replace(reading.instance, costs={})
    del doc, reading
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
    out.write(route_table(instance, result) + "\n")
    if show_schedule and result["status"] == "success":
        out.write(schedule_table(instance, result) + "\n")
    out.write(summary(instance, result) + "\n")
    out.flush()
    if show_schedule and result["status"] == "success":
        result = {**result, "schedule": schedule_rows(instance, result)}  # type: ignore[typeddict-unknown-key]
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
    try:
        text = read_text(args.file)
    except InputError as err:
        raise _fail(args.file, str(err)) from None
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
    if len(tsp.points) > engine.MAX_NODES:
        print(
            f"{PROG}: note: {len(tsp.points)} nodes; the solver handles at most {engine.MAX_NODES} "
            f"(up to {engine.MAX_IMPROVE_NODES} with improve on, the default of {PROG} solve)",
            file=sys.stderr,
        )
    text = dumps(doc) + "\n"
    if args.output:
        _check_writable(args.output)
        _write_text(args.output, text)
    else:
        out.write(text)
    return 0


# --- convert-vrplib ------------------------------------------------------------------------------------


def cmd_convert_vrplib(args: argparse.Namespace, out: TextIO) -> int:
    from .vrplib_convert import VrplibError, convert, read_vrplib

    try:
        text = read_text(args.file)
    except InputError as err:
        raise _fail(args.file, str(err)) from None
    _check_writable(args.output)
    try:
        converted = convert(
            read_vrplib(args.file, text),
            name=pathlib.Path(args.file).name,
            agents=args.agents,
            objective=args.objective,
            rounding=args.rounding,
            time_limit=args.time_limit,
        )
    except VrplibError as err:
        raise _fail(args.file, str(err)) from None
    for line in converted.warnings:
        print(f"{PROG}: warning: {args.file}: {line}", file=sys.stderr)
    doc = converted.document
    _write_text(args.output, dumps(doc) + "\n")
    types = len({a["type"] for a in doc["agents"]})
    rules = [key[len("enforce_") :] for key in ("enforce_capacity", "enforce_precedence") if doc["options"].get(key)]
    out.write(
        f"{args.output}: {len(doc['nodes'])} nodes, {len(doc['agents'])} agents of {types} "
        f"type{'s' if types != 1 else ''}; rules turned on: {', '.join(rules) or 'none'}\n"
    )
    if len(doc["nodes"]) > engine.MAX_IMPROVE_NODES:
        print(
            f"{PROG}: note: {len(doc['nodes'])} nodes; the solver handles at most {engine.MAX_IMPROVE_NODES}",
            file=sys.stderr,
        )
    return 0


# --- validate ------------------------------------------------------------------------------------------


def cmd_validate(args: argparse.Namespace, out: TextIO) -> int:
    _, _, reading = _read_solved(args.instance)
    _refused(args.instance, reading)
    instance = reading.instance
    result = _read(args.result)[1].document
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
    rules = [
        name
        for name, on in (("capacities", instance.enforce_capacity), ("precedence pairs", instance.enforce_precedence))
        if on
    ]
    obeyed = f"; {' and '.join(rules)} obeyed" if rules else ""
    out.write(f"OK: {len(result['routes'])} routes cover all {served} nodes{objective}{obeyed}\n")
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
    try:
        return run_batch(
            args.paths,
            args.out,
            workers=args.workers,
            scheduler=args.scheduler,
            time_limit=args.time_limit,
            improve=args.improve,
            seed=args.seed,
            threads=1 if args.threads is None else args.threads,
            quiet=args.quiet,
            out=out,
            err=sys.stderr,
        )
    except ImportError as err:
        raise CliError(f"--scheduler: {err}") from None


def _file_stem(name: str) -> str:
    safe = "".join(c if c.isalnum() or c in "-_." else "_" for c in name).strip(".")
    return safe or "instance"


class _InstanceBar:
    """The progress bar over the instances of a batch, redrawn twice a second on a terminal."""

    def __init__(self, total: int, write: Callable[[str], None], live: bool) -> None:
        from .progress import ProgressBar

        self.total = total
        self.done = 0
        self._lock = threading.Lock()
        self._bar = ProgressBar(float(total), write, live, label="batch")
        self._bar.render = self._render  # type: ignore[method-assign]
        self._stop = threading.Event()
        self._ticker = threading.Thread(target=self._tick, name="kvt-batch-bar", daemon=True) if live else None
        if self._ticker is not None:
            self._ticker.start()

    def _render(self, elapsed: float, done: bool) -> str:
        width = self._bar.width
        filled = int(round(width * self.done / self.total)) if self.total else width
        return f"batch [{'#' * filled}{'-' * (width - filled)}] {self.done}/{self.total} instances  {elapsed:5.1f} s"

    def _tick(self) -> None:
        while not self._stop.wait(0.5):
            with self._lock:
                self._bar.update()

    def advance(self) -> None:
        with self._lock:
            self.done += 1
            self._bar.update()

    def finish(self) -> None:
        self._stop.set()
        if self._ticker is not None:
            self._ticker.join()
        with self._lock:
            self._bar.finish()


def run_batch(
    paths: Sequence[str],
    out_dir: str,
    *,
    workers: int | None = None,
    scheduler: str | None = None,
    time_limit: float | None = None,
    improve: bool | None = None,
    seed: int | None = None,
    threads: int | None = None,
    quiet: bool = False,
    out: TextIO,
    err: TextIO,
) -> int:
    """`kvt-mtsp batch`: solves the instances, writes one result per instance and the summary into
    `out_dir` and prints the summary. Exit status 0 when every instance was solved, 1 otherwise, 130
    after Ctrl-C (with the summary of the instances that finished)."""
    files = instance_paths(paths)
    if not files:
        raise BatchError("no instances: " + " ".join(paths) + " name no .json files")
    folder = pathlib.Path(out_dir)
    try:
        folder.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        raise BatchError(f"{out_dir}: cannot create the output folder: {error.strerror or error}") from None
    if not folder.is_dir() or not os.access(folder, os.W_OK):
        raise BatchError(f"{out_dir}: the output folder is not writable")

    def write(path: pathlib.Path, text: str) -> None:
        try:
            path.write_text(text, encoding="utf-8")
        except OSError as error:
            raise BatchError(f"{path}: cannot write: {error.strerror or error}") from None

    # Like `kvt-mtsp solve`: improve unless told otherwise or the instance says.
    try:
        outcomes = solve_many(
            files,
            time_limit=time_limit,
            improve=improve,
            seed=seed,
            threads=threads,
            workers=workers,
            scheduler=scheduler,
            default_improve=DEFAULT_IMPROVE,
        )
    except ValueError as error:
        raise BatchError(str(error)) from None

    def show(text: str) -> None:
        err.write(text)
        err.flush()

    bar = None if quiet else _InstanceBar(len(files), show, live=hasattr(err, "isatty") and err.isatty())
    finished: list[Outcome] = []
    taken: set[str] = set()
    interrupted = False
    try:
        for outcome in outcomes:
            finished.append(outcome)
            if outcome.result is not None:
                stem = _file_stem(outcome.name)
                while stem.lower() in taken:
                    stem += "_"
                taken.add(stem.lower())
                write(folder / f"{stem}.result.json", dumps(outcome.result) + "\n")
            if bar is not None:
                bar.advance()
    except KeyboardInterrupt:
        interrupted = True
    except ConnectionError as error:
        raise BatchError(str(error)) from None
    finally:
        outcomes.close()
        if bar is not None:
            bar.finish()
    rows = summary_rows(finished)
    if interrupted:
        # What the interruption left unsolved is listed as not run, after what finished.
        done = {o.index for o in finished}
        rows += [
            (pathlib.Path(f).stem, "not run", "", "", "", "", "interrupted before it finished")
            for i, f in enumerate(files)
            if i not in done
        ]
    table = summary_markdown(rows)
    write(folder / "summary.md", table)
    write(folder / "summary.csv", summary_csv(rows))
    out.write(table)
    out.flush()
    if interrupted:
        err.write(f"kvt-mtsp: interrupted: {len(finished)} of {len(files)} instances finished\n")
        err.flush()
        return _interrupt_status()
    return 0 if all(o.status == "success" for o in finished) else 1


# --- check ---------------------------------------------------------------------------------------------


def _pre_check(doc: Any, reading: Reading, time_limit: float | None) -> list[Finding]:
    """The instance check before a solve of a document the solver reads: its warnings on standard
    error, many alike as one line."""
    findings = check_reading(doc, reading, time_limit=time_limit)
    for line in summarise(findings):
        print(f"{PROG}: warning: {line}", file=sys.stderr)
    sys.stderr.flush()
    return findings


def cmd_check(args: argparse.Namespace, out: TextIO) -> int:
    # The document as `kvt-mtsp solve` runs it: improvement on unless the instance says.
    _, doc, reading = _read_solved(args.instance)
    findings = check_reading(doc, reading)
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
        f"else {engine.DEFAULT_TIME_LIMIT:g})",
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
    solve.add_argument(
        "--improve-iterations",
        type=int,
        metavar="N",
        help="cap on the improvement's iterations (0: none); with --seed a run repeats exactly "
        "(on another machine with --threads too)",
    )
    solve.add_argument(
        "--threads",
        type=_threads,
        metavar="N",
        help="improvement searches working on the instance together, one thread each (default: the "
        "instance's options.threads, else one per core; 0: one per core)",
    )
    solve.add_argument(
        "--enforce-capacity",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="routes keep within the agents' capacities (default: on when the instance has a positive "
        "capacity and a positive demand and its options do not say, and the solve improves); "
        "--no-enforce-capacity lets them carry any load",
    )
    solve.add_argument(
        "--enforce-precedence",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="routes keep the instance's precedence pairs (default: on when it has any and its "
        "options do not say, and the solve improves); --no-enforce-precedence ignores them",
    )
    solve.add_argument(
        "--schedule",
        action=argparse.BooleanOptionalAction,
        default=None,
        help="list every stop's arrival, wait and start of service, and write them to --output as "
        '"schedule" (default: on when the instance has time windows)',
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
        default=engine.DEFAULT_TIME_LIMIT,
        metavar="S",
        help=f"the instance's time budget (default {engine.DEFAULT_TIME_LIMIT:g})",
    )
    convert.add_argument("--output", "-o", metavar="OUT.json", help="write here instead of standard output")
    convert.set_defaults(run=cmd_convert)

    vrp = commands.add_parser(
        "convert-vrplib",
        help="turn a VRPLIB file into an instance (needs the 'vrplib' extra)",
        description="Turn a VRPLIB file (CVRP, VRPTW, several depots, heterogeneous fleets, "
        "clients allowed per vehicle, route durations, pickup and delivery; read with the "
        "vrplib package) into a JSON instance. Service times are folded into the cost of "
        "leaving a node; what the instance format cannot express is named in a warning.",
    )
    vrp.add_argument("file", metavar="FILE.vrp")
    vrp.add_argument(
        "--agents",
        "-m",
        type=_agents,
        metavar="N",
        help="agents at each depot (default: the file's VEHICLES, else one per client)",
    )
    vrp.add_argument("--objective", choices=("min_sum", "min_max"), default="min_sum")
    vrp.add_argument(
        "--rounding",
        choices=ROUNDINGS,
        default="real",
        help="real: distances as the file gives them (unrounded Euclidean for coordinates); nint: "
        "rounded to the nearest integer, as TSPLIB and CVRPLIB values assume (default: real)",
    )
    vrp.add_argument(
        "--time-limit",
        type=_positive,
        default=engine.DEFAULT_TIME_LIMIT,
        metavar="S",
        help=f"the instance's time budget (default {engine.DEFAULT_TIME_LIMIT:g})",
    )
    vrp.add_argument("--output", "-o", required=True, metavar="OUT.json", help="the instance file to write")
    vrp.set_defaults(run=cmd_convert_vrplib)

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
    batch.add_argument(
        "--threads",
        type=_threads,
        metavar="N",
        help="improvement searches per instance, one thread each, in place of the instances' own "
        "(default 1; 0: one per core); on this machine the workers times N never exceed the cores, "
        "so the default workers are the cores divided by N",
    )
    batch.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    batch.set_defaults(run=cmd_batch)

    from .service.cli import add_arguments as serve_arguments
    from .service.cli import run as run_serve

    serve = commands.add_parser(
        "serve", help="serve the solver over HTTP, with a page to watch a solve (the 'serve' extra)"
    )
    serve_arguments(serve)
    serve.set_defaults(run=lambda args, out: run_serve(args))
    return parser


class Terminated(KeyboardInterrupt):
    """SIGTERM, handled like Ctrl-C: the search stops and what was found is kept."""


_TERMINATED = [False]  # set by the SIGTERM handler of `main`


def _on_sigterm(signum: int, frame: Any) -> None:
    _TERMINATED[0] = True
    raise Terminated()


def _interrupt_status() -> int:
    """128 + the signal's number: 143 after SIGTERM, 130 after Ctrl-C."""
    return 143 if _TERMINATED[0] else 130


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    previous = None
    if threading.current_thread() is threading.main_thread():
        previous = signal.signal(signal.SIGTERM, _on_sigterm)
    try:
        status: int = args.run(args, sys.stdout)
        return status
    except CliError as err:
        sys.stdout.flush()
        print(f"{PROG}: error: {err}", file=sys.stderr)
        return 2
    except (Interrupted, KeyboardInterrupt):
        sys.stdout.flush()
        print(f"{PROG}: {'terminated' if _TERMINATED[0] else 'interrupted'}", file=sys.stderr)
        return _interrupt_status()
    except BrokenPipeError:
        # Output piped into a reader that stopped (e.g. `| head`).
        sys.stderr.close()
        return 1
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
        _TERMINATED[0] = False
