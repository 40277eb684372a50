"""The service's jobs on a Dask cluster (`kvt-mtsp serve --scheduler`), as `kvt-mtsp batch` sends them.

`DaskJobManager` keeps the job records, the bounded queue and the finished jobs as `JobManager` does;
instead of worker processes of its own it submits one task per job (`worker.dask_task`) and keeps at
most `workers` of them running (None: as many as the cluster has threads). A task's events come back
over a Dask queue of its own, a stop goes out as a Dask event, and its last message finishes the job
as a local worker's would. A Dask worker that dies fails its job with the cause; the service goes on.
"""

from __future__ import annotations

import threading
import time
import uuid
from dataclasses import dataclass
from typing import Any

from ..batch import dask_client, dask_modules
from .jobs import FAILED, RUNNING, Job, JobManager
from .worker import dask_task

POLL = 0.1  # seconds between looks at the running tasks' queues


@dataclass
class _Task:
    job: Job
    future: Any
    events: Any  # the Dask queue of the job's events


class DaskJobManager(JobManager):
    """Queues jobs and solves them on the Dask cluster at `scheduler` ("local": one started on this
    machine with `workers` worker processes)."""

    def __init__(
        self,
        scheduler: str,
        workers: int | None = None,
        *,
        max_queue: int = 64,
        keep_seconds: float = 3600.0,
        keep_jobs: int = 1000,
    ) -> None:
        if workers is not None and workers < 1:
            raise ValueError(f"workers must be at least 1, got {workers}")
        super().__init__(workers or 1, max_queue=max_queue, keep_seconds=keep_seconds, keep_jobs=keep_jobs)
        self.scheduler = scheduler
        self._limit = workers
        self._client: Any = None
        self._cluster: Any = None
        self._distributed: Any = None
        self._running: dict[str, _Task] = {}
        self._tag = uuid.uuid4().hex[:8]  # keeps the names of two services on one cluster apart
        self._quit = threading.Event()
        self._nudge = threading.Event()  # set when there is news for the manager's thread

    # --- life cycle ---------------------------------------------------------------------------------------

    def connect(self) -> None:
        """Reaches the cluster (ImportError without `distributed`, ConnectionError when out of reach)."""
        if self._client is not None:
            return
        _, self._distributed = dask_modules()
        # A retried task would start its events over: a job whose worker dies fails instead.
        self._client, self._cluster = dask_client(self.scheduler, self._limit, retries=0)
        self.workers = self._limit or max(1, sum(self._client.nthreads().values()))

    def start(self) -> None:
        self.connect()
        self._thread = threading.Thread(target=self._run, name="kvt-service-dask", daemon=True)
        self._thread.start()

    def close(self) -> None:
        with self._lock:
            self._closing = True
        self._quit.set()
        self._nudge.set()
        if self._thread is not None:
            self._thread.join(5.0)
        with self._lock:
            for job in list(self._queue) + [t.job for t in self._running.values()]:
                self._finish(job, FAILED, error="the service shut down")
            self._queue.clear()
            tasks = list(self._running.values())
            self._running.clear()
        if self._client is not None:
            for task in tasks:
                self._forget(task)
            try:
                self._client.cancel([t.future for t in tasks])
            except Exception:  # the cluster may be gone already
                pass
            self._client.close()
        if self._cluster is not None:
            self._cluster.close()

    def _wake(self) -> None:
        self._nudge.set()

    # --- names on the cluster --------------------------------------------------------------------------------

    def _events_name(self, job_id: str) -> str:
        return f"kvt-mtsp-serve-{self._tag}-{job_id}-events"

    def _stop_name(self, job_id: str) -> str:
        return f"kvt-mtsp-serve-{self._tag}-{job_id}-stop"

    def _stopper(self, job: Job) -> Any:
        if job.id not in self._running:
            return None
        event = self._distributed.Event(self._stop_name(job.id), client=self._client)
        return event.set

    def _forget(self, task: _Task) -> None:
        """Releases what the cluster keeps for a finished task."""
        try:
            task.events.close()
            self._distributed.Event(self._stop_name(task.job.id), client=self._client).clear()
        except Exception:  # the cluster may be gone already
            pass

    def _pids(self) -> list[int]:
        return []  # the cluster's processes are not ours

    # --- the manager's thread ----------------------------------------------------------------------------------

    def _start_queued(self) -> None:
        with self._lock:
            starting: list[Job] = []
            while self._queue and len(self._running) + len(starting) < self.workers:
                job = self._queue.popleft()
                job.status, job.started = RUNNING, time.time()
                starting.append(job)
        for job in starting:
            # Created before the task, so that no event it puts is missed.
            events = self._distributed.Queue(self._events_name(job.id), client=self._client)
            future = self._client.submit(
                dask_task,
                job.id,
                job.text,
                job.time_limit,
                self._events_name(job.id),
                self._stop_name(job.id),
                pure=False,
                key=f"kvt-mtsp-serve-{self._tag}-{job.id}",
            )
            with self._lock:
                self._running[job.id] = _Task(job, future, events)
                stopped = job.stop_requested  # asked while the task was being submitted
            if stopped:
                self._distributed.Event(self._stop_name(job.id), client=self._client).set()

    def _collect(self, task: _Task) -> bool:
        """Takes the task's new events and, once it ended, its outcome; True when it ended."""
        done = task.future.done()  # asked first: the events put before its end are all waiting then
        events = task.events.get(batch=True)
        reply: tuple[Any, ...] | None = None
        if done:
            try:
                reply = tuple(task.future.result())
            except self._distributed.KilledWorker as err:
                reply = ("died", task.job.id, f"Dask: {type(err).__name__}")
            except Exception as err:  # the task could not run there (e.g. the package is missing)
                text = (str(err).strip().splitlines() or [""])[0]
                reply = ("crashed", f"the cluster could not solve it: {type(err).__name__}: {text}")
        with self._lock:
            task.job.events.extend(events)
            if reply is None:
                return False
            self._running.pop(task.job.id, None)
            if reply[0] == "crashed":
                self._finish(task.job, FAILED, error=reply[1])
            else:
                self._settle(task.job, reply)
        self._forget(task)
        return True

    def _run(self) -> None:
        while not self._quit.is_set():
            try:
                self._start_queued()
                with self._lock:
                    tasks = list(self._running.values())
                for task in tasks:
                    self._collect(task)
            except Exception as err:  # the cluster went away: every running job fails with the reason
                with self._lock:
                    for task in self._running.values():
                        self._finish(task.job, FAILED, error=f"the cluster could not be reached: {err}")
                    self._running.clear()
            with self._lock:
                self._prune(time.time())
            self._nudge.wait(POLL)
            self._nudge.clear()
