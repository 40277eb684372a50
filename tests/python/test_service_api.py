"""The service's JSON API through FastAPI's test client, on one worker process."""

from __future__ import annotations

import json
import os
import signal

import pytest

pytest.importorskip("fastapi", reason="the service's tests need the 'serve' extra (fastapi, httpx2)")
pytest.importorskip("httpx2", reason="FastAPI's test client needs httpx2")

from fastapi.testclient import TestClient  # noqa: E402

import _kvt_core  # noqa: E402
from kvt_mtsp.service.app import ServiceConfig, create_app  # noqa: E402
from service_support import (  # noqa: E402
    EXAMPLE_NAMES,
    ROOT,
    example,
    long_instance,
    objective,
    parse_events,
    wait_for,
)

RESULT_KEYS = ["status", "timeout", "routes", "statistics", "anytime"]


@pytest.fixture(scope="module")
def client():
    app = create_app(ServiceConfig(workers=1, max_time_limit=120.0))
    with TestClient(app) as c:
        yield c


@pytest.fixture
def config(client):
    return client.app.state.config


@pytest.fixture
def jobs(client):
    return client.app.state.jobs


def status(client, job_id):
    return client.get(f"/jobs/{job_id}").json()


def finished(client, job_id, timeout=60.0):
    return wait_for(
        lambda: (s := status(client, job_id))["status"] in ("done", "failed", "stopped") and s,
        timeout,
        f"job {job_id} to finish",
    )


def start_long(client, min_events=1):
    job_id = client.post("/jobs", json={"instance": long_instance(), "time_limit": 60}).json()["id"]
    wait_for(lambda: len(status(client, job_id)["anytime"]) >= min_events, 60.0, f"{min_events} events")
    return job_id


def test_health_names_the_workers(client):
    reply = client.get("/health")
    assert reply.status_code == 200
    body = reply.json()
    assert body["status"] == "ok"
    assert body["workers"] == 1
    assert len(body["worker_pids"]) == 1
    assert body["max_time_limit"] == 120.0


@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_solve_replies_with_the_modules_result_dictionary(client, name):
    # A capped improvement ends the solve long before its budget: the answer does not depend on time.
    doc = example(name)
    doc["options"] = dict(doc.get("options", {}), improve=True, improve_iterations=300, seed=1)
    reply = client.post("/solve", json={"instance": doc, "time_limit": 10})
    assert reply.status_code == 200
    body = reply.json()
    direct = _kvt_core.solve_json_str(json.dumps(doc), 10.0, diagnostics=lambda stream, line: None)
    assert list(body) == list(direct) == RESULT_KEYS
    assert body["timeout"] is direct["timeout"] is False
    assert body["status"] == direct["status"] == "success"
    assert body["routes"] == direct["routes"]
    untimed = ("max_cost", "sum_cost", "n_generated", "n_expanded")
    assert {k: body["statistics"][k] for k in untimed} == {k: direct["statistics"][k] for k in untimed}
    assert list(body["statistics"]) == list(direct["statistics"])
    assert [(e["max_cost"], e["sum_cost"]) for e in body["anytime"]] == [
        (e["max_cost"], e["sum_cost"]) for e in direct["anytime"]
    ]


def test_solve_takes_the_bare_instance_with_settings_in_the_query(client):
    doc = example("two_types")
    reply = client.post("/solve?time_limit=0.5&improve=false&seed=3", content=json.dumps(doc))
    assert reply.status_code == 200
    assert reply.json()["status"] == "success"


def test_job_life_cycle_and_events_in_order(client):
    doc = example("euclid_one_type")
    reply = client.post("/jobs", json={"instance": doc, "time_limit": 1.0, "improve": True, "seed": 1})
    assert reply.status_code == 202
    created = reply.json()
    assert created["status"] == "queued"
    assert reply.headers["location"] == f"/jobs/{created['id']}"
    assert status(client, created["id"])["status"] in ("queued", "running", "done")

    events = parse_events(client.get(f"/jobs/{created['id']}/events").text)
    final = finished(client, created["id"])
    assert final["status"] == "done"
    assert final["time_limit"] == 1.0
    improvements = [data for _, kind, data in events if kind == "improvement"]
    assert [kind for _, kind, _ in events] == ["improvement"] * len(improvements) + ["result"]
    assert [event_id for event_id, _, _ in events] == [str(k) for k in range(1, len(events) + 1)]
    assert len(improvements) >= 1
    kind = doc["options"]["objective"] if "objective" in doc.get("options", {}) else "min_sum"
    values = [objective(e, kind) for e in improvements]
    assert all(later < earlier for earlier, later in zip(values, values[1:])), values
    result = events[-1][2]
    assert result == final["result"]
    assert [(e["max_cost"], e["sum_cost"]) for e in improvements] == [
        (e["max_cost"], e["sum_cost"]) for e in result["anytime"]
    ]
    assert final["best"] == improvements[-1]
    assert final["anytime"] == [{k: e[k] for k in ("time", "max_cost", "sum_cost")} for e in improvements]
    # The events of a finished job replay whole.
    assert parse_events(client.get(f"/jobs/{created['id']}/events").text) == events


