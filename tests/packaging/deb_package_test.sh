#!/usr/bin/env bash
# Builds the Debian package of a build folder, unpacks it into a temporary
# folder and uses what it holds: the programs run, the man page renders,
# the example share.ini is a conffile. Then `cmake --install` into a staging
# folder keeps a share.ini that is already there.
# Usage: deb_package_test.sh BUILD_FOLDER VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/tabsync-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(ls "$work"/tabsync_"$version"_*.deb) || fail "no package named tabsync_${version}_*.deb"

dpkg-deb -c "$deb" | awk '{print $6}' | sort >"$work/list"
for path in ./usr/bin/tabsync ./usr/bin/tabsync-import ./usr/share/man/man1/tabsync.1 \
  ./usr/share/doc/tabsync/installation.md ./etc/korvane/share.ini; do
  grep -qx "$path" "$work/list" || fail "$path is not in the package"
done
dpkg-deb -f "$deb" Depends | grep -q 'libsqliteodbc' || fail "no dependency on the SQLite3 ODBC driver"
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/korvane/share.ini "$work/control/conffiles" || fail "share.ini is no conffile"

dpkg-deb -x "$deb" "$work/root"
out=$("$work/root/usr/bin/tabsync" --version) || fail "tabsync --version failed"
[ "$out" = "tabsync $version" ] || fail "tabsync --version printed '$out'"
"$work/root/usr/bin/tabsync-import" --version >/dev/null || fail "tabsync-import --version failed"
page=$(MANWIDTH=80 man -l "$work/root/usr/share/man/man1/tabsync.1" 2>"$work/man.err") ||
  fail "man -l failed: $(cat "$work/man.err")"
for text in "TABSYNC(1)" "--dry-run" "EXIT STATUS" "TABSYNC_SYSCONFDIR" "tabsync $version"; do
  grep -qF -- "$text" <<<"$page" || fail "the man page lacks '$text'"
done
grep -q '^SharedFilesLocation = /' "$work/root/etc/korvane/share.ini" || fail "the example names no absolute location"

mkdir -p "$work/staging/etc/korvane"
echo "the site's own" >"$work/staging/etc/korvane/share.ini"
DESTDIR="$work/staging" cmake --install "$build" --prefix /usr >/dev/null
[ "$(cat "$work/staging/etc/korvane/share.ini")" = "the site's own" ] || fail "cmake --install replaced share.ini"
[ -x "$work/staging/usr/bin/tabsync" ] || fail "cmake --install did not install tabsync"
echo "package $(basename "$deb"): ok"
