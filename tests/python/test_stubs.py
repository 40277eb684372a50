"""The type stubs of `_kvt_core` and the typing of `kvt_mtsp`, checked with mypy against the installed
package and against the running module."""

from __future__ import annotations

import ast
import filecmp
import pathlib
import subprocess
import sys
import sysconfig

import pytest

import _kvt_core as core

ROOT = pathlib.Path(__file__).resolve().parents[2]
TYPING = pathlib.Path(__file__).resolve().parent / "typing"
SITE = pathlib.Path(sysconfig.get_paths()["purelib"])
STUB_SOURCE = ROOT / "python" / "_kvt_core-stubs" / "__init__.pyi"


def mypy(*args, cwd):
    proc = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-color-output", "--no-error-summary", *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=600,
    )
    return proc.returncode, proc.stdout + proc.stderr


@pytest.fixture(scope="module")
def cache(tmp_path_factory):
    return str(tmp_path_factory.mktemp("mypy-cache"))


def test_installed_package_is_the_source():
    # Everything below checks the installed copies, which `make module` refreshes.
    pairs = [
        (ROOT / "python" / "_kvt_core-stubs", SITE / "_kvt_core-stubs"),
        (ROOT / "python" / "kvt_mtsp", SITE / "kvt_mtsp"),
    ]
    for source, installed in pairs:
        names = sorted(p.name for p in source.iterdir() if p.is_file())
        assert "py.typed" in names
        match, mismatch, missing = filecmp.cmpfiles(source, installed, names, shallow=False)
        assert not mismatch and not missing, f"stale install of {source.name} (run make module): {mismatch + missing}"


def test_sample_using_the_whole_api_passes_strict_mypy_and_runs(tmp_path, cache):
    # Run from an empty directory: _kvt_core must resolve to the installed stub package.
    code, out = mypy("--strict", "--cache-dir", cache, str(TYPING / "api_sample.py"), cwd=tmp_path)
    assert code == 0, out
    example = ROOT / "examples" / "two_types.json"
    run = subprocess.run(
        [sys.executable, str(TYPING / "api_sample.py"), str(example)],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip().endswith("sample ok")


def test_misuse_is_reported_on_every_marked_line(tmp_path, cache):
    sample = TYPING / "misuse_sample.py"
    expected = {n for n, line in enumerate(sample.read_text().splitlines(), 1) if line.endswith("# E")}
    code, out = mypy("--strict", "--cache-dir", cache, str(sample), cwd=tmp_path)
    assert code == 1
    reported = {int(line.split(":")[1]) for line in out.splitlines() if ": error:" in line}
    assert reported == expected, out


def test_stub_package_is_found_by_mypy(tmp_path, cache):
    probe = tmp_path / "probe.py"
    probe.write_text("import _kvt_core\nreveal_type(_kvt_core.solve_json_file)\n")
    code, out = mypy("--cache-dir", cache, str(probe), cwd=tmp_path)
    assert code == 0, out
    assert (
        'Revealed type is "def (input_path: str | bytes | os.PathLike[str] | os.PathLike[bytes], time_limit: '
    ) in out
    assert "TypedDict(kvt_mtsp.results.SolveResult" in out
    assert "_kvt_core-stubs" in mypy("--cache-dir", cache, "--verbose", str(probe), cwd=tmp_path)[1]


def test_package_passes_strict_mypy(cache):
    code, out = mypy("--strict", "--cache-dir", cache, "-p", "kvt_mtsp", cwd=SITE.parent)
    assert code == 0, out


def test_stubtest_against_the_module(tmp_path):
    proc = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy.stubtest",
            "_kvt_core",
            "--allowlist",
            str(pathlib.Path(__file__).with_name("stubtest-allowlist.txt")),
        ],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr


# --- what stubtest cannot see in a pybind11 module: argument names, defaults, setters ---------------


def split_top_level(text):
    parts, depth, current = [], 0, ""
    for ch in text:
        depth += ch in "[("
        depth -= ch in "])"
        if ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += ch
    if current.strip():
        parts.append(current.strip())
    return parts


def runtime_signature(obj, name):
    """(argument names, {name: default text}) from pybind11's generated docstring."""
    head = (obj.__doc__ or "").lstrip().splitlines()[0]
    assert head.startswith(name + "("), head
    inner = head[len(name) + 1 : head.rindex(") ->")]
    names, defaults = [], {}
    for part in split_top_level(inner):
        if part == "/":
            continue
        arg = part.split(":")[0].split("=")[0].strip()
        names.append(arg)
        if " = " in part:
            defaults[arg] = part.rsplit(" = ", 1)[1]
    return names, defaults


def stub_signature(fn):
    args = fn.args.posonlyargs + fn.args.args
    names = [a.arg for a in args]
    defaults = dict(zip(names[len(names) - len(fn.args.defaults) :], fn.args.defaults))
    if fn.args.kwonlyargs:  # pybind11 shows py::kw_only() as "*"
        names += ["*"] + [a.arg for a in fn.args.kwonlyargs]
        defaults.update({a.arg: d for a, d in zip(fn.args.kwonlyargs, fn.args.kw_defaults) if d is not None})
    return names, {k: ast.literal_eval(v) for k, v in defaults.items()}


def stub_members():
    tree = ast.parse(STUB_SOURCE.read_text())
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            yield None, node
        elif isinstance(node, ast.ClassDef) and not node.name.startswith("_"):  # private: typing aids
            for member in node.body:
                if isinstance(member, ast.FunctionDef):
                    yield node.name, member


MEMBERS = [
    (cls, fn)
    for cls, fn in stub_members()
    if not any(isinstance(d, (ast.Name, ast.Attribute)) for d in fn.decorator_list)
    and fn.name not in ("__eq__", "__ne__")
]  # overloaded at runtime


@pytest.mark.parametrize("cls, fn", MEMBERS, ids=[f"{c or 'module'}.{f.name}" for c, f in MEMBERS])
def test_stub_arguments_match_the_module(cls, fn):
    owner = getattr(core, cls) if cls else core
    names, defaults = runtime_signature(getattr(owner, fn.name), fn.name)
    stub_names, stub_defaults = stub_signature(fn)
    assert stub_names == names
    assert stub_defaults == {k: None if v == "None" else float(v) for k, v in defaults.items()}


def stub_properties():
    tree = ast.parse(STUB_SOURCE.read_text())
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            getters = {
                m.name
                for m in node.body
                if isinstance(m, ast.FunctionDef)
                and any(isinstance(d, ast.Name) and d.id == "property" for d in m.decorator_list)
            }
            setters = {
                m.name
                for m in node.body
                if isinstance(m, ast.FunctionDef)
                and any(isinstance(d, ast.Attribute) and d.attr == "setter" for d in m.decorator_list)
            }
            for name in sorted(getters):
                yield node.name, name, name in setters


PROPERTIES = list(stub_properties())


@pytest.mark.parametrize("cls, name, writable", PROPERTIES, ids=[f"{c}.{n}" for c, n, _ in PROPERTIES])
def test_stub_properties_are_writable_exactly_where_the_module_allows(cls, name, writable):
    prop = getattr(getattr(core, cls), name)
    assert isinstance(prop, property)
    assert (prop.fset is not None) is writable


def test_every_public_class_and_function_has_a_stub():
    tree = ast.parse(STUB_SOURCE.read_text())
    stubbed = {
        n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef)) and not n.name.startswith("_")
    }
    # The engine's constants, annotated values.
    stubbed |= {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign) and isinstance(n.target, ast.Name)}
    assert stubbed == {n for n in dir(core) if not n.startswith("_")}
