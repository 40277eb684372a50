"""The service with its jobs on a Dask cluster (`kvt-mtsp serve --scheduler`): a local cluster of two
worker processes behind the framework's test client, and the command's handling of the option."""

from __future__ import annotations

import json
import os
import signal

import pytest

pytest.importorskip("fastapi", reason="the service's tests need the 'serve' extra (fastapi, uvicorn)")
pytest.importorskip("distributed", reason="the Dask tests need the package 'distributed' (the 'cluster' extra)")
psutil = pytest.importorskip("psutil", reason="finding the solve's process needs psutil (a dependency of distributed)")

from fastapi.testclient import TestClient  # noqa: E402

import _kvt_core  # noqa: E402
from kvt_mtsp.service import cli  # noqa: E402
from kvt_mtsp.service.app import ServiceConfig, create_app  # noqa: E402
from kvt_mtsp.service.dask_jobs import DaskJobManager  # noqa: E402
from service_support import example, long_instance, objective, parse_events, wait_for  # noqa: E402


@pytest.fixture(scope="module")
def client():
    manager = DaskJobManager("local", 2, max_queue=4)
    with TestClient(create_app(ServiceConfig(workers=2, max_time_limit=120.0), manager)) as c:
        yield c


def status(client, job_id):
    return client.get(f"/jobs/{job_id}").json()


def finished(client, job_id, timeout=60.0):
    return wait_for(
        lambda: (s := status(client, job_id))["status"] in ("done", "failed", "stopped") and s, timeout, "the job's end"
    )


def start_long(client, min_events=1):
    job_id = client.post("/jobs", json={"instance": long_instance(), "time_limit": 60}).json()["id"]
    wait_for(lambda: len(status(client, job_id)["anytime"]) >= min_events, 60.0, f"{min_events} events")
    return job_id


def solve_processes():
    """The service workers that the cluster's tasks started."""
    found = []
    for p in psutil.process_iter(["cmdline"]):
        cmdline = p.info["cmdline"] or []
        if "kvt_mtsp.service.worker" in cmdline:
            found.append(p)
    return found


def test_health_counts_the_clusters_solves(client):
    body = client.get("/health").json()
    assert (body["workers"], body["worker_pids"], body["running"]) == (2, [], 0)


@pytest.mark.parametrize("name", ["euclid_one_type", "time_windows"])
def test_a_capped_solve_on_the_cluster_equals_the_modules(client, name):
    # A capped improvement is independent of time: the cluster's routes are the module's own.
    doc = example(name)
    doc["options"] = dict(doc.get("options", {}), improve=True, improve_iterations=300, seed=1)
    reply = client.post("/solve", json={"instance": doc, "time_limit": 30})
    assert reply.status_code == 200
    mine = _kvt_core.solve_json_str(json.dumps(doc), 30)
    theirs = reply.json()
    assert theirs["status"] == mine["status"] == "success"
    assert theirs["routes"] == mine["routes"]
    assert theirs["statistics"]["max_cost"] == mine["statistics"]["max_cost"]


def test_job_events_arrive_in_order_and_end_with_the_result(client):
    doc = example("euclid_one_type")
    job_id = client.post("/jobs", json={"instance": doc, "time_limit": 1.0, "improve": True, "seed": 1}).json()["id"]
    events = parse_events(client.get(f"/jobs/{job_id}/events").text)
    improvements = [data for _, kind, data in events if kind == "improvement"]
    assert events[-1][1] == "result"
    assert improvements, "no improvement arrived"
    values = [objective(e, doc["options"]["objective"]) for e in improvements]
    assert values == sorted(values, reverse=True) and len(set(values)) == len(values)
    job = finished(client, job_id)
    assert job["status"] == "done"
    assert job["result"]["routes"] == improvements[-1]["routes"]
    assert [e["time"] for e in job["anytime"]] == [e["time"] for e in improvements]


