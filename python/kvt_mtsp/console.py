"""Running a solve off the main thread, with the native solver's console lines collected apart."""

from __future__ import annotations

import faulthandler
import sys
import threading
import time
import types
from collections.abc import Callable

from .results import SolveResult


class ConsoleLines:
    """Collects the solver's console lines: pass it as `diagnostics=` to `_kvt_core.Solver`,
    `solve_json_str` or `solve_json_file`, which call it with the stream name ("stdout" or
    "stderr") and each line. Only the solves it is handed to write into it.

    As a context manager it also has a crash of the native side reported on standard error
    (faulthandler) while active; `text` holds the lines, one per line break, in order."""

    def __init__(self) -> None:
        self.lines: list[tuple[str, str]] = []
        self._lock = threading.Lock()
        self._faulthandler_was_enabled = False

    def __call__(self, stream: str, line: str) -> None:
        with self._lock:
            self.lines.append((stream, line))

    @property
    def text(self) -> str:
        with self._lock:
            return "".join(line + "\n" for _, line in self.lines)

    def isatty(self) -> bool:
        return sys.stderr.isatty()

    def write_terminal(self, text: str) -> None:
        """Writes straight to standard error (a progress bar, say)."""
        sys.stderr.write(text)
        sys.stderr.flush()

    def __enter__(self) -> ConsoleLines:
        self._faulthandler_was_enabled = faulthandler.is_enabled()
        faulthandler.enable(file=sys.stderr, all_threads=True)
        return self

    def __exit__(
        self, exc_type: type[BaseException] | None, exc: BaseException | None, tb: types.TracebackType | None
    ) -> None:
        if not self._faulthandler_was_enabled:
            faulthandler.disable()


def solve_in_thread(
    path: str,
    time_limit: float = -1.0,
    tick: Callable[[float], None] | None = None,
    interval: float = 0.1,
    diagnostics: Callable[[str, str], None] | None = None,
) -> SolveResult:
    """`_kvt_core.solve_json_file(path, time_limit)` on a worker thread.

    The search releases the interpreter lock, so the calling thread stays free: it calls `tick`
    with the wall seconds elapsed every `interval` seconds until the search ends, then returns the
    result or raises what the solver raised. `diagnostics` receives the solver's console lines
    (see ConsoleLines); without it they go to the process's streams."""
    import _kvt_core

    outcome: dict[str, object] = {}

    def work() -> None:
        try:
            outcome["result"] = _kvt_core.solve_json_file(path, time_limit, diagnostics=diagnostics)
        except BaseException as err:  # handed to the calling thread
            outcome["error"] = err

    # A daemon thread, so an interrupted caller can leave while the search still runs.
    worker = threading.Thread(target=work, name="kvt-solve", daemon=True)
    start = time.monotonic()
    worker.start()
    while worker.is_alive():
        worker.join(interval)
        if tick is not None:
            tick(time.monotonic() - start)
    error = outcome.get("error")
    if isinstance(error, BaseException):
        raise error
    result: SolveResult = outcome["result"]  # type: ignore[assignment]
    return result
