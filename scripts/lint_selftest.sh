#!/usr/bin/env bash
# Shows that `make lint` holds: a scratch tree with the project's make files and lint
# settings and one C++ and one Python file of the project passes lint once formatted,
# and fails on each kind of deliberately bad line, naming the file.
#   usage: scripts/lint_selftest.sh VENV    (a venv with the lint tools: make lint-tools)
set -u
venv=${1:?usage: lint_selftest.sh VENV}
root=$(cd "$(dirname "$0")/.." && pwd)
cpp=src/model/problem.cpp
py=python/kvt_mtsp/progress.py

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/mk" "$tmp/scripts" "$tmp/$(dirname $cpp)" "$tmp/$(dirname $py)"
cp "$root/Makefile" "$root/pyproject.toml" "$root/.clang-format" "$tmp/"
cp "$root"/mk/*.mk "$tmp/mk/"
cp "$root/$cpp" "$tmp/$cpp"
cp "$root/$py" "$tmp/$py"

# The venv is used as it is: its stamps are not remade from the scratch tree's newer files.
run_make() { make -s -C "$tmp" VENV="$venv" -o "$venv/.stamp" -o "$venv/.lint-stamp" "$@" >"$tmp/out.log" 2>&1; }

passed=0
failed=0
fail() { echo "FAIL: $1"; sed 's/^/    /' "$tmp/out.log"; failed=$((failed + 1)); }

if ! run_make format; then
  fail "make format on the scratch tree"
fi
cp "$tmp/$cpp" "$tmp/clean.cpp"
cp "$tmp/$py" "$tmp/clean.py"
if run_make lint; then passed=$((passed + 1)); else fail "lint rejects the formatted files"; fi

# expect_failure NAME FILE TEXT PATTERN...: with TEXT appended to FILE, lint fails and
# its output matches every PATTERN.
expect_failure() {
  local name=$1 file=$2 text=$3 pattern
  shift 3
  cp "$tmp/clean.cpp" "$tmp/$cpp"
  cp "$tmp/clean.py" "$tmp/$py"
  printf '%b' "$text" >>"$tmp/$file"
  if run_make lint; then
    fail "$name: lint passed"
    return
  fi
  for pattern in "$@"; do
    if ! grep -Eq -- "$pattern" "$tmp/out.log"; then
      fail "$name: the output does not match '$pattern'"
      return
    fi
  done
  passed=$((passed + 1))
}

expect_failure "C++ layout" "$cpp" 'int  LintProbe( ) {return 1 ;}\n' \
  "^$cpp:[0-9]+:[0-9]+: error: code should be clang-formatted"
expect_failure "Python layout" "$py" 'lint_probe = {  "a":1 }\n' "File would be reformatted" "--> $py:[0-9]+"
expect_failure "Python rule" "$py" '\n\ndef _lint_probe():\n    unused = 1\n' "^F841 " "--> $py:[0-9]+"

echo "lint self-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
