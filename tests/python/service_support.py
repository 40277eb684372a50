"""Instances and helpers shared by the service's tests."""

from __future__ import annotations

import json
import math
import pathlib
import random
import time
from collections.abc import Callable
from typing import Any

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
EXAMPLE_NAMES = ("euclid_one_type", "open_routes", "time_windows", "two_types")


def example(name: str) -> dict[str, Any]:
    doc: dict[str, Any] = json.loads((EXAMPLES / f"{name}.json").read_text())
    return doc


def long_instance(n: int = 150, agents: int = 4, seed: int = 7, objective: str = "min_sum") -> dict[str, Any]:
    """Uniform random points, one depot: the improvement engine keeps finding better routes for
    seconds, and a 60 s budget outlasts any test."""
    rng = random.Random(seed)
    points = [(50.0, 50.0)] + [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n - 1)]
    matrix = [[round(math.dist(p, q), 3) for q in points] for p in points]
    return {
        "name": "long",
        "nodes": [
            {"id": i, "x": x, "y": y, **({"type": "depot"} if i == 0 else {})} for i, (x, y) in enumerate(points)
        ],
        "agents": [{"id": k, "type": "car", "start_node": 0, "end_node": 0} for k in range(agents)],
        "costs": {"car": matrix},
        "options": {"objective": objective, "time_limit": 60, "improve": True},
    }


def wait_for(condition: Callable[[], Any], timeout: float = 30.0, what: str = "the condition") -> Any:
    """Polls `condition` until it returns something truthy; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def parse_events(text: str) -> list[tuple[str | None, str, Any]]:
    """Server-sent events as (id, event name, parsed data), comments skipped."""
    out = []
    for block in text.split("\n\n"):
        fields: dict[str, str] = {}
        for line in block.splitlines():
            if not line or line.startswith(":"):
                continue
            key, _, value = line.partition(": ")
            fields[key] = value
        if "event" in fields:
            out.append((fields.get("id"), fields["event"], json.loads(fields["data"])))
    return out


def objective(entry: dict[str, Any], kind: str) -> float:
    value: float = entry["max_cost"] if kind == "min_max" else entry["sum_cost"]
    return value
