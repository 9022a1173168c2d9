#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks it: what it holds,
# lintian's verdict (when lintian is installed), the programs and man pages
# of the unpacked package; then dpkg installs and purges it in a throwaway
# root, on a machine without a share.ini and on one with its own; last,
# `cmake --install --prefix P` writes nothing outside P.
# Usage: deb_package_test.sh BUILD_FOLDER VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/tabsync-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(ls "$work"/tabsync_"$version"_*.deb) || fail "no package named tabsync_${version}_*.deb"

# What the package holds.
dpkg-deb -c "$deb" | awk '{print $6}' | sort >"$work/list"
doc=./usr/share/doc/tabsync
for path in ./usr/bin/tabsync ./usr/bin/tabsync-import ./usr/share/man/man1/tabsync.1.gz \
  ./usr/share/man/man1/tabsync-import.1.gz $doc/installation.md $doc/copyright \
  $doc/changelog.gz $doc/examples/share.ini; do
  grep -qx "$path" "$work/list" || fail "$path is not in the package"
done
! grep -q '^\./etc/' "$work/list" || fail "the package ships a file in /etc"
dpkg-deb -f "$deb" Depends | grep -q 'libsqliteodbc' || fail "no dependency on the SQLite3 ODBC driver"
dpkg-deb -e "$deb" "$work/control"
[ ! -e "$work/control/conffiles" ] || fail "the package has conffiles: $(cat "$work/control/conffiles")"

if command -v lintian >/dev/null; then
  lintian --pedantic --fail-on error,warning "$deb" >"$work/lintian" 2>&1 ||
    fail "lintian: $(cat "$work/lintian")"
else
  echo "lintian is not installed: not run"
fi

# The unpacked programs and man pages.
dpkg-deb -x "$deb" "$work/unpacked"
bin=$work/unpacked/usr/bin
[ "$("$bin/tabsync" --version)" = "tabsync $version" ] || fail "tabsync --version"
[ "$("$bin/tabsync-import" --version)" = "tabsync-import $version" ] || fail "tabsync-import --version"
check_page() {  # PAGE TEXT...
  local page text
  page=$(MANWIDTH=80 man -l "$work/unpacked/usr/share/man/man1/$1" 2>"$work/man.err") ||
    fail "man -l $1 failed: $(cat "$work/man.err")"
  [ ! -s "$work/man.err" ] || fail "man -l $1 warned: $(cat "$work/man.err")"
  for text in "${@:2}" "tabsync $version"; do
    grep -qF -- "$text" <<<"$page" || fail "$1 lacks '$text'"
  done
}
check_page tabsync.1.gz "TABSYNC(1)" "--dry-run" "EXIT STATUS" "TABSYNC_SYSCONFDIR"
check_page tabsync-import.1.gz "TABSYNC-IMPORT(1)" "--path-map FROM=TO" "EXIT STATUS" "4003"
example=$work/unpacked/usr/share/doc/tabsync/examples/share.ini
grep -q '^SharedFilesLocation = /' "$example" || fail "the example names no absolute location"

# dpkg in a throwaway root, its maintainer scripts run against that root
# (DPKG_ROOT), stdin closed so that any question would fail the install:
# a site's own share.ini is kept byte for byte, also on purge; a missing one
# is created from the example and purged with its folder.
dpkg_in() {  # ROOT ARGUMENTS...
  dpkg --root="$1" --force-script-chrootless --force-depends --force-not-root \
    --log=/dev/null "${@:2}" </dev/null >"$work/dpkg.out" 2>&1 ||
    fail "dpkg ${*:2} failed: $(cat "$work/dpkg.out")"
}
for site in own none; do
  root=$work/root-$site
  mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
  : >"$root/var/lib/dpkg/status"
  config=$root/etc/korvane/share.ini
  if [ "$site" = own ]; then
    mkdir -p "$root/etc/korvane"
    printf '[Share]\r\nSharedFilesLocation = /data/site\r\n' >"$config"
    cp -p "$config" "$work/own.ini"
  fi
  dpkg_in "$root" --install "$deb"
  [ "$(dpkg-query --root="$root" -W -f='${Status}' tabsync)" = "install ok installed" ] ||
    fail "$site: the package is not installed"
  if [ "$site" = own ]; then
    cmp -s "$config" "$work/own.ini" || fail "the install changed the site's share.ini"
  else
    cmp -s "$config" "$example" || fail "the install did not create share.ini from the example"
  fi
  dpkg_in "$root" --purge tabsync
  if [ "$site" = own ]; then
    cmp -s "$config" "$work/own.ini" || fail "the purge changed or removed the site's share.ini"
  else
    [ ! -e "$root/etc/korvane" ] || fail "the purge left $(ls -A "$root/etc/korvane")"
  fi
  [ ! -e "$root/var/lib/tabsync" ] || fail "$site: the purge left /var/lib/tabsync"
  [ ! -e "$root/usr/bin/tabsync" ] || fail "$site: the purge left /usr/bin/tabsync"
done

# `cmake --install --prefix P`: everything under P, share.ini in P/etc/korvane
# from the example, and a share.ini already there kept.
prefix=$work/prefix
real_before=$(stat -c %y /etc/korvane/share.ini 2>/dev/null || echo none)
cmake --install "$build" --prefix "$prefix" >"$work/install.out"
grep -E '^-- (Installing|Up-to-date|Kept): ' "$work/install.out" | grep -v -- "-- [A-Za-z-]*: $prefix/" &&
  fail "cmake --install wrote outside its prefix"
cmp -s "$prefix/etc/korvane/share.ini" "$example" || fail "cmake --install did not install share.ini"
[ -x "$prefix/bin/tabsync" ] || fail "cmake --install did not install tabsync"
echo "the site's own" >"$prefix/etc/korvane/share.ini"
cmake --install "$build" --prefix "$prefix" >/dev/null
[ "$(cat "$prefix/etc/korvane/share.ini")" = "the site's own" ] || fail "cmake --install replaced share.ini"
[ "$(stat -c %y /etc/korvane/share.ini 2>/dev/null || echo none)" = "$real_before" ] ||
  fail "cmake --install touched /etc/korvane/share.ini"
echo "package $(basename "$deb"): ok"
