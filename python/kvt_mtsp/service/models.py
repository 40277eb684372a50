"""Request and reply bodies of the service, as pydantic models for its OpenAPI page.

The service reads request bodies itself (size limit, JSON errors and the instance check come first),
and writes the result dictionary exactly as the solver returns it; these models describe both.
"""

from __future__ import annotations

from typing import Any, Literal

from pydantic import BaseModel, ConfigDict, Field

SCHEMA_URL = "/schema/instance.json"


class JobRequest(BaseModel):
    """A solve: the instance and what to change of its options. Instead of this object the body may be
    the instance document itself, with `time_limit`, `improve` and `seed` in the query string."""

    model_config = ConfigDict(extra="forbid")

    instance: dict[str, Any] = Field(description="the instance document (docs/instance-format.md)")
    time_limit: float | None = Field(
        None,
        gt=0,
        description="budget in processor seconds, replacing the instance's options.time_limit; at most the "
        "service's --max-time-limit",
    )
    improve: bool | None = Field(
        None, description="run the improvement engine after the first solution (default: on, unless the instance says)"
    )
    seed: int | None = Field(None, ge=0, lt=2**64, description="seed of the improvement's random choices")


def job_request_schema() -> dict[str, Any]:
    """`JobRequest`'s JSON Schema, its instance described by the instance's own schema."""
    schema = JobRequest.model_json_schema()
    schema["properties"]["instance"] = {"$ref": SCHEMA_URL, "description": "the instance document"}
    return schema


class Finding(BaseModel):
    severity: Literal["error", "warning"]
    path: str = Field(description='JSON path in the instance, e.g. "nodes[3].type"; "" for the whole document')
    message: str
    code: str


class CheckReply(BaseModel):
    findings: list[Finding]
    errors: int
    warnings: int
    refused: bool = Field(description="whether the solver refuses the instance")


class Refusal(BaseModel):
    detail: str
    findings: list[Finding] = []


class ErrorReply(BaseModel):
    detail: str


class RouteEntry(BaseModel):
    agent_id: int
    path: list[int]
    cost: float


class Statistics(BaseModel):
    solve_time: float
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    last_update_time: float


class AnytimeEntry(BaseModel):
    time: float
    max_cost: float
    sum_cost: float


class SolveResult(BaseModel):
    """The solver's result dictionary."""

    status: Literal["success", "failed"]
    timeout: bool
    routes: list[RouteEntry]
    statistics: Statistics
    anytime: list[AnytimeEntry]


class Improvement(BaseModel):
    """A new best solution, as the solve records it."""

    time: float
    max_cost: float
    sum_cost: float
    n_generated: int
    n_expanded: int
    routes: list[RouteEntry]


class JobCreated(BaseModel):
    id: str
    status: Literal["queued"]


class JobStatus(BaseModel):
    id: str
    name: str
    status: Literal["queued", "running", "done", "failed", "stopped"]
    time_limit: float = Field(description="the budget the solve runs with (processor seconds)")
    submitted: float = Field(description="Unix time")
    started: float | None
    finished: float | None
    best: Improvement | None = Field(description="the best solution so far")
    anytime: list[AnytimeEntry] = Field(description="the new best solutions so far, in order")
    findings: list[Finding] = Field(description="the instance check's findings")
    result: SolveResult | None = Field(description="the result dictionary, once the solve ended")
    error: str | None = Field(description="why the job has no result (failed, or stopped before it ran)")
    console: str = Field(description="the solver's console lines")


class Health(BaseModel):
    status: Literal["ok"]
    version: str
    workers: int
    worker_pids: list[int]
    queued: int
    running: int
    kept: int
    max_queue: int
    worker_deaths: int
    max_time_limit: float
