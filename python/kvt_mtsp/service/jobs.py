"""The service's jobs: a bounded queue in front of a fixed number of worker processes.

`JobManager` starts `workers` processes (spawned, each solving one job at a time, see `worker.py`) and
one thread that hands queued jobs to free workers and reads what the workers send back: every new best
solution as an event, then the result. A worker that dies fails its job with the cause and is replaced.
Finished jobs are kept for `keep_seconds` and at most `keep_jobs` of them, oldest dropped first.

Every method may be called from any thread; the job records are guarded by one lock and read through
`Job.snapshot` and `Job.events_after`.
"""

from __future__ import annotations

import collections
import itertools
import threading
import time
import uuid
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

from ..batch import exit_cause

if TYPE_CHECKING:
    from multiprocessing.connection import Connection
    from multiprocessing.context import SpawnProcess

    from ..results import Improvement, SolveResult

QUEUED = "queued"
RUNNING = "running"
DONE = "done"
FAILED = "failed"
STOPPED = "stopped"
FINISHED = frozenset({DONE, FAILED, STOPPED})


class QueueFull(Exception):
    """The queue holds as many jobs as it may: try again later."""


@dataclass
class Job:
    id: str
    text: str  # the instance as sent to the solver
    time_limit: float  # passed to the solver: above 0 replaces the instance's budget
    budget: float  # the budget the solve runs with
    name: str
    findings: list[dict[str, str]]
    submitted: float
    status: str = QUEUED
    started: float | None = None
    finished: float | None = None
    events: list[Improvement] = field(default_factory=list)
    result: SolveResult | None = None
    error: str | None = None
    console: str = ""
    stop_requested: bool = False
    worker_pid: int | None = None

    @property
    def best(self) -> Improvement | None:
        return self.events[-1] if self.events else None

    def snapshot(self) -> dict[str, Any]:
        """The job as the service reports it (call with the manager's lock held)."""
        return {
            "id": self.id,
            "name": self.name,
            "status": self.status,
            "time_limit": self.budget,
            "submitted": self.submitted,
            "started": self.started,
            "finished": self.finished,
            "best": self.best,
            "anytime": [{"time": e["time"], "max_cost": e["max_cost"], "sum_cost": e["sum_cost"]} for e in self.events],
            "findings": self.findings,
            "result": self.result,
            "error": self.error,
            "console": self.console,
        }


class _Worker:
    def __init__(self, ctx: Any, target: Callable[[Connection], None]) -> None:
        self.conn, child = ctx.Pipe()
        self.process: SpawnProcess = ctx.Process(target=target, args=(child,), name="kvt-service-worker", daemon=True)
        self.process.start()
        child.close()
        self.job: Job | None = None
        self.send_lock = threading.Lock()

    def send(self, message: Any) -> bool:
        with self.send_lock:
            try:
                self.conn.send(message)
            except (BrokenPipeError, OSError):
                return False
        return True

    def close(self) -> None:
        if self.process.is_alive():
            self.send(None)
            self.process.join(1.0)
        if self.process.is_alive():
            self.process.kill()
        self.process.join(2.0)
        self.conn.close()


