"""`kvt_mtsp.document.parse_document`: what `json.loads` gives, with plain cost rows packed as
`array("d")`, the same errors for text that is not JSON, and the options' place in the text."""

from __future__ import annotations

import json
from array import array

import pytest

from kvt_mtsp.document import parse_document
from kvt_mtsp.inputs import max_input_bytes


def unpacked(value):
    """The value with arrays as lists and numbers as floats (as the engine reads cost cells)."""
    if isinstance(value, (array, list)):
        return [unpacked(v) for v in value]
    if isinstance(value, dict):
        return {k: unpacked(v) for k, v in value.items()}
    if isinstance(value, int) and not isinstance(value, bool):
        return float(value) if abs(value) < 1e308 else value
    return value


TEXTS = [
    '{"nodes": [], "costs": {"t": [[0, 1.5], [2e3, -0.0]]}}',
    '{"costs": [[[1, 2]], [[3]]], "options": {"improve": false}}',
    '{"costs": {"t": [[true, 1], [1e400, 2], [], "row", null, [' + "9" * 30 + ", 1], [" + "9" * 400 + "]]}}",
    '{"costs": {"a": [[1]], "a": [[2]]}, "costs": 5}',
    '  {"costs": {"t": [[NaN, Infinity]]}, "x": {"costs": [[1]]}}  \n',
    '{"costs": {}} ',
    "[1, 2]",
    '"text"',
    '{"a": {"b": [1, {"c": null}]}, "k\\u00e9y": "\\"quoted\\""}',
]


@pytest.mark.parametrize("text", TEXTS)
def test_the_document_is_what_json_loads_gives(text):
    parsed = parse_document(text).document
    expected = json.loads(text)
    assert json.dumps(unpacked(parsed)) == json.dumps(unpacked(expected))


def test_plain_rows_are_packed_and_others_kept():
    doc = parse_document(TEXTS[2]).document
    rows = doc["costs"]["t"]
    assert [type(r).__name__ for r in rows] == ["list", "array", "list", "str", "NoneType", "array", "list"]
    assert isinstance(parse_document(TEXTS[0]).document["costs"]["t"][0], array)
    # Only the matrices under "costs" at the top level are packed.
    assert isinstance(parse_document(TEXTS[4]).document["x"]["costs"][0], list)


@pytest.mark.parametrize(
    "text",
    ["{", '{"nodes": [', '{"a": 1,}', '{"a" 1}', '{"a": 1} x', '{"costs": {"t": [[1,, 2]]}}', "", "\ufeff{}"],
)
def test_text_that_is_not_json_raises_what_json_loads_raises(text):
    with pytest.raises(json.JSONDecodeError) as expected:
        json.loads(text)
    with pytest.raises(json.JSONDecodeError) as raised:
        parse_document(text)
    assert (raised.value.msg, raised.value.pos) == (expected.value.msg, expected.value.pos)


def test_the_options_span_is_the_last_options_value():
    text = '{"options": {"a": 1}, "nodes": [], "options": {"seed": 2} }'
    parsed = parse_document(text)
    start, end = parsed.options
    assert text[start:end] == '{"seed": 2}'
    assert parsed.body == 1


def test_the_input_cap_takes_two_full_precision_matrices_at_2000_nodes():
    widest = ", " + json.dumps(-1.2345678901234567e-308)
    assert max_input_bytes() >= 2 * 2000 * 2000 * len(widest)
