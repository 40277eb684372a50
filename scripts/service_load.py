"""A bounded load test of `kvt-mtsp serve` on a loopback port (`make load-test`; not in the unit tests).

Starts the service with two workers, then 20 client threads send 400 small jobs and 20 long ones,
each long one stopped once it has a solution, while one worker is killed midway. Checks that every
request was answered, that every job ended exactly once, and prints requests per second, latency
percentiles and the service's resident memory (server and workers) before, at the peak and after.
Traffic goes to 127.0.0.1 only; the run is bounded in count and in time (`--deadline`).
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import random
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

import httpx2 as httpx

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "python"))
from service_support import example, long_instance  # noqa: E402

FINAL = ("done", "failed", "stopped")


def rss_kib(pid: int) -> int:
    """Resident memory of a process and its children, KiB."""
    total = 0
    pids = [pid]
    try:
        children = pathlib.Path(f"/proc/{pid}/task/{pid}/children").read_text().split()
        pids += [int(c) for c in children]
    except OSError:
        pass
    for p in pids:
        try:
            for line in pathlib.Path(f"/proc/{p}/status").read_text().splitlines():
                if line.startswith("VmRSS:"):
                    total += int(line.split()[1])
        except OSError:
            pass
    return total


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clients", type=int, default=20)
    parser.add_argument("--small", type=int, default=400)
    parser.add_argument("--long", type=int, default=20)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--deadline", type=float, default=600.0, help="seconds after which the run gives up")
    args = parser.parse_args()

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    base = f"http://127.0.0.1:{port}"
    env = {k: v for k, v in os.environ.items() if k != "KVT_MTSP_TOKEN"}
    command = [sys.executable, "-m", "kvt_mtsp.service", "--port", str(port), "--workers", str(args.workers)]
    server = subprocess.Popen(command + ["--queue", "1000", "--keep-seconds", "5", "--max-time-limit", "60"], env=env)
    latencies: list[float] = []
    failures: list[str] = []
    lock = threading.Lock()
    try:
        client = httpx.Client(base_url=base, timeout=30)
        start = time.monotonic()
        while True:
            try:
                client.get("/health")
                break
            except httpx.TransportError:
                if server.poll() is not None or time.monotonic() - start > 30:
                    print("the service did not come up", file=sys.stderr)
                    return 1
                time.sleep(0.2)
        small = json.dumps({"instance": example("two_types"), "time_limit": 0.05, "improve": False})
        long = json.dumps({"instance": long_instance(), "time_limit": 60})
        # Warm-up: one job through each worker, then the starting level of memory.
        for _ in range(args.workers):
            client.post("/solve", content=small)
        before = rss_kib(server.pid)
        peak = before

        def request(http: httpx.Client, method: str, path: str, body: str | None = None) -> httpx.Response:
            t = time.perf_counter()
            reply = http.request(method, path, content=body)
            with lock:
                latencies.append(time.perf_counter() - t)
                if reply.status_code >= 500:
                    failures.append(f"{method} {path}: {reply.status_code}")
            return reply

        tasks = ["long"] * args.long + ["small"] * args.small
        random.Random(0).shuffle(tasks)  # the long ones spread through the run
        ids: list[str] = []
        finals: dict[str, str] = {}
        next_task = iter(range(len(tasks)))
        deadline = time.monotonic() + args.deadline

        def run_client() -> None:
            with httpx.Client(base_url=base, timeout=30) as http:
                while time.monotonic() < deadline:
                    with lock:
                        k = next(next_task, None)
                    if k is None:
                        return
                    kind = tasks[k]
                    reply = request(http, "POST", "/jobs", long if kind == "long" else small)
                    if reply.status_code != 202:
                        with lock:
                            failures.append(f"POST /jobs: {reply.status_code} {reply.text[:100]}")
                        continue
                    job_id = reply.json()["id"]
                    with lock:
                        ids.append(job_id)
                    stopped = False
                    while time.monotonic() < deadline:
                        state = request(http, "GET", f"/jobs/{job_id}").json()
                        if state["status"] in FINAL:
                            with lock:
                                finals[job_id] = state["status"]
                            break
                        if kind == "long" and not stopped and state["best"] is not None:
                            request(http, "DELETE", f"/jobs/{job_id}")
                            stopped = True
                        time.sleep(0.05)

        threads = [threading.Thread(target=run_client) for _ in range(args.clients)]
        t0 = time.perf_counter()
        for t in threads:
            t.start()
        killed = None
        while any(t.is_alive() for t in threads):
            time.sleep(0.25)
            peak = max(peak, rss_kib(server.pid))
            if killed is None and len(finals) >= (args.small + args.long) // 2:
                pid = client.get("/health").json()["worker_pids"][0]
                os.kill(pid, signal.SIGKILL)
                killed = pid
        elapsed = time.perf_counter() - t0
        for t in threads:
            t.join()
        # Finished jobs are forgotten after --keep-seconds; then memory should be back.
        time.sleep(8)
        client.get("/health")
        after = rss_kib(server.pid)
        health = client.get("/health").json()
    finally:
        server.terminate()
        server.wait(10)

    counts = {s: list(finals.values()).count(s) for s in FINAL}
    lat = sorted(latencies)

    def pct(p: float) -> float:
        return 1000 * lat[min(len(lat) - 1, int(p * len(lat)))]

    print(f"jobs submitted {len(ids)} (unique {len(set(ids))}), ended {len(finals)}: {counts}")
    print(f"requests {len(lat)} in {elapsed:.1f} s: {len(lat) / elapsed:.0f} per second")
    print(
        f"latency ms: p50 {pct(0.50):.1f}  p90 {pct(0.90):.1f}  p99 {pct(0.99):.1f}  max {1000 * lat[-1]:.1f}"
        f"  mean {1000 * statistics.fmean(lat):.1f}"
    )
    print(f"worker killed: {killed}; deaths seen by the service: {health['worker_deaths']}")
    print(f"resident memory (server + workers) KiB: before {before}, peak {peak}, after {after}")
    problems = list(failures)
    if len(ids) != args.small + args.long or len(set(ids)) != len(ids):
        problems.append("jobs lost or duplicated at submission")
    if set(finals) != set(ids):
        problems.append(f"{len(set(ids) - set(finals))} jobs never ended")
    if health["worker_deaths"] < 1:
        problems.append("the killed worker was not noticed")
    if after > before * 1.25:
        problems.append("memory did not come back to its starting level")
    for p in problems:
        print("problem:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