def test_stop_keeps_the_best_solution(client):
    job_id = start_long(client, min_events=2)
    assert client.delete(f"/jobs/{job_id}").status_code == 200
    job = finished(client, job_id, 30.0)
    assert job["status"] == "stopped"
    assert job["result"]["status"] == "success"
    assert job["result"]["routes"] == job["best"]["routes"]
    assert job["result"]["statistics"]["sum_cost"] == job["best"]["sum_cost"]


def test_a_stop_before_the_task_runs_keeps_it_from_running(client):
    running = [start_long(client), start_long(client)]  # both solve slots busy
    queued = client.post("/jobs", json={"instance": example("two_types"), "time_limit": 1}).json()["id"]
    assert status(client, queued)["status"] == "queued"
    client.delete(f"/jobs/{queued}")
    job = status(client, queued)
    assert (job["status"], job["error"], job["result"]) == ("stopped", "stopped before it started", None)
    for job_id in running:
        client.delete(f"/jobs/{job_id}")
        assert finished(client, job_id, 30.0)["status"] == "stopped"


def test_a_killed_solve_fails_its_job_and_the_service_keeps_serving(client):
    before = client.get("/health").json()["worker_deaths"]
    job_id = start_long(client)
    (victim,) = wait_for(solve_processes, 10.0, "the solve's process")
    os.kill(victim.pid, signal.SIGKILL)
    job = finished(client, job_id, 30.0)
    assert job["status"] == "failed"
    assert job["error"] == "the worker solving it died (killed by SIGKILL)"
    assert client.get("/health").json()["worker_deaths"] == before + 1
    doc = example("two_types")
    assert client.post("/solve", json={"instance": doc, "time_limit": 0.5}).json()["status"] == "success"


@pytest.fixture
def served(monkeypatch):
    """What `run` hands to uvicorn, without serving; the manager it made is closed afterwards."""
    seen = {}

    def fake_run(app, **kwargs):
        seen["app"] = app

    import uvicorn

    monkeypatch.setattr(uvicorn, "run", fake_run)
    yield seen
    if "app" in seen:
        seen["app"].state.jobs.close()


def test_the_command_solves_on_a_local_cluster(served, capsys):
    assert cli.main(["serve", "--scheduler", "local", "--workers", "1", "--port", "9002"]) == 0
    jobs = served["app"].state.jobs
    assert isinstance(jobs, DaskJobManager)
    assert (jobs.scheduler, jobs.workers) == ("local", 1)
    err = capsys.readouterr().err
    assert "kvt-mtsp serve: http://127.0.0.1:9002/ with 1 solves at once on a local Dask cluster" in err


def test_an_unreachable_scheduler_is_one_line_and_status_2(served, capsys):
    import dask

    with dask.config.set({"distributed.comm.timeouts.connect": "1s"}):
        assert cli.main(["serve", "--scheduler", "tcp://127.0.0.1:9"]) == 2
    err = capsys.readouterr().err.strip().splitlines()
    assert len(err) == 1
    assert err[0].startswith("kvt-mtsp serve: error: --scheduler: cannot reach the Dask scheduler at tcp://127.0.0.1:9")
    assert "app" not in served


def test_without_the_cluster_extra_the_option_is_refused(served, capsys, monkeypatch):
    import kvt_mtsp.batch

    def missing():
        raise ImportError("a Dask cluster needs the package 'distributed': pip install 'kvt-mtsp[cluster]'")

    monkeypatch.setattr(kvt_mtsp.batch, "dask_modules", missing)
    monkeypatch.setattr("kvt_mtsp.service.dask_jobs.dask_modules", missing)
    assert cli.main(["serve", "--scheduler", "local"]) == 2
    assert capsys.readouterr().err == (
        "kvt-mtsp serve: error: --scheduler: a Dask cluster needs the package 'distributed': "
        "pip install 'kvt-mtsp[cluster]'\n"
    )
