"""How `kvt-mtsp solve` turns its improvement flags into the instance's options."""

from __future__ import annotations

import json

import pytest

from kvt_mtsp.cli import _with_improvement, build_parser

DOC = {"nodes": [], "agents": [], "options": {"objective": "min_max"}}


@pytest.mark.parametrize(
    "doc,improve,seed,expected",
    [
        (DOC, None, None, {"objective": "min_max", "improve": True}),
        (DOC, False, None, {"objective": "min_max", "improve": False}),
        (DOC, True, 7, {"objective": "min_max", "improve": True, "seed": 7}),
        ({"nodes": []}, None, None, {"improve": True}),
        ({"options": {"improve": False}}, None, None, {"improve": False}),
        ({"options": {"improve": False}}, True, None, {"improve": True}),
        ({"options": {"improve": True, "seed": 5}}, None, 9, {"improve": True, "seed": 9}),
    ],
)
def test_options_the_solver_receives(doc, improve, seed, expected):
    text = json.dumps(doc)
    assert json.loads(_with_improvement(text, doc, improve, seed))["options"] == expected


@pytest.mark.parametrize("doc", [[1, 2], {"options": 3}, {"options": {"improve": False}}])
def test_text_passes_unchanged_when_there_is_nothing_to_set(doc):
    text = json.dumps(doc) + "  "
    assert _with_improvement(text, doc, None, None) == text


def test_text_with_a_non_finite_number_passes_unchanged():
    doc = {"nodes": [{"x": float("inf")}]}
    assert _with_improvement("original", doc, True, 1) == "original"


@pytest.mark.parametrize(
    "argv,improve,seed",
    [
        ([], None, None),
        (["--improve"], True, None),
        (["--no-improve"], False, None),
        (["--seed", "18446744073709551615"], None, 2**64 - 1),
    ],
)
def test_flags(argv, improve, seed):
    args = build_parser().parse_args(["solve", "x.json", *argv])
    assert (args.improve, args.seed) == (improve, seed)


@pytest.mark.parametrize(
    "value,message", [("-1", "must be between 0 and 2^64 - 1, got -1"), ("2.5", "not a whole number: '2.5'")]
)
def test_bad_seed_is_one_usage_error(value, message, capsys):
    with pytest.raises(SystemExit) as stop:
        build_parser().parse_args(["solve", "x.json", "--seed", value])
    assert stop.value.code == 2
    assert capsys.readouterr().err.endswith(f"argument --seed: {message}\n")
