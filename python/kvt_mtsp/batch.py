"""Solving many instances at once: on a pool of worker processes on this machine, or on a Dask cluster.

`solve_many` yields one `Outcome` per instance as it finishes. Locally every instance is solved in a
worker process of a pool, one solve per process at a time. The search releases the interpreter lock,
so threads would run in parallel as well, and no slower; processes are used because a solve then
keeps to itself what threads would share: the memory guard bounds all searches of a process
together (parallel searches in one process would stop one another early, and a result would depend
on its neighbours), a solve that takes its process down (killed, out of memory) costs only its own
instance one retry, and Ctrl-C ends running searches at once. Starting a worker costs a fraction of
a second, once per worker. The workers are started with the "spawn" method, so a script that calls
`solve_many` must guard its top level with `if __name__ == "__main__":`.

With `scheduler`, the instances go to a Dask distributed cluster (the `cluster` extra: the package
`distributed`); its workers need this package installed. "local" starts a cluster of worker processes
on this machine for the batch.
"""

from __future__ import annotations

import collections
import importlib
import importlib.util
import json
import math
import os
import pathlib
import signal
import time
import uuid
from collections.abc import Callable, Generator, Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Union

from .inputs import InputError, as_solved, read_document, refusal, solve_settings, with_settings
from .instance import read_instance
from .results import SolveResult

if TYPE_CHECKING:
    from multiprocessing.connection import Connection
    from multiprocessing.context import SpawnContext, SpawnProcess

InstanceSource = Union[str, "os.PathLike[str]", Mapping[str, Any]]

STATUS_ERROR = "error"  # the instance was not solved: unreadable, refused, or its worker died
MAX_ATTEMPTS = 2  # a worker that dies during an instance costs it one retry

# What a solve hands back: result, error type and text, wall and processor seconds, console text.
_Reply = tuple[SolveResult | None, str, str, float, float, str]


@dataclass(frozen=True)
class Outcome:
    """One instance of a batch: its result dictionary, or why it has none."""

    name: str  # file stem, the document's "name", or "instance-<position>"; unique within the batch
    result: SolveResult | None = None  # None when the instance was not solved
    error: str | None = None  # one line: why there is no result
    wall_time: float = 0.0  # seconds of the solve (of its last attempt)
    cpu_time: float = 0.0  # processor seconds its process spent meanwhile (a Dask worker's other threads too)
    index: int = 0  # position among the instances handed to `solve_many`
    source: str | None = None  # the file it was read from
    objective: str = "min_sum"  # the instance's objective: "min_max" or "min_sum"
    attempts: int = 0  # solves started for it: 2 after its worker died once (on Dask: only when it failed)
    console: str = ""  # the solver's own console lines (warnings, notes)

    @property
    def status(self) -> str:
        """ "success" or "failed" (the result's status), or "error" when it was not solved."""
        return STATUS_ERROR if self.result is None else self.result["status"]

    @property
    def objective_value(self) -> float | None:
        """The longest route (min_max) or the total (min_sum); None without a solution."""
        if self.result is None or self.result["status"] != "success":
            return None
        stats = self.result["statistics"]
        return stats["max_cost"] if self.objective == "min_max" else stats["sum_cost"]


@dataclass
class _Job:
    index: int
    name: str
    source: str | None
    text: str
    time_limit: float
    objective: str
    attempts: int = 0


# --- preparing the instances -------------------------------------------------------------------------


class _Names:
    def __init__(self) -> None:
        self._used: set[str] = set()

    def take(self, wanted: str) -> str:
        name, n = wanted, 1
        while name in self._used:
            n += 1
            name = f"{wanted}-{n}"
        self._used.add(name)
        return name