def test_stop_keeps_the_best_solution(client):
    job_id = start_long(client, min_events=2)
    seen = status(client, job_id)["best"]
    reply = client.delete(f"/jobs/{job_id}")
    assert reply.status_code == 200
    final = finished(client, job_id, timeout=10.0)
    assert final["status"] == "stopped"
    result = final["result"]
    assert list(result) == RESULT_KEYS
    assert result["status"] == "success"
    assert result["timeout"] is True
    assert result["statistics"]["sum_cost"] <= seen["sum_cost"]
    assert result["statistics"]["sum_cost"] == pytest.approx(final["best"]["sum_cost"], abs=1e-6)
    assert sorted(n for r in result["routes"] for n in r["path"][1:-1]) == list(range(1, 150))
    # Stopping a finished job changes nothing.
    assert client.delete(f"/jobs/{job_id}").json() == final


def test_stop_of_a_queued_job_keeps_it_from_running(client):
    running = start_long(client)
    queued = client.post("/jobs", json={"instance": example("two_types"), "time_limit": 1}).json()["id"]
    assert status(client, queued)["status"] == "queued"
    stopped = client.delete(f"/jobs/{queued}").json()
    assert stopped["status"] == "stopped"
    assert stopped["result"] is None
    assert stopped["error"] == "stopped before it started"
    events = parse_events(client.get(f"/jobs/{queued}/events").text)
    assert events == [("1", "error", {"status": "stopped", "error": "stopped before it started"})]
    client.delete(f"/jobs/{running}")
    assert finished(client, running)["status"] == "stopped"


def test_full_queue_answers_429(client, jobs, monkeypatch):
    monkeypatch.setattr(jobs, "max_queue", 1)
    running = start_long(client)
    waiting = client.post("/jobs", json={"instance": example("two_types"), "time_limit": 1})
    assert waiting.status_code == 202
    refused = client.post("/jobs", json={"instance": example("two_types"), "time_limit": 1})
    assert refused.status_code == 429
    assert refused.json() == {"detail": "the queue is full (1 jobs waiting); try again later"}
    assert refused.headers["retry-after"] == "1"
    assert client.post("/solve", json={"instance": example("two_types")}).status_code == 429
    client.delete(f"/jobs/{waiting.json()['id']}")
    client.delete(f"/jobs/{running}")
    finished(client, running)


def test_a_dying_worker_fails_its_job_and_the_service_keeps_serving(client):
    before = client.get("/health").json()
    job_id = start_long(client)
    pid = before["worker_pids"][0]
    os.kill(pid, signal.SIGKILL)
    final = finished(client, job_id)
    assert final["status"] == "failed"
    assert final["error"] == "the worker solving it died (killed by SIGKILL)"
    assert final["result"] is None
    events = parse_events(client.get(f"/jobs/{job_id}/events").text)
    assert events[-1][1:] == ("error", {"status": "failed", "error": "the worker solving it died (killed by SIGKILL)"})
    after = client.get("/health").json()
    assert after["worker_deaths"] == before["worker_deaths"] + 1
    assert after["worker_pids"] != before["worker_pids"]
    reply = client.post("/solve", json={"instance": example("two_types"), "time_limit": 0.5})
    assert reply.status_code == 200
    assert reply.json()["status"] == "success"


@pytest.mark.parametrize(
    ("body", "detail"),
    [
        (b'{"instance": ', "malformed JSON: Expecting value (line 1, column 14)"),
        (b"{'nodes': []}", "malformed JSON: Expecting property name enclosed in double quotes (line 1, column 2)"),
        (b"\xff\xfe", "malformed JSON: the body is not UTF-8 text"),
        (b"[" * 100000 + b"]" * 100000, "malformed JSON: nested too deeply"),
    ],
)
@pytest.mark.parametrize("path", ["/solve", "/jobs", "/check"])
def test_malformed_json_answers_400(client, path, body, detail):
    reply = client.post(path, content=body, headers={"content-type": "application/json"})
    assert reply.status_code == 400
    assert reply.json() == {"detail": detail}


