#!/usr/bin/env bash
# Makes bench/.venv-pyvrp, a virtual environment with PyVRP for the benchmark's peer runs. PyVRP
# needs Python 3.11 or newer, the project itself 3.10, so the peer gets an interpreter of its own:
# $PYVRP_PYTHON when set, else the newest python3.1x (x >= 1) on PATH, else the newest one pyenv knows.
# Prints the environment's interpreter; does nothing when PyVRP is installed there already.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
venv=${PYVRP_VENV:-$here/.venv-pyvrp}
spec=${PYVRP_SPEC:-pyvrp>=0.9}

recent() { "$1" -c 'import sys; sys.exit(0 if sys.version_info[:2] >= (3, 11) else 1)' >/dev/null 2>&1; }

find_python() {
  if [ -n "${PYVRP_PYTHON:-}" ] && recent "$PYVRP_PYTHON"; then echo "$PYVRP_PYTHON"; return 0; fi
  for minor in 14 13 12 11; do
    p=$(command -v "python3.$minor" 2>/dev/null) || continue
    if recent "$p"; then echo "$p"; return 0; fi
  done
  if command -v pyenv >/dev/null 2>&1; then
    for v in $(pyenv versions --bare 2>/dev/null | grep -E '^3\.[0-9]+(\.[0-9]+)?$' | sort -t. -k2,2nr -k3,3nr); do
      p=$(PYENV_VERSION="$v" pyenv which python3 2>/dev/null) || continue
      if recent "$p"; then echo "$p"; return 0; fi
    done
  fi
  return 1
}

if [ -x "$venv/bin/python" ] && "$venv/bin/python" -c 'import pyvrp' >/dev/null 2>&1; then
  echo "$venv/bin/python"; exit 0
fi
py=$(find_python) || { echo "no Python 3.11 or newer found for PyVRP (set PYVRP_PYTHON)" >&2; exit 1; }
"$py" -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip >&2
"$venv/bin/python" -m pip install -q "$spec" >&2
echo "$venv/bin/python"