def _prepare(
    index: int,
    item: Any,
    names: _Names,
    time_limit: float,
    improve: bool | None,
    seed: int | None,
    default_improve: bool | None,
    threads: int | None = None,
) -> _Job | Outcome:
    """The job for one instance, or the outcome of one that cannot be solved: unreadable, or a
    document the solver refuses (named by the finding of its reading)."""
    source: str | None = None
    if isinstance(item, (str, os.PathLike)):
        source = os.fspath(item)
        name = names.take(pathlib.Path(source).stem or f"instance-{index + 1}")
        try:
            text, parsed = read_document(source)
        except InputError as err:
            return Outcome(name, error=f"{source}: {err}", index=index, source=source)
        text, doc = as_solved(text, parsed, improve, seed, default_improve, threads=threads)
    elif isinstance(item, Mapping):
        label = item.get("name")
        name = names.take(label if isinstance(label, str) and label else f"instance-{index + 1}")
        doc = with_settings(dict(item), solve_settings(item, improve, seed, default_improve, threads=threads))
        try:
            text = json.dumps(doc)
        except (TypeError, ValueError) as err:
            return Outcome(name, error=f"not a JSON document: {err}", index=index)
    else:
        name = names.take(f"instance-{index + 1}")
        return Outcome(
            name,
            error=f"not an instance: expected a path or a parsed document, got {type(item).__name__}",
            index=index,
        )
    reading = read_instance(doc)
    objective = reading.instance.objective
    if reading.refused:
        where = f"{source}: " if source else ""
        return Outcome(name, error=where + refusal(reading.refusal), index=index, source=source, objective=objective)
    return _Job(index, name, source, text, time_limit, objective)


def _outcome(job: _Job, reply: _Reply) -> Outcome:
    result, kind, text, wall, cpu, console = reply
    where = f"{job.source}: " if job.source else ""
    error = None if result is not None else where + refusal(None, text or kind)
    return Outcome(
        job.name,
        result=result,
        error=error,
        wall_time=wall,
        cpu_time=cpu,
        index=job.index,
        source=job.source,
        objective=job.objective,
        attempts=job.attempts,
        console=console,
    )


def _died(job: _Job, cause: str, wall: float) -> Outcome:
    tries = "also on a retry" if job.attempts > 1 else "no retry left"
    where = f"{job.source}: " if job.source else ""
    return Outcome(
        job.name,
        error=f"{where}the worker solving it died ({cause}), {tries}",
        wall_time=wall,
        index=job.index,
        source=job.source,
        objective=job.objective,
        attempts=job.attempts,
    )


# --- one solve, wherever it runs ------------------------------------------------------------------------


def _solve_text(text: str, time_limit: float) -> _Reply:
    """`solve_json_str` on the calling thread, timed, with the solver's console lines collected."""
    import _kvt_core

    from .console import ConsoleLines

    result: SolveResult | None = None
    kind = message = ""
    console = ConsoleLines()
    # The search runs on a thread of its own while this one waits: count the process's time.
    wall, cpu = time.perf_counter(), time.process_time()
    try:
        try:
            result = _kvt_core.solve_json_str(text, time_limit, diagnostics=console)
        finally:
            wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    except Exception as err:  # the solver's refusal, reported with the outcome
        kind, message = type(err).__name__, str(err)
    return result, kind, message, wall, cpu, console.text


def _worker_main(conn: Connection) -> None:
    """A local worker: solves what the batch sends until told to stop."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the batch's to handle
    import _kvt_core  # noqa: F401  (loaded before the first instance arrives)

    while True:
        try:
            task = conn.recv()
        except (EOFError, OSError):
            return
        if task is None:
            return
        text, time_limit = task
        conn.send(_solve_text(text, time_limit))


def _solve_task(text: str, time_limit: float) -> _Reply:
    """The task a Dask worker runs for one instance."""
    return _solve_text(text, time_limit)


# --- the local pool -----------------------------------------------------------------------------------------


def cores() -> int:
    """Processors this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return max(1, os.cpu_count() or 1)


def exit_cause(exitcode: int | None) -> str:
    """Why a worker process ended, from its exit code (None: it stopped answering)."""
    if exitcode is None:
        return "its process stopped answering"
    if exitcode < 0:
        try:
            return f"killed by {signal.Signals(-exitcode).name}"
        except ValueError:
            return f"killed by signal {-exitcode}"
    return f"exit status {exitcode}"


