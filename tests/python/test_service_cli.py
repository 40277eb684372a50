"""`kvt-mtsp serve`: its arguments, and a real server on a loopback port."""

from __future__ import annotations

import json
import os
import socket
import subprocess
import sys
import time

import pytest

pytest.importorskip("fastapi", reason="the service's tests need the 'serve' extra (fastapi, uvicorn)")
pytest.importorskip("uvicorn", reason="the service's tests need the 'serve' extra (fastapi, uvicorn)")
httpx = pytest.importorskip("httpx2", reason="the service's tests need httpx2")

from kvt_mtsp.service import cli  # noqa: E402
from service_support import example  # noqa: E402


@pytest.fixture
def served(monkeypatch):
    """What `run` hands to uvicorn, without serving."""
    seen = {}

    def fake_run(app, **kwargs):
        seen["config"] = app.state.config
        seen.update(kwargs)

    import uvicorn

    monkeypatch.setattr(uvicorn, "run", fake_run)
    monkeypatch.delenv(cli.TOKEN_VARIABLE, raising=False)
    return seen


def test_defaults_bind_the_loopback_address(served):
    assert cli.main(["serve"]) == 0
    assert (served["host"], served["port"]) == ("127.0.0.1", 8000)
    config = served["config"]
    assert config.token is None
    assert config.max_time_limit == 300.0
    assert (config.max_queue, config.keep_seconds, config.keep_jobs) == (64, 3600.0, 1000)


def test_options_reach_the_service(served):
    argv = ["--host", "0.0.0.0", "--port", "9001", "--workers", "3", "--max-time-limit", "20", "--token", "t0k"]
    assert cli.main(argv + ["--queue", "5", "--keep-seconds", "60", "--keep-jobs", "7"]) == 0
    assert (served["host"], served["port"]) == ("0.0.0.0", 9001)
    config = served["config"]
    assert (config.workers, config.max_time_limit, config.token) == (3, 20.0, "t0k")
    assert (config.max_queue, config.keep_seconds, config.keep_jobs) == (5, 60.0, 7)


@pytest.mark.parametrize(
    ("env", "flag", "token"), [("from-env", None, "from-env"), ("from-env", "flag", "flag"), ("", None, None)]
)
def test_the_token_comes_from_the_flag_or_the_environment(served, monkeypatch, env, flag, token):
    monkeypatch.setenv(cli.TOKEN_VARIABLE, env)
    assert cli.main(["serve"] + (["--token", flag] if flag else [])) == 0
    assert served["config"].token == token


@pytest.mark.parametrize(
    ("argv", "message"),
    [
        (["--workers", "0"], "argument --workers: must be at least 1, got 0"),
        (["--port", "x"], "argument --port: not a port number: 'x'"),
        (["--max-time-limit", "-1"], "argument --max-time-limit: must be a positive number of seconds, got -1"),
    ],
)
def test_bad_arguments_exit_2(served, capsys, argv, message):
    with pytest.raises(SystemExit) as stop:
        cli.main(argv)
    assert stop.value.code == 2
    assert message in capsys.readouterr().err


def _free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return int(s.getsockname()[1])


def test_the_command_serves_on_a_loopback_port(tmp_path):
    port = _free_port()
    env = dict(os.environ, KVT_MTSP_TOKEN="abc")
    server = subprocess.Popen(
        [sys.executable, "-m", "kvt_mtsp.service", "serve", "--port", str(port), "--workers", "1"],
        env=env,
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        base = f"http://127.0.0.1:{port}"
        auth = {"Authorization": "Bearer abc"}
        deadline = time.monotonic() + 30
        while True:
            try:
                reply = httpx.get(base + "/health", headers=auth, timeout=2)
                break
            except httpx.TransportError:
                assert server.poll() is None, server.stderr.read() if server.stderr else ""
                assert time.monotonic() < deadline, "the server did not come up"
                time.sleep(0.2)
        assert reply.status_code == 200
        assert reply.json()["workers"] == 1
        assert httpx.get(base + "/health", timeout=5).status_code == 401
        doc = example("two_types")
        solved = httpx.post(base + "/solve?time_limit=0.5", content=json.dumps(doc), headers=auth, timeout=30)
        assert solved.status_code == 200
        assert solved.json()["status"] == "success"
    finally:
        server.terminate()
        server.wait(10)
    assert f"kvt-mtsp serve: http://127.0.0.1:{port}/ with 1 worker processes" in (
        server.stderr.read() if server.stderr else ""
    )
