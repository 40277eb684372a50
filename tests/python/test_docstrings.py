"""Every public name of `_kvt_core` explains itself in `help()`, in the same words as its stub."""

from __future__ import annotations

import ast
import pathlib
import pydoc
import re

import pytest

import _kvt_core as core

STUB = pathlib.Path(__file__).resolve().parents[2] / "python" / "_kvt_core-stubs" / "__init__.pyi"


def words(text):
    return " ".join((text or "").split())


def prose(doc, name):
    """A pybind11 docstring without its signature lines (and overload header), whitespace normalised."""
    signature = re.compile(rf"^(\d+\. )?{re.escape(name)}\(.*\)( -> .*)?$")
    kept = [
        line
        for line in (doc or "").splitlines()
        if not signature.match(line.strip()) and line.strip() != "Overloaded function."
    ]
    return words("\n".join(kept))


def enum_members(cls):
    return [n for n, v in vars(cls).items() if isinstance(v, cls)]


def enum_member_doc(cls, member):
    """pybind11 lists each member's docstring in the class docstring as `  Name : text`."""
    found = re.search(rf"^  {member} : (.*)$", cls.__doc__ or "", re.MULTILINE)
    return found.group(1) if found else ""


def class_doc(cls):
    return words((cls.__doc__ or "").split("\n\nMembers:")[0])


def runtime_docs():
    """(qualified name, docstring text) for every public name of the module."""
    out = []
    for name in sorted(n for n in dir(core) if not n.startswith("_")):
        obj = getattr(core, name)
        if not callable(obj):
            continue  # the engine's constants: plain values, described by comments in the stub
        if not isinstance(obj, type):
            out.append((name, prose(obj.__doc__, name)))
            continue
        out.append((name, class_doc(obj)))
        members = enum_members(obj)
        for member in members:
            out.append((f"{name}.{member}", enum_member_doc(obj, member)))
        for attr, value in sorted(vars(obj).items()):
            if attr in members or (attr.startswith("_") and attr != "__init__"):
                continue
            if attr == "__init__" and (members or name == "Result"):
                continue  # pybind11's own: an enum's conversion from int, Result's refusal
            doc = value.__doc__ if isinstance(value, property) else prose(value.__doc__, attr)
            out.append((f"{name}.{attr}", words(doc)))
    return out


def stub_docs():
    """(qualified name, docstring text) for every documented name of the stub."""
    out = {}
    tree = ast.parse(STUB.read_text())
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            out[node.name] = words(ast.get_docstring(node))
        elif isinstance(node, ast.ClassDef):
            out[node.name] = words(ast.get_docstring(node))
            body = node.body
            for i, member in enumerate(body):
                if isinstance(member, ast.FunctionDef) and not any(
                    isinstance(d, ast.Attribute) and d.attr == "setter" for d in member.decorator_list
                ):
                    doc = ast.get_docstring(member)
                    if doc is not None:
                        out[f"{node.name}.{member.name}"] = words(doc)
                elif (
                    isinstance(member, ast.AnnAssign)
                    and i + 1 < len(body)
                    and isinstance(body[i + 1], ast.Expr)
                    and isinstance(body[i + 1].value, ast.Constant)
                ):
                    out[f"{node.name}.{member.target.id}"] = words(body[i + 1].value.value)
    return out


RUNTIME = runtime_docs()


def test_module_docstring_is_unchanged():
    assert core.__doc__ == "KVT MTSP Solver — C++ core bindings"


def test_the_walk_sees_every_kind_of_name():
    names = dict(RUNTIME)
    for expected in (
        "Solver",
        "Solver.solve",
        "Solver.stop",
        "Options.time_limit",
        "ObjectiveType.MinMax",
        "NodeType.value",
        "Result.paths",
        "Problem.__init__",
        "solve_json_file",
    ):
        assert expected in names


@pytest.mark.parametrize("name, doc", RUNTIME, ids=[n for n, _ in RUNTIME])
def test_every_public_name_has_a_docstring(name, doc):
    assert len(doc) >= 10, f"{name} has no docstring"


@pytest.mark.parametrize("name, doc", RUNTIME, ids=[n for n, _ in RUNTIME])
def test_stub_says_the_same(name, doc):
    stubs = stub_docs()
    assert name in stubs, f"the stub of {name} has no docstring"
    assert stubs[name] == doc


@pytest.mark.parametrize("name", ["Solver", "Options", "ObjectiveType", "Result", "solve_json_str", "Problem"])
def test_help_shows_the_docstrings(name):
    # Class pages prefix every line with "|".
    text = words(pydoc.render_doc(getattr(core, name), renderer=pydoc.plaintext).replace("|", " "))
    for qualified, doc in RUNTIME:
        if qualified == name or qualified.startswith(name + ".") and not qualified.endswith("__init__"):
            assert doc in text, qualified


def test_time_semantics_are_stated():
    docs = dict(RUNTIME)
    for name in ("Options.time_limit", "Solver.solve", "solve_json_str", "solve_json_file", "Result.last_update_time"):
        assert "processor seconds" in docs[name], name
    for name in ("solve_json_str", "solve_json_file"):
        assert "wall-clock seconds" in docs[name], name
