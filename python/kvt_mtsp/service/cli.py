"""`kvt-mtsp serve`: runs the service with uvicorn.

`add_arguments(parser)` adds the command's options to an argparse parser and `run(args)` serves;
`main(argv)` does both for `python -m kvt_mtsp.service`.
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Sequence

from ..batch import cores

TOKEN_VARIABLE = "KVT_MTSP_TOKEN"
PROG = "kvt-mtsp serve"


def _count(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    return value


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number of seconds, got {text}")
    return value


def _port(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a port number: {text!r}") from None
    if not 0 <= value <= 65535:
        raise argparse.ArgumentTypeError(f"must be from 0 to 65535, got {value}")
    return value


def add_arguments(parser: argparse.ArgumentParser) -> None:
    """The options of `kvt-mtsp serve`, on `parser`."""
    parser.add_argument("--host", default="127.0.0.1", help="address to bind (default: 127.0.0.1, this machine only)")
    parser.add_argument("--port", type=_port, default=8000, help="port to bind (default: 8000)")
    parser.add_argument(
        "--workers",
        type=_count,
        default=None,
        metavar="N",
        help="solves at once, one worker process each (default: one per core; with --scheduler ADDRESS, "
        "as many as the cluster has threads)",
    )
    parser.add_argument(
        "--max-time-limit",
        type=_seconds,
        default=300.0,
        metavar="S",
        help="largest budget of one job in processor seconds; longer instance budgets are cut to it (default: 300)",
    )
    parser.add_argument(
        "--queue", type=_count, default=64, metavar="N", help="jobs that may wait; one more gets 429 (default: 64)"
    )
    parser.add_argument(
        "--keep-seconds",
        type=_seconds,
        default=3600.0,
        metavar="S",
        help="how long finished jobs are kept (default: 3600)",
    )
    parser.add_argument(
        "--keep-jobs", type=_count, default=1000, metavar="N", help="finished jobs kept at most (default: 1000)"
    )
    parser.add_argument(
        "--token",
        metavar="T",
        help=f"require 'Authorization: Bearer T' on every request (default: the environment variable {TOKEN_VARIABLE})",
    )
    parser.add_argument(
        "--scheduler",
        metavar="ADDRESS|local",
        help="solve the jobs on the Dask cluster at ADDRESS, or on one started on this machine ('local'), "
        "as 'kvt-mtsp batch' does (the 'cluster' extra)",
    )


def run(args: argparse.Namespace) -> int:
    """Serves until interrupted; 2 when the `serve` extra is missing or an option is refused."""
    try:
        import uvicorn

        from .app import ServiceConfig, create_app, new_manager
    except ImportError as err:
        print(
            f"{PROG}: error: the service needs the 'serve' extra: pip install 'kvt-mtsp[serve]' ({err})",
            file=sys.stderr,
        )
        return 2
    token = args.token if args.token is not None else os.environ.get(TOKEN_VARIABLE) or None
    workers = args.workers
    if workers is None and args.scheduler in (None, "local"):
        workers = cores()
    config = ServiceConfig(
        workers=workers,
        max_time_limit=args.max_time_limit,
        token=token,
        max_queue=args.queue,
        keep_seconds=args.keep_seconds,
        keep_jobs=args.keep_jobs,
        scheduler=args.scheduler,
    )
    manager = new_manager(config)
    if args.scheduler is not None:
        try:
            manager.connect()  # before serving: an unreachable cluster is one line, not a traceback
        except (ImportError, ConnectionError) as err:
            print(f"{PROG}: error: --scheduler: {err}", file=sys.stderr)
            return 2
    if args.host not in ("127.0.0.1", "localhost", "::1") and not token:
        print(f"{PROG}: warning: listening on {args.host} without a token", file=sys.stderr)
    if args.scheduler is None:
        how = f"{manager.workers} worker processes"
    else:
        cluster = "a local Dask cluster" if args.scheduler == "local" else f"the Dask cluster at {args.scheduler}"
        how = f"{manager.workers} solves at once on {cluster}"
    print(f"{PROG}: http://{args.host}:{args.port}/ with {how}", file=sys.stderr, flush=True)
    uvicorn.run(create_app(config, manager), host=args.host, port=args.port, log_level="warning", access_log=False)
    return 0


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog=PROG, description="Serve the solver over HTTP, with a page to watch a solve.")
    add_arguments(parser)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = list(sys.argv[1:] if argv is None else argv)
    if args[:1] == ["serve"]:
        args = args[1:]
    return run(build_parser().parse_args(args))
