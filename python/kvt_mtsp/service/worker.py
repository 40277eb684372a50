"""The process that solves the service's jobs, one at a time.

It talks to the service over one duplex pipe. The service sends ("solve", job_id, text, time_limit),
("stop", job_id) and None (quit); the worker answers ("event", job_id, improvement) for every new best
solution as the search records it, then ("result", job_id, result, console) or ("refused", job_id,
kind, message, console).

A stop first asks the search through the improvement callback, which ends it as on a spent budget with
the module's own result; when no improvement comes within `STOP_GRACE` seconds, a signal interrupts
the wait and the result is assembled from the best solution the callback saw (`stopped_result`).

On a Dask cluster, `dask_task` is the task of one job: it runs this same worker as a child process
of the Dask worker (started with `python -m kvt_mtsp.service.worker FD`, since Dask's worker processes
may not fork daemons of their own), puts the events on a Dask queue, passes a stop on from a Dask
event, and returns the worker's reply, or ("died", job_id, cause) when the child ended without one.
"""

from __future__ import annotations

import json
import queue
import signal
import socket
import subprocess
import sys
import threading
import time
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from multiprocessing.connection import Connection

    from ..results import Improvement, SolveResult

STOP_GRACE = 0.25  # seconds the callback has to end a stopped search by itself
STOP_SIGNAL = signal.SIGUSR1
DASK_POLL = 0.05  # seconds between a Dask task's looks at its stop event


class _Stopped(Exception):
    """Raised by the stop signal's handler inside the waiting solve."""


def stopped_result(
    best: Improvement | None, log: list[Improvement], wall: float, agent_ids: list[int] | None = None
) -> SolveResult:
    """The result dictionary of a search interrupted after `log` (its improvements, in order): the
    routes and counters of the last one, "timeout" True as for any stopped search. Without a
    solution, one empty route per agent of `agent_ids`, as a failed solve has."""
    if best is None:
        return {
            "status": "failed",
            "timeout": True,
            "routes": [{"agent_id": a, "path": [], "cost": 0.0} for a in agent_ids or []],
            "statistics": {
                "solve_time": wall,
                "max_cost": 0.0,
                "sum_cost": 0.0,
                "n_generated": 0,
                "n_expanded": 0,
                "last_update_time": 0.0,
            },
            "anytime": [],
        }
    return {
        "status": "success",
        "timeout": True,
        "routes": best["routes"],
        "statistics": {
            "solve_time": wall,
            "max_cost": best["max_cost"],
            "sum_cost": best["sum_cost"],
            "n_generated": best["n_generated"],
            "n_expanded": best["n_expanded"],
            "last_update_time": best["time"],
        },
        "anytime": [{"time": e["time"], "max_cost": e["max_cost"], "sum_cost": e["sum_cost"]} for e in log],
    }


class _Current:
    """The job being solved, shared between the solving thread and the listener."""

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.job_id: str | None = None
        self.stop = threading.Event()
        self.done = threading.Event()
        self.interruptible = False


def agent_ids(text: str) -> list[int]:
    """The agents' ids of an instance the solver read, as it reports them."""
    agents = json.loads(text).get("agents")
    # An object is read as its values in ascending key order.
    items = [agents[k] for k in sorted(agents)] if isinstance(agents, dict) else agents or []
    return [int(a["id"]) % (1 << 64) if not isinstance(a["id"], float) else max(0, int(a["id"])) for a in items]


