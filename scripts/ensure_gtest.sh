#!/usr/bin/env bash
# Makes sure GoogleTest is there for the C++ tests. When it is missing, installs
# Debian's libgtest-dev if this user may (root, or sudo without a password);
# otherwise says in one line what to install and exits 1.
set -u
PKG=libgtest-dev

# Where CMake's FindGTest looks: a GTest package configuration, or the header
# next to a libgtest under one of the prefixes.
have_gtest() {
  local prefix lib
  if [ -n "${GTest_DIR:-}" ] && [ -f "$GTest_DIR/GTestConfig.cmake" ]; then return 0; fi
  local IFS=:
  for prefix in ${GTEST_ROOT:-} ${GTest_ROOT:-} ${CMAKE_PREFIX_PATH:-} /usr/local /usr; do
    [ -n "$prefix" ] && [ -f "$prefix/include/gtest/gtest.h" ] || continue
    for lib in "$prefix"/lib/libgtest.* "$prefix"/lib64/libgtest.* "$prefix"/lib/*-linux-gnu/libgtest.*; do
      [ -e "$lib" ] && return 0
    done
  done
  return 1
}

have_gtest && exit 0

missing() {
  echo "GoogleTest not found: install the Debian package $PKG (sudo apt-get install $PKG)" >&2
  exit 1
}

command -v apt-get >/dev/null 2>&1 || missing
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo -n)
else
  missing
fi

echo "GoogleTest not found: installing the Debian package $PKG"
install() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$PKG" >/dev/null; }
# A fresh machine may have no package lists yet: update them once and retry.
install 2>/dev/null || { "${as_root[@]}" apt-get update -q >/dev/null && install; } || missing
have_gtest || missing
