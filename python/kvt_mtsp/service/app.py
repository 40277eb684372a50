"""The HTTP application: the JSON API, its OpenAPI page at /docs, and the page at /.

`create_app(config)` builds it; the jobs run on the worker processes of a `JobManager` that the
application starts and stops with its lifespan.
"""

from __future__ import annotations

import asyncio
import contextlib
import json
import math
import pathlib
import secrets
from collections.abc import AsyncIterator
from dataclasses import dataclass
from typing import Any

from fastapi import FastAPI, Request
from fastapi.responses import FileResponse, JSONResponse, Response, StreamingResponse
from fastapi.staticfiles import StaticFiles

from .. import __version__, check_instance
from ..batch import cores
from . import models
from .jobs import FINISHED, JobManager, QueueFull

HERE = pathlib.Path(__file__).resolve().parent
STATIC = HERE / "static"
EXAMPLES = HERE / "examples"
SCHEMA = HERE / "instance.schema.json"

MAX_BODY_BYTES = 64 << 20
DEFAULT_TIME_LIMIT = 60.0  # the solver's budget when the instance names none
EVENT_POLL = 0.05  # seconds between looks at a job for new events
KEEPALIVE = 15.0  # seconds between comment lines on a quiet event stream
_REQUEST_KEYS = ("instance", "time_limit", "improve", "seed")
# Reachable without the token: the page's own files and the API's documentation.
_OPEN_PATHS = ("/", "/favicon.ico", "/docs", "/docs/oauth2-redirect", "/redoc", "/openapi.json", models.SCHEMA_URL)


@dataclass
class ServiceConfig:
    workers: int | None = 1  # solves at once; None: one per core, or on a cluster as many as it has threads
    max_time_limit: float = 300.0  # largest budget of one job, processor seconds
    token: str | None = None  # when set, requests need "Authorization: Bearer TOKEN"
    max_queue: int = 64  # queued jobs beyond which a new one is refused with 429
    keep_seconds: float = 3600.0  # finished jobs are forgotten after this long
    keep_jobs: int = 1000  # ... and beyond this many
    max_body: int = MAX_BODY_BYTES
    scheduler: str | None = None  # a Dask scheduler's address, or "local": jobs run on that cluster


class HttpError(Exception):
    def __init__(
        self,
        status: int,
        detail: str,
        findings: list[dict[str, str]] | None = None,
        headers: dict[str, str] | None = None,
    ) -> None:
        super().__init__(detail)
        self.status = status
        self.detail = detail
        self.findings = findings
        self.headers = headers or {}


def _finding(severity: str, path: str, message: str, code: str) -> dict[str, str]:
    return {"severity": severity, "path": path, "message": message, "code": code}


def _findings(doc: Any, time_limit: float | None) -> list[dict[str, str]]:
    return [_finding(f.severity, f.path, f.message, f.code) for f in check_instance(doc, time_limit=time_limit)]


async def _read_json(request: Request, limit: int) -> Any:
    """The request body parsed as JSON: 413 past `limit` bytes, 400 when it is no JSON."""
    too_large = HttpError(413, f"the body is larger than {limit >> 20} MiB")
    length = request.headers.get("content-length")
    if length is not None and length.isdigit() and int(length) > limit:
        raise too_large
    chunks: list[bytes] = []
    size = 0
    async for chunk in request.stream():
        size += len(chunk)
        if size > limit:
            raise too_large
        chunks.append(chunk)
    data = b"".join(chunks)
    try:
        return json.loads(data.decode("utf-8"))
    except UnicodeDecodeError:
        raise HttpError(400, "malformed JSON: the body is not UTF-8 text") from None
    except json.JSONDecodeError as err:
        raise HttpError(400, f"malformed JSON: {err.msg} (line {err.lineno}, column {err.colno})") from None
    except RecursionError:
        raise HttpError(400, "malformed JSON: nested too deeply") from None


def _query_value(text: str, name: str) -> Any:
    if name == "improve":
        lowered = text.lower()
        if lowered in ("true", "1", "yes", "on"):
            return True
        if lowered in ("false", "0", "no", "off"):
            return False
        return text
    try:
        return int(text) if name == "seed" else float(text)
    except ValueError:
        return text