@pytest.mark.parametrize("chunked", [False, True])
@pytest.mark.parametrize("path", ["/solve", "/jobs", "/check"])
def test_bodies_over_the_limit_answer_413(client, config, monkeypatch, path, chunked):
    monkeypatch.setattr(config, "max_body", 1 << 20)
    body = json.dumps({"instance": example("two_types"), "pad": "x" * (1 << 20)}).encode()
    content = iter([body[i : i + 65536] for i in range(0, len(body), 65536)]) if chunked else body
    reply = client.post(path, content=content)
    assert reply.status_code == 413
    assert reply.json() == {"detail": "the body is larger than 1 MiB"}


def test_the_default_limit_is_64_mib(client):
    reply = client.post("/check", content=b"x", headers={"content-length": str((64 << 20) + 1)})
    assert reply.status_code == 413
    assert reply.json() == {"detail": "the body is larger than 64 MiB"}


def _without_y():
    doc = example("two_types")
    del doc["nodes"][1]["y"]
    return doc


def _unknown_start():
    doc = example("two_types")
    doc["agents"][0]["start_node"] = 999
    return doc


@pytest.mark.parametrize(
    ("request_body", "detail", "expected"),
    [
        (
            {"instance": _without_y()},
            "the solver refuses the instance",
            ("error", "nodes[1].y", "missing"),
        ),
        (
            {"instance": _unknown_start()},
            "the solver refuses the instance",
            ("error", "agents[0].start_node", "unknown_node"),
        ),
        (
            {"instance": example("two_types"), "time_limit": 500},
            "the request's settings are not valid",
            ("error", "time_limit", "time_limit_too_large"),
        ),
        (
            {"instance": example("two_types"), "seed": -1},
            "the request's settings are not valid",
            ("error", "seed", "type"),
        ),
        (
            {"instance": example("two_types"), "improve": "yes"},
            "the request's settings are not valid",
            ("error", "improve", "type"),
        ),
        (
            {"instance": example("two_types"), "budget": 3},
            "the request has keys the service does not read",
            ("error", "budget", "unknown_key"),
        ),
    ],
)
@pytest.mark.parametrize("path", ["/solve", "/jobs"])
def test_refused_requests_answer_422_with_findings_by_path(client, path, request_body, detail, expected):
    reply = client.post(path, json=request_body)
    assert reply.status_code == 422
    body = reply.json()
    assert body["detail"] == detail
    assert expected in [(f["severity"], f["path"], f["code"]) for f in body["findings"]]


def test_query_settings_are_named_with_a_question_mark(client):
    reply = client.post("/jobs?time_limit=abc", json=example("two_types"))
    assert reply.status_code == 422
    assert reply.json()["findings"] == [
        {
            "severity": "error",
            "path": "?time_limit",
            "message": 'must be a positive number of seconds, got "abc"',
            "code": "type",
        }
    ]


def test_an_instance_budget_above_the_limit_is_cut_with_a_warning(client, config, monkeypatch):
    monkeypatch.setattr(config, "max_time_limit", 0.5)
    doc = example("two_types")
    doc["options"] = dict(doc.get("options", {}), time_limit=1000)
    job_id = client.post("/jobs", json={"instance": doc}).json()["id"]
    final = finished(client, job_id)
    assert final["time_limit"] == 0.5
    assert {
        "severity": "warning",
        "path": "options.time_limit",
        "message": "1000 s is above the service's limit; the solve runs for 0.5 s",
        "code": "time_limit_capped",
    } in final["findings"]


def test_check_lists_the_findings(client):
    doc = example("two_types")
    doc["options"] = dict(doc.get("options", {}), objective="minmax")
    doc["agents"][0]["max_lenght"] = 10
    body = client.post("/check", json=doc).json()
    found = {(f["path"], f["code"]) for f in body["findings"]}
    assert ("options.objective", "objective_name") in found
    assert ("agents[0].max_lenght", "unknown_key") in found
    assert body["errors"] == 0
    assert body["warnings"] == len(body["findings"])
    assert body["refused"] is False
    refused = client.post("/check", json={"instance": _without_y()}).json()
    assert refused["refused"] is True
    assert ("nodes[1].y", "missing") in {(f["path"], f["code"]) for f in refused["findings"]}


