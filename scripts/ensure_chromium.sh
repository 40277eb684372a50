#!/usr/bin/env bash
# Makes sure a Chromium is there for the page's browser test. When it is missing,
# installs Debian's chromium if this user may (root, or sudo without a password);
# otherwise says so in one line and exits 0: the browser test then skips itself.
set -u
PKG=chromium
BROWSER=${KVT_CHROMIUM:-/usr/bin/chromium}

[ -x "$BROWSER" ] && exit 0

skip() {
  echo "chromium not found: the browser test will be skipped (sudo apt-get install $PKG)" >&2
  exit 0
}

command -v apt-get >/dev/null 2>&1 || skip
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo -n)
else
  skip
fi

echo "chromium not found: installing the Debian package $PKG"
install() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$PKG" >/dev/null; }
# A fresh machine may have no package lists yet: update them once and retry.
install 2>/dev/null || { "${as_root[@]}" apt-get update -q >/dev/null && install; } || skip
[ -x "$BROWSER" ] || skip