def _split_request(body: Any, request: Request) -> tuple[Any, dict[str, Any], str]:
    """The instance, the request's settings and the JSON path prefix of the settings."""
    if isinstance(body, dict) and "instance" in body:
        unknown = [k for k in body if k not in _REQUEST_KEYS]
        if unknown:
            raise HttpError(
                422,
                "the request has keys the service does not read",
                [
                    _finding("error", k, f"unknown key; expected one of {', '.join(_REQUEST_KEYS)}", "unknown_key")
                    for k in unknown
                ],
            )
        return body["instance"], {k: body[k] for k in _REQUEST_KEYS[1:] if body.get(k) is not None}, ""
    settings = {k: _query_value(v, k) for k, v in request.query_params.items() if k in _REQUEST_KEYS[1:]}
    return body, settings, "?"


def _settings_findings(settings: dict[str, Any], prefix: str, max_time_limit: float) -> list[dict[str, str]]:
    found = []
    t = settings.get("time_limit")
    if t is not None:
        if not isinstance(t, (int, float)) or isinstance(t, bool) or not math.isfinite(t) or t <= 0:
            found.append(
                _finding(
                    "error", prefix + "time_limit", f"must be a positive number of seconds, got {json.dumps(t)}", "type"
                )
            )
        elif t > max_time_limit:
            found.append(
                _finding(
                    "error",
                    prefix + "time_limit",
                    f"{t:g} s is above the service's limit of {max_time_limit:g} s",
                    "time_limit_too_large",
                )
            )
    improve = settings.get("improve")
    if improve is not None and not isinstance(improve, bool):
        found.append(_finding("error", prefix + "improve", f"must be true or false, got {json.dumps(improve)}", "type"))
    seed = settings.get("seed")
    if seed is not None and not (isinstance(seed, int) and not isinstance(seed, bool) and 0 <= seed < 2**64):
        found.append(
            _finding("error", prefix + "seed", f"must be an integer from 0 to 2^64 - 1, got {json.dumps(seed)}", "type")
        )
    return found


@dataclass
class Prepared:
    text: str
    time_limit: float  # passed to the solver: above 0 replaces the instance's own budget
    budget: float  # the budget the solve runs with
    name: str
    findings: list[dict[str, str]]


def prepare(body: Any, request: Request, max_time_limit: float) -> Prepared:
    """The solver's input for a job request, or HttpError 422 with the findings that refuse it."""
    doc, settings, prefix = _split_request(body, request)
    bad = _settings_findings(settings, prefix, max_time_limit)
    if bad:
        raise HttpError(422, "the request's settings are not valid", bad)
    if isinstance(doc, dict):
        options = doc.get("options", {})
        if isinstance(options, dict) and ("improve" in settings or "seed" in settings or "improve" not in options):
            # Like `kvt-mtsp solve`: improve unless told otherwise or the instance says.
            options = dict(options)
            options["improve"] = settings.get("improve", options.get("improve", True))
            if "seed" in settings:
                options["seed"] = settings["seed"]
            doc = dict(doc, options=options)
    notes: list[dict[str, str]] = []
    explicit = settings.get("time_limit")
    if explicit is not None:
        time_limit = budget = float(explicit)
    else:
        options = doc.get("options") if isinstance(doc, dict) else None
        own = options.get("time_limit", DEFAULT_TIME_LIMIT) if isinstance(options, dict) else DEFAULT_TIME_LIMIT
        own_ok = isinstance(own, (int, float)) and not isinstance(own, bool) and math.isfinite(own)
        budget = float(own) if own_ok else DEFAULT_TIME_LIMIT
        time_limit = -1.0
        if budget > max_time_limit:
            notes.append(
                _finding(
                    "warning",
                    "options.time_limit",
                    f"{budget:g} s is above the service's limit; the solve runs for {max_time_limit:g} s",
                    "time_limit_capped",
                )
            )
            time_limit = budget = max_time_limit
    findings = _findings(doc, time_limit if time_limit > 0 else None) + notes
    if any(f["severity"] == "error" for f in findings):
        raise HttpError(422, "the solver refuses the instance", findings)
    name = doc.get("name") if isinstance(doc, dict) else None
    return Prepared(
        text=json.dumps(doc),
        time_limit=time_limit,
        budget=budget,
        name=name if isinstance(name, str) and name else "instance",
        findings=findings,
    )


def _event(kind: str, data: Any, event_id: int | None = None) -> str:
    head = f"id: {event_id}\n" if event_id is not None else ""
    return f"{head}event: {kind}\ndata: {json.dumps(data)}\n\n"


