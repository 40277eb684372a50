"""Running a solve off the main thread while the native solver's console output is set aside."""
from __future__ import annotations

import ctypes
import faulthandler
import os
import sys
import tempfile
import threading
import time
import types
from typing import BinaryIO, Callable

from .results import SolveResult


class NativeOutput:
    """Redirects the process's standard output and error (file descriptors 1 and 2) to a temporary
    file while active, so the solver's native console lines do not mix with ours.

    `terminal` writes to the original standard error meanwhile; `text` holds what was captured."""

    def __init__(self) -> None:
        self.text = ""
        self._saved_out = -1
        self._saved_err = -1
        self._sink: BinaryIO | None = None
        self.terminal: BinaryIO | None = None
        self._faulthandler_was_enabled = False

    def __enter__(self) -> NativeOutput:
        _flush_all()
        self._saved_out, self._saved_err = os.dup(1), os.dup(2)
        self._sink = tempfile.TemporaryFile()
        os.dup2(self._sink.fileno(), 1)
        os.dup2(self._sink.fileno(), 2)
        self.terminal = os.fdopen(os.dup(self._saved_err), "wb", buffering=0)
        # Should the native side crash meanwhile, say so where the user can see it.
        self._faulthandler_was_enabled = faulthandler.is_enabled()
        faulthandler.enable(file=self.terminal, all_threads=True)
        return self

    def __exit__(self, exc_type: type[BaseException] | None, exc: BaseException | None,
                 tb: types.TracebackType | None) -> None:
        _flush_all()
        if self._faulthandler_was_enabled:
            faulthandler.enable(file=sys.stderr, all_threads=True)
        else:
            faulthandler.disable()
        os.dup2(self._saved_out, 1)
        os.dup2(self._saved_err, 2)
        os.close(self._saved_out)
        os.close(self._saved_err)
        assert self._sink is not None and self.terminal is not None
        self.terminal.close()
        self._sink.seek(0)
        self.text = self._sink.read().decode("utf-8", errors="replace")
        self._sink.close()

    def isatty(self) -> bool:
        return self.terminal is not None and self.terminal.isatty()

    def write_terminal(self, text: str) -> None:
        if self.terminal is not None:
            self.terminal.write(text.encode("utf-8", errors="replace"))


def _flush_all() -> None:
    sys.stdout.flush()
    sys.stderr.flush()
    try:
        ctypes.CDLL(None).fflush(None)  # C stdio buffers the native side may hold
    except (OSError, AttributeError):
        pass


def solve_in_thread(path: str, time_limit: float = -1.0, tick: Callable[[float], None] | None = None,
                    interval: float = 0.1) -> SolveResult:
    """`_kvt_core.solve_json_file(path, time_limit)` on a worker thread.

    The search releases the interpreter lock, so the calling thread stays free: it calls `tick`
    with the wall seconds elapsed every `interval` seconds until the search ends, then returns the
    result or raises what the solver raised."""
    import _kvt_core

    outcome: dict[str, object] = {}

    def work() -> None:
        try:
            outcome["result"] = _kvt_core.solve_json_file(path, time_limit)
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
