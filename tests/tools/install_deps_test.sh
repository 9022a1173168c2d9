#!/usr/bin/env bash
# tools/install-deps as an ordinary user with packages missing: it says that
# it must run as root (naming sudo where there is one) and stops before apt.
# The user, the package database, apt and sudo are stand-ins on PATH.
# Usage: install_deps_test.sh SOURCE_FOLDER
set -euo pipefail
source_folder=$1
fake=$(mktemp -d "${TMPDIR:-/tmp}/tabsync-deps.XXXXXX")
trap 'rm -rf "$fake"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

printf '#!/bin/sh\necho 1000\n' >"$fake/id"
printf '#!/bin/sh\nexit 1\n' >"$fake/dpkg-query"  # no package is installed
printf '#!/bin/sh\ntouch "%s/apt-called"\n' "$fake" >"$fake/apt-get"
chmod +x "$fake/id" "$fake/dpkg-query" "$fake/apt-get"
# Only what the script needs besides the stand-ins, so that a sudo of this
# machine is not found.
mkdir "$fake/base"
for tool in bash grep; do ln -s "$(command -v "$tool")" "$fake/base/$tool"; done

run() { PATH="$fake:$fake/base" "$source_folder/tools/install-deps" 2>"$fake/err" && return 1 || return 0; }

run || fail "install-deps succeeded without root"
grep -q "needs root; run it as root$" "$fake/err" || fail "no word about root: $(cat "$fake/err")"
printf '#!/bin/sh\nexit 0\n' >"$fake/sudo"
chmod +x "$fake/sudo"
run || fail "install-deps succeeded without root"
grep -q "run it as root or with sudo: sudo " "$fake/err" || fail "no word about sudo: $(cat "$fake/err")"
[ ! -e "$fake/apt-called" ] || fail "apt-get was called"
echo "install-deps without root: ok"
