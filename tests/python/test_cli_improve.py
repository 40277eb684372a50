"""How `kvt-mtsp solve` and `kvt-mtsp batch` turn their improvement flags into the instance's options
(`kvt_mtsp.inputs.as_solved`): written into the text in place of the options, the rest kept."""

from __future__ import annotations

import json

import pytest

from kvt_mtsp.cli import build_parser
from kvt_mtsp.document import parse_document
from kvt_mtsp.inputs import as_solved


def _with_improvement(text, improve, seed):
    return as_solved(text, parse_document(text), improve, seed)[0]


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
    solved = _with_improvement(text, improve, seed)
    assert json.loads(solved)["options"] == expected
    assert {k: v for k, v in json.loads(solved).items() if k != "options"} == {
        k: v for k, v in doc.items() if k != "options"
    }


@pytest.mark.parametrize("doc", [[1, 2], {"options": 3}, {"options": {"improve": False}}])
def test_text_passes_unchanged_when_there_is_nothing_to_set(doc):
    text = json.dumps(doc) + "  "
    assert _with_improvement(text, None, None) == text


def test_only_the_options_are_written_again():
    # Layout, numbers and repeated keys elsewhere stay as they are; the options the reader keeps
    # (the last of repeated ones) take the settings.
    text = '{"nodes": [ {"x": 1.50, "y": 2e0} ],\n "options": {"objective": "min_max"}, "options": {"seed": 1} }'
    assert _with_improvement(text, None, None) == (
        '{"nodes": [ {"x": 1.50, "y": 2e0} ],\n "options": {"objective": "min_max"}, "options": {"seed": 1, '
        '"improve": true} }'
    )
    assert _with_improvement('{ "nodes": [] }', None, 3) == '{"options": {"improve": true, "seed": 3},  "nodes": [] }'
    assert _with_improvement("{}", False, None) == '{"options": {"improve": false}}'


def test_options_with_a_non_finite_number_pass_unchanged():
    text = '{"options": {"time_limit": NaN}}'
    assert _with_improvement(text, True, 1) == text


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


@pytest.mark.parametrize(
    "doc,threads,expected",
    [
        (DOC, None, 0),  # `kvt-mtsp solve`: one search per core unless told
        (DOC, 3, 3),
        ({"options": {"threads": 2}}, None, 2),
        ({"options": {"threads": 2}}, 1, 1),
    ],
)
def test_threads_the_solver_receives(doc, threads, expected):
    text = json.dumps(doc)
    solved = as_solved(text, parse_document(text), None, None, threads=threads, default_threads=0)[0]
    assert json.loads(solved)["options"]["threads"] == expected


@pytest.mark.parametrize("command", ["solve", "batch"])
def test_threads_flag(command):
    extra = ["--out", "d"] if command == "batch" else []
    assert build_parser().parse_args([command, "x.json", *extra]).threads is None
    assert build_parser().parse_args([command, "x.json", *extra, "--threads", "0"]).threads == 0
    assert build_parser().parse_args([command, "x.json", *extra, "--threads", "4294967295"]).threads == 2**32 - 1


@pytest.mark.parametrize(
    "value,message",
    [
        ("-1", "must be between 0 and 2^32 - 1, got -1"),
        ("4294967296", "must be between 0 and 2^32 - 1, got 4294967296"),
    ],
)
def test_bad_threads_are_one_usage_error(value, message, capsys):
    with pytest.raises(SystemExit) as stop:
        build_parser().parse_args(["solve", "x.json", "--threads", value])
    assert stop.value.code == 2
    assert capsys.readouterr().err.endswith(f"argument --threads: {message}\n")