def test_the_job_carries_the_checks_findings(client):
    doc = example("two_types")
    doc["nodes"][1]["demand"] = 4
    job_id = client.post("/jobs", json={"instance": doc, "time_limit": 0.3}).json()["id"]
    assert ("nodes[1].demand", "demand_not_enforced") in {
        (f["path"], f["code"]) for f in finished(client, job_id)["findings"]
    }


def test_unknown_jobs_answer_404(client):
    for reply in (client.get("/jobs/nope"), client.delete("/jobs/nope"), client.get("/jobs/nope/events")):
        assert reply.status_code == 404
        assert reply.json() == {"detail": "no job nope"}


def test_finished_jobs_beyond_the_count_are_forgotten(client, jobs, monkeypatch):
    monkeypatch.setattr(jobs, "keep_jobs", 2)
    ids = [
        client.post("/jobs", json={"instance": example("two_types"), "time_limit": 0.2}).json()["id"] for _ in range(3)
    ]
    for job_id in ids:
        finished(client, job_id)
    client.post("/jobs", json={"instance": example("two_types"), "time_limit": 0.2})  # prunes
    assert client.get(f"/jobs/{ids[0]}").status_code == 404
    assert client.get(f"/jobs/{ids[2]}").status_code == 200


def test_finished_jobs_older_than_the_keep_time_are_forgotten(client, jobs, monkeypatch):
    job_id = client.post("/jobs", json={"instance": example("two_types"), "time_limit": 0.2}).json()["id"]
    finished(client, job_id)
    monkeypatch.setattr(jobs, "keep_seconds", 0.0)
    wait_for(lambda: client.get(f"/jobs/{job_id}").status_code == 404, 5.0, "the job to be forgotten")


@pytest.mark.parametrize(
    ("headers", "code"),
    [
        ({}, 401),
        ({"Authorization": "Bearer wrong"}, 401),
        ({"Authorization": "Basic s3cret"}, 401),
        ({"Authorization": "Bearer s3cret"}, 200),
        ({"Authorization": "bearer s3cret"}, 200),
    ],
)
def test_the_token_guards_every_api_request(client, config, monkeypatch, headers, code):
    monkeypatch.setattr(config, "token", "s3cret")
    for reply in (
        client.get("/health", headers=headers),
        client.post("/check", json=example("two_types"), headers=headers),
        client.get("/examples", headers=headers),
    ):
        assert reply.status_code == code
        if code == 401:
            assert reply.json() == {"detail": "a valid 'Authorization: Bearer TOKEN' header is needed"}
            assert reply.headers["www-authenticate"] == "Bearer"
    # The page and the documentation carry no data and load without it.
    for path in ("/", "/static/app.js", "/docs", "/openapi.json", "/schema/instance.json"):
        assert client.get(path).status_code == 200, path


def test_schema_endpoint_serves_the_documented_schema(client):
    reply = client.get("/schema/instance.json")
    assert reply.status_code == 200
    assert reply.headers["content-type"] == "application/schema+json"
    assert reply.json() == json.loads((ROOT / "docs" / "instance.schema.json").read_text())


def test_openapi_documents_the_endpoints(client):
    spec = client.get("/openapi.json").json()
    assert set(spec["paths"]) >= {"/solve", "/jobs", "/jobs/{job_id}", "/jobs/{job_id}/events", "/check", "/health"}
    body = spec["paths"]["/jobs"]["post"]["requestBody"]["content"]["application/json"]["schema"]
    assert body["properties"]["instance"]["$ref"] == "/schema/instance.json"
    assert set(spec["paths"]["/solve"]["post"]["responses"]) >= {"200", "400", "413", "422", "429"}


def test_bundled_examples_are_the_repositorys(client):
    assert client.get("/examples").json() == sorted(EXAMPLE_NAMES)
    for name in EXAMPLE_NAMES:
        assert client.get(f"/examples/{name}").json() == example(name)
    assert client.get("/examples/nope").status_code == 404


def test_the_page_and_its_files_are_served(client):
    page = client.get("/")
    assert page.status_code == 200
    assert page.headers["content-type"].startswith("text/html")
    assert "<title>KVT MTSP Solver</title>" in page.text
    for name in ("app.js", "style.css"):
        assert client.get(f"/static/{name}").status_code == 200
    # Nothing is fetched from elsewhere.
    for text in (page.text, client.get("/static/app.js").text, client.get("/static/style.css").text):
        assert "http://" not in text and "https://" not in text
