"""JSON text to a parsed document, with the cost matrices kept compact.

`parse_document(text)` gives what `json.loads` gives, except that a row of a cost matrix holding
only numbers comes as an `array("d")` of them: a 2,000-node matrix then takes 8 bytes a cell
instead of a Python float each, and is built row by row without a Python loop over its cells. It
also records where the top-level "options" value lies in the text, so that options can be set in
the text without writing the whole document again (`with_options_text`).
"""

from __future__ import annotations

import json
import json.decoder
import re
from array import array
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

_DECODER = json.JSONDecoder()
_SPACE = re.compile(r"[ \t\n\r]*")
_NUMBERS = frozenset({float, int})

_Value = Callable[[str, int], tuple[Any, int]]


@dataclass(frozen=True)
class Parsed:
    """A parsed document and where its parts lie in the text."""

    document: Any
    options: tuple[int, int] | None = None  # span of the top-level "options" value the reader reads
    body: int | None = None  # position just after the top-level "{"; None when not known


class _Unusual(Exception):
    """Text the compact walk leaves to `json.loads`: other shapes, or a syntax error it reports."""


def compact_row(row: Any) -> Any:
    """`row` as an `array("d")` when it is a non-empty list of numbers (booleans excepted) that fit a
    double; otherwise `row` itself."""
    if type(row) is not list or not row or not set(map(type, row)) <= _NUMBERS:
        return row
    try:
        return array("d", row)
    except OverflowError:  # an integer beyond the range of a double
        return row


def parse_document(text: str) -> Parsed:
    """The document in `text`; raises what `json.loads(text)` raises for text that is not one JSON
    value (json.JSONDecodeError, RecursionError, ValueError)."""
    try:
        return _walk(text)
    except (_Unusual, json.JSONDecodeError):
        return Parsed(json.loads(text))


def _space(text: str, i: int) -> int:
    match = _SPACE.match(text, i)
    assert match is not None
    return match.end()


def _any(text: str, i: int) -> tuple[Any, int]:
    return _DECODER.raw_decode(text, i)


def _object(text: str, i: int, member: Callable[[str], _Value], spans: dict[str, tuple[int, int]]) -> tuple[Any, int]:
    """The object starting at text[i] == "{", each member read by `member(key)`; `spans` receives
    where each member's value lies (the last one for a repeated key, which is the one kept)."""
    out: dict[str, Any] = {}
    i = _space(text, i + 1)
    if text.startswith("}", i):
        return out, i + 1
    while True:
        if not text.startswith('"', i):
            raise _Unusual
        key, i = json.decoder.scanstring(text, i + 1)  # type: ignore[attr-defined]
        i = _space(text, i)
        if not text.startswith(":", i):
            raise _Unusual
        i = _space(text, i + 1)
        start = i
        out[key], i = member(key)(text, i)
        spans[key] = (start, i)
        i = _space(text, i)
        if text.startswith(",", i):
            i = _space(text, i + 1)
        elif text.startswith("}", i):
            return out, i + 1
        else:
            raise _Unusual


def _array(text: str, i: int, element: _Value) -> tuple[list[Any], int]:
    """The array starting at text[i] == "[", each element read by `element`."""
    out: list[Any] = []
    i = _space(text, i + 1)
    if text.startswith("]", i):
        return out, i + 1
    while True:
        value, i = element(text, i)
        out.append(value)
        i = _space(text, i)
        if text.startswith(",", i):
            i = _space(text, i + 1)
        elif text.startswith("]", i):
            return out, i + 1
        else:
            raise _Unusual


def _row(text: str, i: int) -> tuple[Any, int]:
    row, end = _any(text, i)
    return compact_row(row), end


def _matrix(text: str, i: int) -> tuple[Any, int]:
    if text.startswith("[", i):
        return _array(text, i, _row)
    return _any(text, i)


def _costs(text: str, i: int) -> tuple[Any, int]:
    if text.startswith("{", i):
        return _object(text, i, lambda _: _matrix, {})
    if text.startswith("[", i):
        return _array(text, i, _matrix)
    return _any(text, i)


def _walk(text: str) -> Parsed:
    i = _space(text, 0)
    if not text.startswith("{", i):
        raise _Unusual
    spans: dict[str, tuple[int, int]] = {}
    document, end = _object(text, i, lambda key: _costs if key == "costs" else _any, spans)
    if _space(text, end) != len(text):
        raise _Unusual
    return Parsed(document, spans.get("options"), i + 1)


def with_options_text(text: str, parsed: Parsed, settings: dict[str, Any]) -> str | None:
    """`text` with `settings` merged into its top-level "options" (added when it has none); None
    when that cannot be done in the text (the options are not an object, or a value cannot be
    written as JSON)."""
    document = parsed.document
    if not isinstance(document, dict) or parsed.body is None:
        return None
    options = document.get("options", {})
    if not isinstance(options, dict):
        return None
    try:
        written = json.dumps({**options, **settings}, allow_nan=False)
    except (TypeError, ValueError):
        return None
    if parsed.options is not None:
        start, end = parsed.options
        return text[:start] + written + text[end:]
    separator = ", " if document else ""
    return text[: parsed.body] + '"options": ' + written + separator + text[parsed.body :]
