#!/usr/bin/env bash
# Makes sure clang and its libFuzzer runtime are there for the fuzz targets. When
# they are missing, installs Debian's clang and libclang-rt-dev if this user may
# (root, or sudo without a password); otherwise says in one line what to install
# and exits 1.
set -u
PKGS=(clang libclang-rt-14-dev)

# libFuzzer's runtime lives in clang's resource directory.
have_clang() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir
  dir=$(clang++ -print-resource-dir 2>/dev/null) || return 1
  compgen -G "$dir/lib/linux/libclang_rt.fuzzer*-x86_64.a" >/dev/null ||
    compgen -G "$dir/lib/*/libclang_rt.fuzzer*.a" >/dev/null
}

have_clang && exit 0

missing() {
  echo "clang with libFuzzer not found: install the Debian packages ${PKGS[*]} (sudo apt-get install ${PKGS[*]})" >&2
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

echo "clang with libFuzzer not found: installing the Debian packages ${PKGS[*]}"
install() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${PKGS[@]}" >/dev/null; }
# A fresh machine may have no package lists yet: update them once and retry.
install 2>/dev/null || { "${as_root[@]}" apt-get update -q >/dev/null && install; } || missing
have_clang || missing