class _Worker:
    def __init__(self, ctx: SpawnContext, target: Callable[[Connection], None]) -> None:
        self.conn, child = ctx.Pipe()
        self.process: SpawnProcess = ctx.Process(target=target, args=(child,), name="kvt-batch-worker", daemon=True)
        self.process.start()
        child.close()
        self.job: _Job | None = None
        self.since = 0.0

    def start(self, job: _Job) -> bool:
        self.job, self.since = job, time.monotonic()
        job.attempts += 1
        try:
            self.conn.send((job.text, job.time_limit))
        except (BrokenPipeError, OSError):
            return False
        return True

    def reply(self) -> _Reply | None:
        """The finished solve's reply; None when the process is gone."""
        try:
            if self.conn.poll():
                reply: _Reply = self.conn.recv()
                return reply
        except (EOFError, OSError):
            pass
        return None

    def exitcode(self) -> int | None:
        self.process.join(2.0)
        if self.process.exitcode is None:
            self.process.kill()
            self.process.join(2.0)
            return None
        return self.process.exitcode

    def close(self, stop: bool) -> None:
        if self.process.is_alive():
            if stop:
                self.process.kill()
            else:
                try:
                    self.conn.send(None)
                except OSError:
                    self.process.kill()
        self.process.join(2.0)
        if self.process.is_alive():
            self.process.kill()
            self.process.join(2.0)
        self.conn.close()


def _run_local(jobs: Iterator[_Job | Outcome], workers: int) -> Generator[Outcome, None, None]:
    import multiprocessing
    from multiprocessing.connection import wait

    ctx = multiprocessing.get_context("spawn")
    target = _worker_main
    pool: list[_Worker] = []
    retry: collections.deque[_Job] = collections.deque()
    exhausted = False
    finished = False
    try:
        while True:
            # Hand out work while there are free or startable workers.
            while True:
                free = [w for w in pool if w.job is None]
                if not free and len(pool) >= workers:
                    break
                job: _Job | None = retry.popleft() if retry else None
                if job is None and not exhausted:
                    item = next(jobs, None)
                    if item is None:
                        exhausted = True
                    elif isinstance(item, Outcome):
                        yield item
                        continue
                    else:
                        job = item
                if job is None:
                    break
                worker = free[0] if free else _Worker(ctx, target)
                if not free:
                    pool.append(worker)
                worker.start(job)  # a failed send shows up as the worker's death below
            busy = [w for w in pool if w.job is not None]
            if not busy:
                break
            owners: dict[Any, _Worker] = {}
            for w in busy:
                owners[w.conn] = w
                owners[w.process.sentinel] = w
            seen: set[int] = set()
            for ready in wait(list(owners)):
                w = owners[ready]
                if id(w) in seen:
                    continue
                seen.add(id(w))
                job = w.job
                assert job is not None
                reply = w.reply()
                if reply is not None:
                    w.job = None
                    yield _outcome(job, reply)
                    continue
                wall = time.monotonic() - w.since
                cause = exit_cause(w.exitcode())
                w.close(stop=True)
                pool.remove(w)
                if job.attempts < MAX_ATTEMPTS:
                    retry.append(job)
                else:
                    yield _died(job, cause, wall)
        finished = True
    finally:
        # Stopped early (Ctrl-C, the caller closed the generator): running solves are killed.
        for w in pool:
            w.close(stop=not finished or w.job is not None)


# --- Dask --------------------------------------------------------------------------------------------------


def dask_modules() -> tuple[Any, Any]:
    """The `dask` and `distributed` modules, or ImportError naming the extra that brings them."""
    try:
        # Typed as Any: the package's own annotations are partial.
        dask: Any = importlib.import_module("dask")
        distributed: Any = importlib.import_module("distributed")
    except ImportError:
        raise ImportError("a Dask cluster needs the package 'distributed': pip install 'kvt-mtsp[cluster]'") from None
    return dask, distributed


def dask_client(scheduler: str, workers: int | None, retries: int = MAX_ATTEMPTS - 1) -> tuple[Any, Any]:
    """A Dask client and, for "local", the cluster it started on this machine (else None).

    A local cluster is ours: a task whose worker dies is tried `retries` more times, then reported
    as a `KilledWorker`. An existing cluster's own settings decide that; ConnectionError when it is
    out of reach."""
    dask, distributed = dask_modules()
    if scheduler == "local":
        import logging

        with dask.config.set({"distributed.scheduler.allowed-failures": retries}):
            cluster = distributed.LocalCluster(
                n_workers=workers or cores(),
                threads_per_worker=1,
                processes=True,
                dashboard_address=None,
                scheduler_kwargs={"dashboard_address": "127.0.0.1:0"},
                silence_logs=logging.ERROR,
            )
        try:
            return distributed.Client(cluster), cluster
        except BaseException:
            cluster.close()
            raise
    try:
        return distributed.Client(scheduler), None
    except (OSError, ValueError) as err:
        raise ConnectionError(f"cannot reach the Dask scheduler at {scheduler}: {err}") from None


