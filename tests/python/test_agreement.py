"""`kvt-mtsp check`, `solve`, `validate` and `batch` and the module's `solve_json_str` agree on every
document: what the check calls an error each of them refuses, with the check's first error as the
reason, and every document the check passes they take. Also: the package's modules import one
another without a circle."""

from __future__ import annotations

import ast
import json
import pathlib
import subprocess
import sys

import pytest

import _kvt_core as core
from kvt_mtsp import check_instance
from kvt_mtsp.batch import solve_many
from kvt_mtsp.inputs import DEFAULT_IMPROVE, solve_settings, with_settings

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGE = ROOT / "python" / "kvt_mtsp"
SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")


def base(n: int = 5) -> dict:
    nodes = [{"id": 0, "x": 0, "y": 0, "type": "depot"}] + [{"id": i, "x": i, "y": 0} for i in range(1, n)]
    return {
        "nodes": nodes,
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(2)],
        "costs": {"truck": [[float(abs(i - j)) for j in range(n)] for i in range(n)]},
        "options": {"time_limit": 0.5},
    }


def large(d: dict) -> None:
    d.update(base(300))


# Each kind of broken document, and documents the tools used to disagree on.
DOCUMENTS = {
    "valid": lambda d: None,
    "agents missing": lambda d: d.pop("agents"),
    "nodes missing": lambda d: d.pop("nodes"),
    "string node id": lambda d: d["nodes"][3].update(id="3"),
    "unknown start node": lambda d: d["agents"][1].update(start_node=17),
    "matrix for an unknown type": lambda d: d["costs"].update(bike=[[0.0]]),
    "matrix too large": lambda d: d["costs"]["truck"].append([0.0] * 5),
    "cost not a number": lambda d: d["costs"]["truck"][1].__setitem__(2, "1"),
    "cost NaN": lambda d: d["costs"]["truck"][1].__setitem__(2, float("nan")),
    "missing coordinate": lambda d: d["nodes"][2].pop("y"),
    "options an array": lambda d: d.update(options=[]),
    "return_to_end a number": lambda d: d["options"].update(return_to_end=1),
    "seed negative": lambda d: d["options"].update(seed=-1),
    "types not an array": lambda d: d.update(
        constraints=[{"kind": "assignment", "items": [{"node": 1, "types": "truck"}]}]
    ),
    "nodes as an object": lambda d: d.update(nodes={str(i): n for i, n in enumerate(d["nodes"])}),
    "duplicate node id": lambda d: d["nodes"][4].update(id=3),
    "300 nodes, improve unset": large,
    "300 nodes, improve off": lambda d: (large(d), d["options"].update(improve=False)),
}


def run(*args, timeout=120):
    return subprocess.run([str(SCRIPT), *map(str, args)], capture_output=True, text=True, timeout=timeout)


@pytest.mark.parametrize("name", sorted(DOCUMENTS))
def test_check_solve_validate_batch_and_the_module_agree(tmp_path, name):
    doc = base()
    DOCUMENTS[name](doc)
    path = tmp_path / "doc.json"
    path.write_text(json.dumps(doc))
    # The command line judges the document as its solve runs it: improving unless the instance says.
    solved = with_settings(doc, solve_settings(doc, None, None, DEFAULT_IMPROVE))
    errors = [f for f in check_instance(solved) if f.severity == "error"]
    checked = run("check", path)
    assert (checked.returncode == 2) == bool(errors), checked.stdout

    output = tmp_path / "result.json"
    solve = run("solve", path, "-q", "-o", output)
    if errors:
        assert (solve.returncode, solve.stdout) == (2, "")
        assert solve.stderr == f"kvt-mtsp: error: {path}: {errors[0]}\n"
        validate = run("validate", path, path)
        assert (validate.returncode, validate.stderr) == (2, f"kvt-mtsp: error: {path}: {errors[0]}\n")
    else:
        assert solve.returncode == 0, solve.stderr
        validate = run("validate", path, output)
        assert validate.returncode == 0, validate.stdout + validate.stderr
        assert validate.stdout.startswith("OK: 2 routes cover all ")

    [outcome] = solve_many([path], default_improve=DEFAULT_IMPROVE, workers=1)
    if errors:
        assert (outcome.status, outcome.error) == ("error", f"{path}: {errors[0]}")
    else:
        assert outcome.status == "success", outcome.error

    # The module, given the document as it stands, refuses exactly what the check of it calls an error.
    refused = any(f.severity == "error" for f in check_instance(doc))
    try:
        core.solve_json_str(path.read_text(), 0.2)
    except (RuntimeError, ValueError, IndexError):
        assert refused, "the module refused a document the check passes"
    else:
        assert not refused, "the module took a document the check calls refused"


def imports(path: pathlib.Path) -> set[str]:
    """The package modules `path` imports (relative imports, at any depth of the file)."""
    out = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            if node.module:
                out.add(node.module.split(".")[0])
            else:
                out.update(alias.name for alias in node.names)
    return out


def test_the_package_has_no_import_circle():
    graph = {p.stem: imports(p) - {"__init__"} for p in PACKAGE.glob("*.py") if p.stem not in ("__init__", "__main__")}
    assert graph["batch"] and "cli" not in graph["batch"]  # the walk sees imports; the library is below the CLI
    done: set[str] = set()

    def visit(module: str, trail: tuple[str, ...]) -> None:
        assert module not in trail, " -> ".join(trail + (module,))
        if module in done:
            return
        for other in sorted(graph.get(module, ())):
            visit(other, trail + (module,))
        done.add(module)

    for module in sorted(graph):
        visit(module, ())
