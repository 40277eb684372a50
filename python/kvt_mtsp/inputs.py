"""Instance files as the command line and batches read them, and the settings they solve them with.

`read_document(path)` reads and parses a file, refusing with one line (`InputError`) what cannot
be an instance: no such file, binary or non-UTF-8 text, malformed JSON, more text than an instance
at the engine's node limit takes (`max_input_bytes`). `as_solved` sets the improvement options a
solve runs with: improvement on unless the caller or the instance says (`DEFAULT_IMPROVE`).
`refusal` is the line for a document the solver refuses.
"""

from __future__ import annotations

import json
import os
import stat
from typing import Any

from . import engine
from .document import Parsed, parse_document, with_options_text
from .findings import Finding

DEFAULT_IMPROVE = True  # `kvt-mtsp solve` and `kvt-mtsp batch` improve unless told otherwise

# The text of one cost cell at full precision: the longest number JSON writes for a double
# ("-1.2345678901234567e-308") and its separator.
_CELL_BYTES = 26
_MATRICES = 2  # full matrices at the node limit that an input may hold
_REST_BYTES = 1 << 20  # nodes, agents, constraints and options beside them


class InputError(Exception):
    """An input that cannot be read as an instance; the message says why, in one line."""


def max_input_bytes() -> int:
    """The largest input read: two full-precision matrices at the engine's node limit and the rest
    of the document. Endless files (/dev/zero) are refused before they exhaust memory."""
    n = engine.MAX_IMPROVE_NODES
    return _MATRICES * n * n * _CELL_BYTES + _REST_BYTES


def too_large() -> str:
    return f"too large: more than {max_input_bytes() >> 20} MiB"


def read_text(path: str) -> str:
    """The whole file as text; endless, oversized and binary files are refused without reading
    them whole."""
    limit = max_input_bytes()
    try:
        with open(path, "rb") as handle:
            info = os.fstat(handle.fileno())
            if stat.S_ISREG(info.st_mode) and info.st_size > limit:
                raise InputError(too_large())
            data = handle.read(limit + 1)
    except FileNotFoundError:
        raise InputError("no such file") from None
    except IsADirectoryError:
        raise InputError("is a directory, not a file") from None
    except PermissionError:
        raise InputError("permission denied") from None
    except MemoryError:
        raise InputError(too_large()) from None
    except OSError as err:
        raise InputError(err.strerror or str(err)) from None
    if len(data) > limit:
        raise InputError(too_large())
    if b"\0" in data:
        raise InputError("not a text file (binary data)")
    try:
        return data.decode("utf-8-sig")  # a byte-order mark is skipped, as the module skips it
    except UnicodeDecodeError:
        raise InputError("not a UTF-8 text file") from None


def parse(text: str) -> Parsed:
    """The document in `text` (`kvt_mtsp.document.parse_document`); InputError when it is not JSON."""
    try:
        return parse_document(text)
    except json.JSONDecodeError as err:
        raise InputError(f"malformed JSON: {err.msg} (line {err.lineno}, column {err.colno})") from None
    except RecursionError:
        raise InputError("cannot read: JSON nested too deeply") from None
    except MemoryError:
        raise InputError(too_large()) from None
    except ValueError as err:  # e.g. an integer beyond Python's digit limit
        reason = "a number has too many digits" if "digits" in str(err) else str(err)
        raise InputError(f"cannot read: {reason}") from None


def read_document(path: str) -> tuple[str, Parsed]:
    """The file's text and its parsed document; InputError naming what is wrong, without the path."""
    text = read_text(path)
    return text, parse(text)


def _positive(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and value > 0


def carried_rules(doc: Any) -> dict[str, bool]:
    """Which rules the instance carries: "enforce_capacity" when some agent has a positive
    "capacity" and some node a positive "demand", "enforce_precedence" when some "sequence"
    constraint lists a pair."""

    def items(key: str) -> list[Any]:
        value = doc.get(key) if isinstance(doc, dict) else None
        return [v for v in value if isinstance(v, dict)] if isinstance(value, list) else []

    capacity = any(_positive(a.get("capacity")) for a in items("agents")) and any(
        _positive(n.get("demand")) for n in items("nodes")
    )
    precedence = any(
        c.get("kind") == "sequence" and isinstance(c.get("precedence"), list) and len(c["precedence"]) > 0
        for c in items("constraints")
    )
    return {"enforce_capacity": capacity, "enforce_precedence": precedence}


def solve_settings(
    doc: Any,
    improve: bool | None,
    seed: int | None,
    default_improve: bool | None = None,
    iterations: int | None = None,
    rules: dict[str, bool | None] | None = None,
    threads: int | None = None,
    default_threads: int | None = None,
) -> dict[str, Any]:
    """The options to set in `doc` for a solve: "improve" when `improve` is given, or
    `default_improve` where neither it nor the document says; "seed" and "improve_iterations" when
    given; "threads" when `threads` is given, or `default_threads` where the document does not say.
    With `rules` (option name -> True, False or None), each rule given as True or False, and each left
    at None that the instance carries and its options do not set, on when the solve
    improves (the engine enforces the rules only then). None of them for a document whose options
    the solver refuses as they stand."""
    if not isinstance(doc, dict):
        return {}
    options = doc.get("options", {})
    if not isinstance(options, dict):
        return {}
    settings: dict[str, Any] = {}
    if improve is not None:
        settings["improve"] = bool(improve)
    elif default_improve is not None and "improve" not in options:
        settings["improve"] = bool(default_improve)
    if seed is not None:
        settings["seed"] = int(seed)
    if iterations is not None:
        settings["improve_iterations"] = int(iterations)
    if threads is not None:
        settings["threads"] = int(threads)
    elif default_threads is not None and "threads" not in options:
        settings["threads"] = int(default_threads)
    if rules is not None:
        improving = settings.get("improve", options.get("improve")) is True
        carried = carried_rules(doc)
        for name, given in rules.items():
            if given is not None:
                settings[name] = bool(given)
            elif improving and carried.get(name) and name not in options:
                settings[name] = True
    return settings


def with_settings(doc: Any, settings: dict[str, Any]) -> Any:
    """`doc` with `settings` in its options (a new document; `doc` itself when there are none)."""
    if not settings:
        return doc
    return {**doc, "options": {**doc.get("options", {}), **settings}}


def as_solved(
    text: str,
    parsed: Parsed,
    improve: bool | None,
    seed: int | None,
    default_improve: bool | None = DEFAULT_IMPROVE,
    iterations: int | None = None,
    rules: dict[str, bool | None] | None = None,
    threads: int | None = None,
    default_threads: int | None = None,
) -> tuple[str, Any]:
    """The text and document a solve runs: `parsed` with the settings of `solve_settings`, written
    into `text` in place of its options. `text` and the document unchanged when there is nothing to
    set or the options cannot be written as JSON (the solver then refuses the document as it
    stands)."""
    doc = parsed.document
    settings = solve_settings(doc, improve, seed, default_improve, iterations, rules, threads, default_threads)
    if not settings:
        return text, doc
    changed = with_options_text(text, parsed, settings)
    if changed is None:
        return text, doc
    return changed, with_settings(doc, settings)


def refusal(finding: Finding | None, error: BaseException | str | None = None) -> str:
    """Why the solver refuses a document, in one line: the finding it refuses the document for, or,
    when the reading found none, the solver's own error."""
    if finding is not None:
        return str(finding)
    text = str(error or "").strip()
    reason = text.splitlines()[0] if text else type(error).__name__ if isinstance(error, BaseException) else ""
    return f"the solver refused the instance: {reason}"