def _run_dask(jobs: Iterator[_Job | Outcome], scheduler: str, workers: int | None) -> Generator[Outcome, None, None]:
    _, distributed = dask_modules()
    prepared = list(jobs)
    for item in prepared:
        if isinstance(item, Outcome):
            yield item
    todo = [item for item in prepared if isinstance(item, _Job)]
    if not todo:
        return
    cluster: Any = None
    client: Any = None
    running: dict[Any, _Job] = {}
    try:
        client, cluster = dask_client(scheduler, workers)
        batch = uuid.uuid4().hex[:8]
        queue = collections.deque(todo)
        finished = distributed.as_completed()

        def submit() -> None:
            # No more tasks than the cluster has threads: a task waiting on a worker would count
            # that worker's death against itself too.
            room = max(1, sum(client.nthreads().values())) - len(running)
            while queue and room > 0:
                job = queue.popleft()
                job.attempts = 1
                future = client.submit(
                    _solve_task, job.text, job.time_limit, pure=False, key=f"kvt-mtsp-{batch}-{job.index}"
                )
                running[future] = job
                finished.add(future)
                room -= 1

        submit()
        for future in finished:
            job = running.pop(future)
            try:
                reply = future.result()
            except distributed.KilledWorker as err:
                job.attempts = MAX_ATTEMPTS
                yield _died(job, f"Dask: {type(err).__name__}", 0.0)
            except Exception as err:  # the task could not run there (e.g. the package is missing)
                where = f"{job.source}: " if job.source else ""
                text = (str(err).strip().splitlines() or [""])[0]
                yield Outcome(
                    job.name,
                    error=f"{where}the cluster could not solve it: {type(err).__name__}: {text}",
                    index=job.index,
                    source=job.source,
                    objective=job.objective,
                    attempts=job.attempts,
                )
            else:
                yield _outcome(job, reply)
            submit()
    finally:
        if client is not None:
            if running:
                try:
                    client.cancel(list(running))
                except Exception:  # the client may already be gone
                    pass
            client.close()
        if cluster is not None:
            cluster.close()


# --- the entry point -------------------------------------------------------------------------------------------


def solve_many(
    instances: Iterable[InstanceSource],
    *,
    time_limit: float | None = None,
    improve: bool | None = None,
    seed: int | None = None,
    workers: int | None = None,
    scheduler: str | None = None,
    default_improve: bool | None = None,
    threads: int | None = None,
) -> Generator[Outcome, None, None]:
    """Solves every instance and yields its `Outcome` as soon as it finishes (not in input order).

    `instances`: paths of JSON instance files, or parsed documents (dicts). `time_limit`: processor
    seconds per instance, overriding each document's "time_limit" when given. `improve` and `seed` set
    the documents' "options" of those names; None leaves each document's own, except that
    `default_improve`, when given, sets "improve" where neither `improve` nor the document does (the
    command line passes True). `workers`: processes on this machine (default: one per core); with
    `scheduler` "local", the local Dask cluster's worker count; ignored for an existing cluster.
    `scheduler`: None solves on this machine, "local" starts a local Dask cluster, anything else is
    the address of a Dask scheduler. `threads`: improvement searches per instance, in place of each
    document's "threads" (0: one per core); above 1, on this machine, the default workers are the
    cores divided by it, and more threads or workers than that raise ValueError, so that workers times
    threads never exceed the cores. None leaves each document's own.

    An instance that cannot be read or that the solver refuses becomes an outcome with `error` set; a
    worker that dies during an instance costs it one retry, then it too becomes such an outcome.
    Interrupting the iteration (Ctrl-C, closing the generator) stops the solves still running."""
    return _solve_many(
        instances,
        time_limit=time_limit,
        improve=improve,
        seed=seed,
        workers=workers,
        scheduler=scheduler,
        default_improve=default_improve,
        threads=threads,
    )


