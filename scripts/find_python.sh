#!/usr/bin/env bash
# Prints the path of a Python 3.10 interpreter: python3.10 on PATH, or the newest
# 3.10.x that pyenv knows. Exits 1 when there is none.
set -u
is310() { "$1" -c 'import sys; sys.exit(0 if sys.version_info[:2] == (3, 10) else 1)' >/dev/null 2>&1; }

if [ -n "${PYTHON:-}" ] && is310 "$PYTHON"; then echo "$PYTHON"; exit 0; fi
if command -v pyenv >/dev/null 2>&1; then
  for v in $(pyenv versions --bare 2>/dev/null | grep -E '^3\.10(\.[0-9]+)?$' | sort -t. -k3 -n -r); do
    p=$(PYENV_VERSION="$v" pyenv which python3.10 2>/dev/null) || continue
    if is310 "$p"; then echo "$p"; exit 0; fi
  done
fi
for c in python3.10 /usr/bin/python3.10 /usr/local/bin/python3.10; do
  p=$(command -v "$c" 2>/dev/null) || continue
  if is310 "$p"; then echo "$p"; exit 0; fi
done
echo "no Python 3.10 interpreter found (install python3.10 or a pyenv 3.10.x)" >&2
exit 1