def worker_main(conn: Connection) -> None:
    """Solves the jobs the service sends until told to quit or its pipe closes."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the service's to handle
    import _kvt_core

    from ..console import ConsoleLines

    tasks: queue.Queue[Any] = queue.Queue()
    current = _Current()
    main_thread = threading.main_thread().ident or 0

    def on_signal(signum: int, frame: Any) -> None:
        if current.interruptible:
            raise _Stopped()

    signal.signal(STOP_SIGNAL, on_signal)

    def interrupt_later(job_id: str) -> None:
        if current.done.wait(STOP_GRACE):
            return
        with current.lock:
            if current.job_id == job_id and current.interruptible:
                signal.pthread_kill(main_thread, STOP_SIGNAL)

    def stop(job_id: str | None) -> None:
        with current.lock:
            if job_id is None or current.job_id != job_id:
                return
            current.stop.set()
        threading.Thread(target=interrupt_later, args=(job_id,), daemon=True).start()

    def listen() -> None:
        while True:
            try:
                message = conn.recv()
            except (EOFError, OSError):
                message = None
            if message is None:
                # Nobody is left to read a result: a running solve ends now instead of at its budget.
                stop(current.job_id)
                tasks.put(None)
                return
            if message[0] == "stop":
                stop(message[1])
            else:
                tasks.put(message)

    threading.Thread(target=listen, name="kvt-service-listener", daemon=True).start()

    while True:
        task = tasks.get()
        if task is None:
            return
        _, job_id, text, time_limit = task
        log: list[Improvement] = []

        def on_improvement(entry: Improvement, job_id: str = job_id, log: list[Improvement] = log) -> bool:
            log.append(entry)
            conn.send(("event", job_id, entry))
            return current.stop.is_set()

        with current.lock:
            current.job_id = job_id
            current.stop = threading.Event()
            current.done = threading.Event()
        console = ConsoleLines()
        start = time.perf_counter()
        reply: tuple[Any, ...]
        try:
            try:
                current.interruptible = True
                result = _kvt_core.solve_json_str(text, time_limit, diagnostics=console, callback=on_improvement)
                current.interruptible = False
                reply = ("result", job_id, result, console.text)
            except _Stopped:
                current.interruptible = False
                best = log[-1] if log else None
                reply = (
                    "result",
                    job_id,
                    stopped_result(best, log, time.perf_counter() - start, agent_ids(text)),
                    console.text,
                )
            except Exception as err:  # the solver's refusal
                current.interruptible = False
                reply = ("refused", job_id, type(err).__name__, str(err), console.text)
        except _Stopped:  # the signal landed between the solve's end and the flag's reset
            current.interruptible = False
            best = log[-1] if log else None
            reply = (
                "result",
                job_id,
                stopped_result(best, log, time.perf_counter() - start, agent_ids(text)),
                console.text,
            )
        with current.lock:
            current.job_id = None
            current.done.set()
        try:
            conn.send(reply)
        except (BrokenPipeError, OSError):
            return


def dask_task(job_id: str, text: str, time_limit: float, events_name: str, stop_name: str) -> tuple[Any, ...]:
    """Solves one job on a Dask worker, in a service worker process of its own (see the module's
    description)."""
    from multiprocessing.connection import Connection

    from ..batch import dask_modules, exit_cause

    _, distributed = dask_modules()
    events = distributed.Queue(events_name)
    stop = distributed.Event(stop_name)
    ours, theirs = socket.socketpair()
    child = subprocess.Popen(
        [sys.executable, "-m", "kvt_mtsp.service.worker", str(theirs.fileno())],
        pass_fds=[theirs.fileno()],
        stdin=subprocess.DEVNULL,
    )
    theirs.close()
    conn = Connection(ours.detach())
    stopping = False
    try:
        conn.send(("solve", job_id, text, time_limit))
        while True:
            try:
                ready = conn.poll(DASK_POLL)
                message = conn.recv() if ready else None
            except (EOFError, OSError):
                break
            if message is not None:
                if message[0] == "event":
                    events.put(message[2])
                    continue
                conn.send(None)
                return tuple(message)
            if child.poll() is not None and not conn.poll():
                break
            if not stopping and stop.is_set():
                stopping = True
                conn.send(("stop", job_id))
        child.wait()
        return ("died", job_id, exit_cause(child.returncode))
    finally:
        conn.close()  # the child's next read ends it
        try:
            child.wait(2.0)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
        events.close()


def main(argv: list[str]) -> int:
    """`python -m kvt_mtsp.service.worker FD`: a worker on the connected socket FD."""
    from multiprocessing.connection import Connection

    if len(argv) != 1 or not argv[0].isdigit():
        print("usage: python -m kvt_mtsp.service.worker FD", file=sys.stderr)
        return 2
    worker_main(Connection(int(argv[0])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
