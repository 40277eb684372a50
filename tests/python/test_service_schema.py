"""The instance's JSON Schema (docs/instance.schema.json) against the solver's reader."""

from __future__ import annotations

import copy
import json
import pathlib
import sys

import pytest

jsonschema = pytest.importorskip("jsonschema", reason="the schema's tests need jsonschema (the 'serve-test' extra)")

import _kvt_core  # noqa: E402
from kvt_mtsp import tsplib  # noqa: E402
from service_support import EXAMPLE_NAMES, ROOT, example  # noqa: E402

BENCH = ROOT / "bench"
sys.path.insert(0, str(BENCH))
import variants  # noqa: E402

SCHEMA = json.loads((ROOT / "docs" / "instance.schema.json").read_text())
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)
TSP_FILES = sorted((BENCH / "data").glob("*.tsp")) + sorted((BENCH / "data" / "large").glob("*.tsp"))


def engine_reads(doc: dict) -> None:
    """Raises what the solver's reader raises; a short budget, since only the reading matters."""
    _kvt_core.solve_json_str(json.dumps(doc), 0.01, diagnostics=lambda stream, line: None)


def errors(doc: object) -> list[str]:
    return [f"{e.json_path}: {e.message}" for e in VALIDATOR.iter_errors(doc)]


def test_the_schema_is_valid_draft_2020_12():
    jsonschema.Draft202012Validator.check_schema(SCHEMA)


def test_the_package_ships_the_documented_schema():
    import kvt_mtsp

    shipped = pathlib.Path(kvt_mtsp.__file__).parent / "service" / "instance.schema.json"
    assert json.loads(shipped.read_text()) == SCHEMA


@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_examples_follow_the_schema_and_the_reader_takes_them(name):
    doc = example(name)
    assert errors(doc) == []
    engine_reads(doc)


@pytest.mark.parametrize("path", TSP_FILES, ids=lambda p: p.stem)
def test_benchmark_instances_follow_the_schema_and_the_reader_takes_them(path):
    doc = tsplib.build_instance(tsplib.load_tsplib(path), 3, "min_max", 0.01)
    doc["options"]["improve"] = len(doc["nodes"]) > 256
    assert errors(doc) == []
    engine_reads(doc)


@pytest.mark.parametrize("spec", variants.VARIANTS, ids=lambda s: s.name)
def test_benchmark_variants_follow_the_schema_and_the_reader_takes_them(spec):
    points = tsplib.load_tsplib(next(p for p in TSP_FILES if p.stem == spec.source)).points
    doc, _ = variants.generate(spec, points, budget=0.01)
    assert errors(doc) == []
    engine_reads(doc)


@pytest.mark.parametrize("name", ["E-n22-k4", "RC208", "PR01", "X115-HVRP"])
def test_converted_vrplib_files_follow_the_schema_and_the_reader_takes_them(name):
    pytest.importorskip("vrplib")
    from kvt_mtsp.vrplib_convert import convert, read_vrplib

    path = ROOT / "bench" / "data" / "vrplib" / f"{name}.vrp"
    doc = convert(read_vrplib(path, path.read_text()), name=path.name, time_limit=0.01).document
    assert errors(doc) == []
    engine_reads(doc)


def _changed(edit):
    doc = copy.deepcopy(example("two_types"))
    edit(doc)
    return doc


def _pop(obj, key):
    obj.pop(key)


# Documents the reader refuses: the schema must refuse each of them too.
REFUSED = {
    "no nodes": lambda d: _pop(d, "nodes"),
    "no agents": lambda d: _pop(d, "agents"),
    "node without y": lambda d: _pop(d["nodes"][1], "y"),
    "x as a string": lambda d: d["nodes"][1].update(x="3"),
    "x as a boolean": lambda d: d["nodes"][1].update(x=True),
    "agent without type": lambda d: _pop(d["agents"][0], "type"),
    "agent type as a number": lambda d: d["agents"][0].update(type=1),
    "id as a string": lambda d: d["nodes"][1].update(id="1"),
    "cost as a string": lambda d: d["costs"][next(iter(d["costs"]))][0].__setitem__(1, "5"),
    "options null": lambda d: d.update(options=None),
    "improve as a number": lambda d: d.setdefault("options", {}).update(improve=1),
    "negative seed": lambda d: d.setdefault("options", {}).update(seed=-1),
    "fractional seed": lambda d: d.setdefault("options", {}).update(seed=1.5),
    "negative threads": lambda d: d.setdefault("options", {}).update(threads=-1),
    "fractional threads": lambda d: d.setdefault("options", {}).update(threads=1.5),
    "threads beyond 32 bits": lambda d: d.setdefault("options", {}).update(threads=2**32),
    "objective as a number": lambda d: d.setdefault("options", {}).update(objective=1),
    "window without end": lambda d: d.setdefault("constraints", []).append(
        {"kind": "timewindow", "items": [{"node": 1, "start": 0}]}
    ),
    "assignment types as a string": lambda d: d.setdefault("constraints", []).append(
        {"kind": "assignment", "items": [{"node": 1, "types": "truck"}]}
    ),
    "too many nodes": lambda d: d.update(
        nodes=[{"id": i, "x": 0, "y": 0} for i in range(2001)], options={"improve": True}
    ),
}


@pytest.mark.parametrize("name", REFUSED)
def test_documents_the_reader_refuses_are_outside_the_schema(name):
    doc = _changed(REFUSED[name])
    with pytest.raises((RuntimeError, ValueError, IndexError, TypeError)):
        engine_reads(doc)
    assert errors(doc) != []