def _solve_many(
    instances: Iterable[InstanceSource],
    *,
    time_limit: float | None,
    improve: bool | None,
    seed: int | None,
    workers: int | None,
    scheduler: str | None,
    default_improve: bool | None,
    threads: int | None = None,
) -> Generator[Outcome, None, None]:
    if threads is not None and not (isinstance(threads, int) and not isinstance(threads, bool) and threads >= 0):
        raise ValueError(f"threads must be a whole number of at least 0, got {threads!r}")
    if threads is not None:
        threads = threads or cores()
    if threads is not None and threads > 1 and scheduler is None:
        # Several searches per instance: the workers share the cores among them.
        if threads > cores():
            raise ValueError(f"{threads} threads per instance exceed the {cores()} cores")
        if workers is not None and workers * threads > cores():
            raise ValueError(f"{workers} workers times {threads} threads exceed the {cores()} cores")
        if workers is None:
            workers = cores() // threads
    if workers is not None and not (isinstance(workers, int) and workers >= 1):
        raise ValueError(f"workers must be at least 1, got {workers!r}")
    if time_limit is not None and not (isinstance(time_limit, (int, float)) and time_limit > 0):
        raise ValueError(f"time_limit must be a positive number of seconds, got {time_limit!r}")
    if seed is not None and not (isinstance(seed, int) and not isinstance(seed, bool) and 0 <= seed < 2**64):
        raise ValueError(f"seed must be an integer from 0 to 2^64 - 1, got {seed!r}")
    if scheduler is not None and importlib.util.find_spec("distributed") is None:
        raise ImportError("a Dask cluster needs the package 'distributed': pip install 'kvt-mtsp[cluster]'")
    budget = -1.0 if time_limit is None else float(time_limit)
    items = list(instances)
    names = _Names()
    jobs = (_prepare(k, item, names, budget, improve, seed, default_improve, threads) for k, item in enumerate(items))
    if scheduler is not None:
        return _run_dask(jobs, scheduler, workers)
    return _run_local(jobs, max(1, min(workers or cores(), len(items))))


# --- finding instances and summing up -------------------------------------------------------------------

SKIPPED_SUFFIXES = (".result.json", ".solution.json")  # results and solutions beside instances
SUMMARY_COLUMNS = ("instance", "status", "objective", "longest route", "total", "time", "reason")


def instance_paths(paths: Sequence[str]) -> list[str]:
    """The instance files named by `paths`: files as given, folders by their *.json files (results
    and solutions excepted), in name order."""
    out: list[str] = []
    for path in paths:
        p = pathlib.Path(path)
        if p.is_dir():
            out.extend(
                str(f) for f in sorted(p.glob("*.json")) if f.is_file() and not f.name.endswith(SKIPPED_SUFFIXES)
            )
        else:
            out.append(path)
    return out


def _number(value: float | None) -> str:
    return "" if value is None or not math.isfinite(value) else f"{value:.2f}"


def summary_rows(outcomes: Iterable[Outcome]) -> list[tuple[str, ...]]:
    """One row per outcome, in input order: the columns of `SUMMARY_COLUMNS`."""
    rows: list[tuple[str, ...]] = []
    for o in sorted(outcomes, key=lambda o: o.index):
        solved = o.result is not None and o.result["status"] == "success"
        stats = o.result["statistics"] if o.result is not None else None
        rows.append(
            (
                o.name,
                o.status,
                _number(o.objective_value),
                _number(stats["max_cost"]) if solved and stats else "",
                _number(stats["sum_cost"]) if solved and stats else "",
                f"{o.wall_time:.2f}" if o.attempts else "",
                o.error or "",
            )
        )
    return rows


def summary_markdown(rows: Sequence[tuple[str, ...]]) -> str:
    """The rows as a Markdown table, numbers right-aligned."""
    table = [SUMMARY_COLUMNS] + [tuple(c.replace("|", "\\|") for c in r) for r in rows]
    widths = [max(3, *(len(r[i]) for r in table)) for i in range(len(SUMMARY_COLUMNS))]
    numeric = (2, 3, 4, 5)

    def line(cells: Sequence[str]) -> str:
        return "| " + " | ".join(cells) + " |"

    rule = [("-" * (w - 1) + ":") if i in numeric else "-" * w for i, w in enumerate(widths)]
    body = [
        line([c.rjust(w) if i in numeric else c.ljust(w) for i, (c, w) in enumerate(zip(r, widths))]) for r in table
    ]
    return "\n".join([body[0], line(rule)] + body[1:]) + "\n"


def summary_csv(rows: Sequence[tuple[str, ...]]) -> str:
    import csv
    import io

    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(SUMMARY_COLUMNS)
    writer.writerows(rows)
    return buffer.getvalue()


__all__ = [
    "Outcome",
    "solve_many",
    "cores",
    "instance_paths",
    "summary_rows",
    "summary_markdown",
    "summary_csv",
]
