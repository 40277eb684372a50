"""Running the installed kvt-mtsp command in the command-line tests."""

from __future__ import annotations

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
SCRIPT = pathlib.Path(sys.executable).with_name("kvt-mtsp")


def run(*args, cwd=None, module=False, timeout=120):
    command = [sys.executable, "-m", "kvt_mtsp"] if module else [str(SCRIPT)]
    return subprocess.run(command + [str(a) for a in args], cwd=cwd, capture_output=True, text=True, timeout=timeout)


def one_error_line(proc, text):
    """Exit status 2, nothing on standard output and exactly `kvt-mtsp: error: <text>` on standard error."""
    assert proc.returncode == 2, proc.stderr
    assert proc.stdout == ""
    assert proc.stderr == f"kvt-mtsp: error: {text}\n"


def write(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return path