class JobManager:
    """Queues jobs and solves them on `workers` worker processes."""

    def __init__(
        self,
        workers: int = 1,
        *,
        max_queue: int = 64,
        keep_seconds: float = 3600.0,
        keep_jobs: int = 1000,
        target: Callable[[Connection], None] | None = None,
    ) -> None:
        if workers < 1:
            raise ValueError(f"workers must be at least 1, got {workers}")
        self.workers = workers
        self.max_queue = max_queue
        self.keep_seconds = keep_seconds
        self.keep_jobs = keep_jobs
        self._target = target
        self._lock = threading.Lock()
        self._jobs: dict[str, Job] = {}
        self._queue: collections.deque[Job] = collections.deque()
        self._finished: collections.deque[str] = collections.deque()  # ids in finishing order
        self._pool: list[_Worker] = []
        self._thread: threading.Thread | None = None
        self._closing = False
        self._ctx: Any = None
        self._wake_r: Connection | None = None
        self._wake_w: Connection | None = None
        self._counter = itertools.count(1)
        self.deaths = 0  # workers that died while the service ran

    # --- life cycle ---------------------------------------------------------------------------------------

    def connect(self) -> None:
        """Reaches where the jobs run (nothing to reach for local workers)."""

    def start(self) -> None:
        import multiprocessing

        from .worker import worker_main

        self._ctx = multiprocessing.get_context("spawn")
        self._wake_r, self._wake_w = self._ctx.Pipe(duplex=False)
        if self._target is None:
            self._target = worker_main
        self._pool = [_Worker(self._ctx, self._target) for _ in range(self.workers)]
        self._thread = threading.Thread(target=self._run, name="kvt-service-jobs", daemon=True)
        self._thread.start()

    def close(self) -> None:
        """Stops the workers (running solves end with them) and the manager's thread."""
        with self._lock:
            self._closing = True
        self._wake()
        if self._thread is not None:
            self._thread.join(5.0)
        for worker in self._pool:
            worker.close()
        with self._lock:
            for job in list(self._queue) + [w.job for w in self._pool if w.job is not None]:
                self._finish(job, FAILED, error="the service shut down")
            self._queue.clear()
        if self._wake_r is not None and self._wake_w is not None:
            self._wake_r.close()
            self._wake_w.close()

    def _wake(self) -> None:
        if self._wake_w is None:
            return
        with self._lock:
            try:
                self._wake_w.send(None)
            except OSError:
                pass

    # --- requests ---------------------------------------------------------------------------------------------

    def submit(
        self, text: str, time_limit: float, name: str, findings: list[dict[str, str]], budget: float | None = None
    ) -> Job:
        """Queues a job; raises QueueFull when `max_queue` jobs are waiting."""
        with self._lock:
            self._prune(time.time())
            if len(self._queue) >= self.max_queue:
                raise QueueFull()
            job = Job(
                id=f"{next(self._counter):06d}-{uuid.uuid4().hex[:12]}",
                text=text,
                time_limit=time_limit,
                budget=time_limit if budget is None else budget,
                name=name,
                findings=findings,
                submitted=time.time(),
            )
            self._jobs[job.id] = job
            self._queue.append(job)
        self._wake()
        return job

    def get(self, job_id: str) -> Job | None:
        with self._lock:
            return self._jobs.get(job_id)

    def snapshot(self, job_id: str) -> dict[str, Any] | None:
        with self._lock:
            job = self._jobs.get(job_id)
            return None if job is None else job.snapshot()

    def events_after(self, job_id: str, seen: int) -> tuple[list[Improvement], str, dict[str, Any]] | None:
        """The events after the first `seen`, the job's status and, once it finished, its snapshot."""
        with self._lock:
            job = self._jobs.get(job_id)
            if job is None:
                return None
            return job.events[seen:], job.status, (job.snapshot() if job.status in FINISHED else {})

    def stop(self, job_id: str) -> dict[str, Any] | None:
        """Stops a job: a queued one does not run, a running one ends with its best solution so far."""
        tell: Callable[[], object] | None = None
        with self._lock:
            job = self._jobs.get(job_id)
            if job is None:
                return None
            if job.status == QUEUED:
                self._queue.remove(job)
                self._finish(job, STOPPED, error="stopped before it started")
            elif job.status == RUNNING and not job.stop_requested:
                job.stop_requested = True
                tell = self._stopper(job)
            snapshot = job.snapshot()
        if tell is not None:
            tell()
        return snapshot

    def _stopper(self, job: Job) -> Callable[[], object] | None:
        """What tells the running `job`'s solve to stop, called without the lock (lock held here)."""
        worker = next((w for w in self._pool if w.job is job), None)
        if worker is None:
            return None
        return lambda: worker.send(("stop", job.id))

    def stats(self) -> dict[str, Any]:
        with self._lock:
            counts = collections.Counter(j.status for j in self._jobs.values())
            return {
                "workers": self.workers,
                "worker_pids": self._pids(),
                "queued": counts[QUEUED],
                "running": counts[RUNNING],
                "kept": sum(counts[s] for s in FINISHED),
                "max_queue": self.max_queue,
                "worker_deaths": self.deaths,
            }

    def _pids(self) -> list[int]:
        return [w.process.pid for w in self._pool if w.process.pid is not None]

    # --- the manager's thread ----------------------------------------------------------------------------------

    def _finish(
        self, job: Job, status: str, *, result: Any = None, error: str | None = None, console: str = ""
    ) -> None:
        job.status = status
        job.result = result
        job.error = error
        job.console = console
        job.finished = time.time()
        job.text = ""  # the instance is not needed any more; finished jobs are kept for their results
        self._finished.append(job.id)

    def _prune(self, now: float) -> None:
        while self._finished:
            job = self._jobs.get(self._finished[0])
            if job is None:
                self._finished.popleft()
                continue
            old = job.finished is not None and now - job.finished > self.keep_seconds
            if not old and len(self._finished) <= self.keep_jobs:
                break
            self._finished.popleft()
            del self._jobs[job.id]

    def _dispatch(self) -> None:
        """Hands queued jobs to free workers (lock held)."""
        for worker in self._pool:
            if not self._queue:
                return
            if worker.job is not None or not worker.process.is_alive():
                continue
            job = self._queue.popleft()
            job.status, job.started, job.worker_pid = RUNNING, time.time(), worker.process.pid
            worker.job = job
            worker.send(("solve", job.id, job.text, job.time_limit))  # a failed send shows up as its death

    def _receive(self, worker: _Worker) -> None:
        while True:
            try:
                if not worker.conn.poll():
                    return
                message = worker.conn.recv()
            except (EOFError, OSError):
                return
            kind, job_id = message[0], message[1]
            with self._lock:
                job = worker.job
                if job is None or job.id != job_id:
                    continue
                if kind == "event":
                    job.events.append(message[2])
                    continue
                worker.job = None
                self._settle(job, message)

    def _settle(self, job: Job, message: tuple[Any, ...]) -> None:
        """Finishes `job` with its solve's last message (lock held): ("result", id, result, console),
        ("refused", id, kind, text, console) or ("died", id, cause)."""
        kind = message[0]
        if kind == "result":
            self._finish(job, STOPPED if job.stop_requested else DONE, result=message[2], console=message[3])
        elif kind == "refused":
            _, _, err_kind, text, console = message
            reason = text.strip().splitlines()[0] if text.strip() else err_kind
            self._finish(job, FAILED, error=f"the solver refused the instance: {reason}", console=console)
        else:
            self.deaths += 1
            self._finish(job, FAILED, error=f"the worker solving it died ({message[2]})")

    def _replace(self, worker: _Worker) -> None:
        self._receive(worker)  # what it sent before it died
        worker.process.join(1.0)
        cause = exit_cause(worker.process.exitcode)
        with self._lock:
            job = worker.job
            if job is not None:
                worker.job = None
                self._settle(job, ("died", job.id, cause))
            else:
                self.deaths += 1
            index = self._pool.index(worker)
            if not self._closing:
                assert self._target is not None
                self._pool[index] = _Worker(self._ctx, self._target)
        worker.conn.close()

    def _run(self) -> None:
        from multiprocessing.connection import wait

        assert self._wake_r is not None
        while True:
            with self._lock:
                if self._closing:
                    return
                self._dispatch()
                pool = list(self._pool)
            handles: dict[Any, tuple[str, _Worker | None]] = {self._wake_r: ("wake", None)}
            for worker in pool:
                handles[worker.conn] = ("conn", worker)
                handles[worker.process.sentinel] = ("died", worker)
            ready = wait(list(handles), timeout=1.0)
            dead = []
            for handle in ready:
                kind, owner = handles[handle]
                if kind == "wake":
                    try:
                        while self._wake_r.poll():
                            self._wake_r.recv()
                    except (EOFError, OSError):
                        return
                elif kind == "conn" and owner is not None:
                    self._receive(owner)
                elif owner is not None:
                    dead.append(owner)
            for worker in dead:
                self._replace(worker)
            with self._lock:
                self._prune(time.time())
