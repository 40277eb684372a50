"""The service's page in a real browser: Debian's chromium driven by Playwright.

Skipped, with the reason, where Playwright or the browser is missing (`make py-test` installs both
where it may). Leaves a screenshot of the page after a stopped long solve in build/service-page.png.
"""

from __future__ import annotations

import json
import os
import pathlib
import socket
import subprocess
import sys
import time

import pytest

pytest.importorskip("fastapi", reason="the service's tests need the 'serve' extra (fastapi, uvicorn)")
pytest.importorskip("uvicorn", reason="the service's tests need the 'serve' extra (fastapi, uvicorn)")
sync_api = pytest.importorskip(
    "playwright.sync_api", reason="the browser test needs Playwright (pip install playwright)"
)
httpx = pytest.importorskip("httpx2", reason="the service's tests need httpx2")

from service_support import ROOT, example, long_instance  # noqa: E402

CHROMIUM = pathlib.Path(os.environ.get("KVT_CHROMIUM", "/usr/bin/chromium"))
SCREENSHOT = ROOT / "build" / "service-page.png"

if not os.access(CHROMIUM, os.X_OK):
    pytest.skip(
        f"no browser at {CHROMIUM}: install Debian's chromium (make py-test does, as root)", allow_module_level=True
    )
if "libasan" in os.environ.get("LD_PRELOAD", ""):
    pytest.skip("the browser does not run under the sanitizer's preloaded runtime", allow_module_level=True)


@pytest.fixture(scope="module")
def base_url():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    env = {k: v for k, v in os.environ.items() if k != "KVT_MTSP_TOKEN"}
    server = subprocess.Popen(
        [sys.executable, "-m", "kvt_mtsp.service", "--port", str(port), "--workers", "1", "--max-time-limit", "120"],
        env=env,
    )
    url = f"http://127.0.0.1:{port}"
    deadline = time.monotonic() + 30
    while True:
        try:
            httpx.get(url + "/health", timeout=2)
            break
        except httpx.TransportError:
            assert server.poll() is None and time.monotonic() < deadline, "the server did not come up"
            time.sleep(0.2)
    yield url
    server.terminate()
    server.wait(10)


@pytest.fixture(scope="module")
def page(base_url):
    with sync_api.sync_playwright() as p:
        browser = p.chromium.launch(
            executable_path=str(CHROMIUM),
            args=["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
            env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"},
        )
        tab = browser.new_page(viewport={"width": 1500, "height": 900})
        errors: list[str] = []
        tab.on("pageerror", lambda err: errors.append(str(err)))
        tab.goto(base_url + "/")
        yield tab
        browser.close()
        assert errors == []


def _drop(page, text: str, name: str) -> None:
    transfer = page.evaluate_handle(
        """([text, name]) => {
            const dt = new DataTransfer();
            dt.items.add(new File([text], name, { type: "application/json" }));
            return dt;
        }""",
        [text, name],
    )
    page.dispatch_event("#drop", "drop", {"dataTransfer": transfer})


def _points(page) -> int:
    return int(page.inner_text("#points").split()[0])


def _route_pixels(page) -> int:
    """Pixels of the map in the first agent's colour."""
    return int(
        page.evaluate(
            """() => {
                const c = document.getElementById("map");
                const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
                let n = 0;
                for (let i = 0; i < d.length; i += 4) if (d[i] === 31 && d[i + 1] === 119 && d[i + 2] === 180) n++;
                return n;
            }"""
        )
    )


def test_a_dropped_example_is_solved_and_drawn(page):
    doc = example("euclid_one_type")
    _drop(page, json.dumps(doc), "euclid_one_type.json")
    page.wait_for_function("document.getElementById('instance').value.includes('nodes')")
    page.fill("#time_limit", "2")
    page.click("#start")
    page.wait_for_function("document.getElementById('status').textContent.startsWith('done')", timeout=60000)
    assert _points(page) >= 2
    assert _route_pixels(page) > 100
    rows = page.locator("#agents tbody tr")
    assert rows.count() == len(doc["agents"])
    assert page.get_attribute("#download", "href").startswith("blob:")
    assert page.is_enabled("#start") and not page.is_enabled("#stop")


def test_a_refused_instance_shows_the_findings(page):
    doc = example("two_types")
    del doc["nodes"][1]["y"]
    page.fill("#instance", json.dumps(doc))
    page.click("#start")
    page.wait_for_selector("#findings:not([hidden])")
    assert "nodes[1].y" in page.inner_text("#findings")
    assert page.inner_text("#status").startswith("refused (HTTP 422)")


def test_a_long_solve_is_stopped_and_keeps_its_best(page):
    page.fill("#instance", json.dumps(long_instance(objective="min_max")))
    page.fill("#time_limit", "60")
    page.click("#start")
    page.wait_for_function("parseInt(document.getElementById('points').textContent) >= 3", timeout=60000)
    page.click("#stop")
    page.wait_for_function("document.getElementById('status').textContent.startsWith('stopped')", timeout=20000)
    assert _points(page) >= 3
    assert _route_pixels(page) > 100
    assert page.locator("#agents tbody tr").count() == 4
    SCREENSHOT.parent.mkdir(exist_ok=True)
    page.screenshot(path=str(SCREENSHOT), full_page=True)
    assert SCREENSHOT.stat().st_size > 10000