def new_manager(config: ServiceConfig) -> JobManager:
    """The job manager `config` asks for (not started)."""
    queue, seconds, kept = config.max_queue, config.keep_seconds, config.keep_jobs
    if config.scheduler is None:
        return JobManager(config.workers or cores(), max_queue=queue, keep_seconds=seconds, keep_jobs=kept)
    from .dask_jobs import DaskJobManager

    return DaskJobManager(config.scheduler, config.workers, max_queue=queue, keep_seconds=seconds, keep_jobs=kept)


def create_app(config: ServiceConfig | None = None, manager: JobManager | None = None) -> FastAPI:
    """The service's application; it starts `manager` (default: one of `config.workers` workers, on
    the Dask cluster of `config.scheduler` when that is set)."""
    config = config or ServiceConfig()
    jobs = manager or new_manager(config)

    @contextlib.asynccontextmanager
    async def lifespan(app: FastAPI) -> AsyncIterator[None]:
        jobs.start()
        try:
            yield
        finally:
            jobs.close()

    app = FastAPI(
        title="KVT MTSP Solver",
        version=__version__,
        description="Multi-agent routing as a service: send an instance, watch the solve improve, stop it, "
        f"fetch the routes. The instance's JSON Schema: [{models.SCHEMA_URL}]({models.SCHEMA_URL}).",
        lifespan=lifespan,
    )
    app.state.jobs = jobs
    app.state.config = config

    @app.exception_handler(HttpError)
    async def http_error(request: Request, err: HttpError) -> JSONResponse:
        body: dict[str, Any] = {"detail": err.detail}
        if err.findings is not None:
            body["findings"] = err.findings
        return JSONResponse(body, status_code=err.status, headers=err.headers or None)

    @app.middleware("http")
    async def bearer_token(request: Request, call_next: Any) -> Response:
        path = request.url.path
        if config.token and path not in _OPEN_PATHS and not path.startswith("/static/"):
            header = request.headers.get("authorization", "")
            scheme, _, given = header.partition(" ")
            if scheme.lower() != "bearer" or not secrets.compare_digest(given.strip().encode(), config.token.encode()):
                return JSONResponse(
                    {"detail": "a valid 'Authorization: Bearer TOKEN' header is needed"},
                    status_code=401,
                    headers={"WWW-Authenticate": "Bearer"},
                )
        response: Response = await call_next(request)
        return response

    refusals: dict[int | str, dict[str, Any]] = {
        400: {"model": models.ErrorReply, "description": "malformed JSON"},
        401: {"model": models.ErrorReply, "description": "the token is missing or wrong"},
        413: {"model": models.ErrorReply, "description": "the body is larger than 64 MiB"},
        422: {"model": models.Refusal, "description": "the solver refuses the instance: the findings by JSON path"},
    }
    job_body = {
        "requestBody": {
            "required": True,
            "content": {"application/json": {"schema": models.job_request_schema()}},
        }
    }

    def _submit(prepared: Prepared) -> str:
        try:
            job = jobs.submit(prepared.text, prepared.time_limit, prepared.name, prepared.findings, prepared.budget)
        except QueueFull:
            raise HttpError(
                429, f"the queue is full ({jobs.max_queue} jobs waiting); try again later", headers={"Retry-After": "1"}
            ) from None
        return job.id

    def _job(job_id: str) -> dict[str, Any]:
        snap = jobs.snapshot(job_id)
        if snap is None:
            raise HttpError(404, f"no job {job_id}")
        return snap

    @app.post(
        "/solve",
        response_model=models.SolveResult,
        responses={**refusals, 429: {"model": models.ErrorReply}, 500: {"model": models.ErrorReply}},
        openapi_extra=job_body,
        summary="Solve an instance and wait for the result dictionary",
    )
    async def solve(request: Request) -> Response:
        prepared = prepare(await _read_json(request, config.max_body), request, config.max_time_limit)
        job_id = _submit(prepared)
        while True:
            snap = _job(job_id)
            if snap["status"] in FINISHED:
                break
            if await request.is_disconnected():
                jobs.stop(job_id)
                return Response(status_code=499)
            await asyncio.sleep(EVENT_POLL)
        if snap["result"] is not None:
            return JSONResponse(snap["result"])
        if snap["error"] and snap["error"].startswith("the solver refused"):
            raise HttpError(422, snap["error"], snap["findings"])
        raise HttpError(500, snap["error"] or "the job ended without a result")

    @app.post(
        "/jobs",
        status_code=202,
        response_model=models.JobCreated,
        responses={**refusals, 429: {"model": models.ErrorReply}},
        openapi_extra=job_body,
        summary="Queue a solve",
    )
    async def create_job(request: Request) -> Response:
        prepared = prepare(await _read_json(request, config.max_body), request, config.max_time_limit)
        job_id = _submit(prepared)
        return JSONResponse(
            {"id": job_id, "status": "queued"}, status_code=202, headers={"Location": f"/jobs/{job_id}"}
        )

    @app.get(
        "/jobs/{job_id}",
        response_model=models.JobStatus,
        responses={404: {"model": models.ErrorReply}},
        summary="A job's state",
    )
    async def get_job(job_id: str) -> Response:
        return JSONResponse(_job(job_id))

    @app.delete(
        "/jobs/{job_id}",
        response_model=models.JobStatus,
        responses={404: {"model": models.ErrorReply}},
        summary="Stop a job: a running solve ends with its best solution so far",
    )
    async def stop_job(job_id: str) -> Response:
        snap = jobs.stop(job_id)
        if snap is None:
            raise HttpError(404, f"no job {job_id}")
        return JSONResponse(snap)

    @app.get(
        "/jobs/{job_id}/events",
        responses={
            200: {"content": {"text/event-stream": {}}, "description": "server-sent events"},
            404: {"model": models.ErrorReply},
        },
        summary="Server-sent events: 'improvement' per new best solution, then 'result' (or 'error')",
    )
    async def job_events(job_id: str) -> Response:
        _job(job_id)

        async def stream() -> AsyncIterator[str]:
            seen = 0
            quiet = 0.0
            while True:
                got = jobs.events_after(job_id, seen)
                if got is None:
                    yield _event("error", {"status": "failed", "error": "the job is no longer kept"})
                    return
                events, status, snap = got
                for entry in events:
                    seen += 1
                    yield _event("improvement", entry, seen)
                if status in FINISHED:
                    if snap["result"] is not None:
                        yield _event("result", snap["result"], seen + 1)
                    else:
                        yield _event("error", {"status": status, "error": snap["error"]}, seen + 1)
                    return
                if events:
                    quiet = 0.0
                elif quiet >= KEEPALIVE:
                    quiet = 0.0
                    yield ": keep-alive\n\n"
                await asyncio.sleep(EVENT_POLL)
                quiet += EVENT_POLL

        return StreamingResponse(
            stream(), media_type="text/event-stream", headers={"Cache-Control": "no-cache", "X-Accel-Buffering": "no"}
        )

    @app.post(
        "/check",
        response_model=models.CheckReply,
        responses={k: v for k, v in refusals.items() if k != 422},
        openapi_extra={
            "requestBody": {"required": True, "content": {"application/json": {"schema": {"$ref": models.SCHEMA_URL}}}}
        },
        summary="The instance check's findings",
    )
    async def check(request: Request) -> Response:
        body = await _read_json(request, config.max_body)
        doc = body["instance"] if isinstance(body, dict) and "instance" in body else body
        findings = _findings(doc, None)
        errors = sum(f["severity"] == "error" for f in findings)
        return JSONResponse(
            {"findings": findings, "errors": errors, "warnings": len(findings) - errors, "refused": errors > 0}
        )

    @app.get("/health", response_model=models.Health, summary="Workers and queue")
    async def health() -> Response:
        return JSONResponse(
            {"status": "ok", "version": __version__, **jobs.stats(), "max_time_limit": config.max_time_limit}
        )

    @app.get(models.SCHEMA_URL, summary="The JSON Schema of an instance", response_class=FileResponse)
    async def schema() -> FileResponse:
        return FileResponse(SCHEMA, media_type="application/schema+json")

    @app.get("/examples", summary="The bundled example instances' names")
    async def examples() -> list[str]:
        return sorted(p.stem for p in EXAMPLES.glob("*.json"))

    @app.get("/examples/{name}", summary="A bundled example instance", responses={404: {"model": models.ErrorReply}})
    async def example(name: str) -> FileResponse:
        path = EXAMPLES / f"{name}.json"
        if name not in {p.stem for p in EXAMPLES.glob("*.json")}:
            raise HttpError(404, f"no example {name}")
        return FileResponse(path, media_type="application/json")

    @app.get("/", include_in_schema=False)
    async def page() -> FileResponse:
        return FileResponse(STATIC / "index.html", media_type="text/html")

    app.mount("/static", StaticFiles(directory=STATIC), name="static")
    return app
