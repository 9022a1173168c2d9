#!/bin/bash
# Runs tabsync on a private X server against an installed release whose data
# sources already point into the shared folder: the program must ask exactly
# its update question, and on Yes update the databases and end with status 0
# and a complete log file.
#
# usage: gtk_question_test.sh TABSYNC MAKE_RELEASE ARTEFACT_FOLDER
# Leaves a screenshot of the question in ARTEFACT_FOLDER.
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 TABSYNC MAKE_RELEASE ARTEFACT_FOLDER" >&2
  exit 2
fi
tabsync=$(realpath "$1")
make_release=$(realpath "$2")
artefacts=$3

readonly kTitle="Korvane Database Update"
readonly kDatabases=(Accounting:accounting.mdb Orbisdat:availability.mdb Config:config.mdb
  OnlineShop:onlineshop.mdb Resource:resource.mdb Users:users.mdb)

tmp=$(mktemp -d)
xvfb_pid=""
program_pid=""

cleanup() {
  if [[ -n $program_pid ]]; then kill "$program_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for output in "$tmp"/tabsync.out "$tmp"/tabsync.err; do
    if [[ -s $output ]]; then echo "--- $output" >&2; cat "$output" >&2; fi
  done
  exit 1
}

write_share_ini() {
  mkdir -p "$tmp/etc"
  printf '[Share]\nSharedFilesLocation=%s\n' "$tmp/shared" >"$tmp/etc/share.ini"
  export TABSYNC_SYSCONFDIR="$tmp/etc"
}

write_odbcinst_ini() {
  mkdir -p "$tmp/odbc"
  if [[ -f /etc/odbcinst.ini ]]; then
    cp /etc/odbcinst.ini "$tmp/odbc/odbcinst.ini"
  else
    printf '[SQLite3]\nDriver=libsqlite3odbc.so\n' >"$tmp/odbc/odbcinst.ini"
  fi
  export ODBCSYSINI="$tmp/odbc"
}

# One data source per database, each pointing into the shared folder.
write_odbc_ini() {
  local entry name file
  : >"$tmp/odbc/odbc.ini"
  for entry in "${kDatabases[@]}"; do
    name=${entry%%:*}
    file="$tmp/shared/Infrastructure/DB/${entry#*:}"
    printf '[%s]\nDriver=SQLite3\nDBQ=%s\nDatabase=%s\n\n' "$name" "$file" "$file" \
      >>"$tmp/odbc/odbc.ini"
  done
}

# Starts Xvfb on a display number it picks itself and exports DISPLAY.
start_xvfb() {
  local number=""
  : >"$tmp/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" \
    >"$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    number=$(tr -d '[:space:]' <"$tmp/display")
    [[ -n $number ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ -n $number ]] || { cat "$tmp/xvfb.log" >&2; fail "Xvfb did not start"; }
  export DISPLAY=":$number"
  # GTK must draw on this server even when the caller has a Wayland session.
  unset WAYLAND_DISPLAY
  export GDK_BACKEND=x11
}

# GTK lays out the buttons of a message box as one row across the whole width
# at the bottom of the box: No fills the left half, Yes the right half.
click_yes() {
  # SCREEN and WINDOW come with the geometry; declared only to keep them local.
  # shellcheck disable=SC2034
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "question box at $X,$Y size ${WIDTH}x$HEIGHT; clicking Yes"
  xdotool mousemove --sync $((X + WIDTH * 3 / 4)) $((Y + HEIGHT - 16)) click 1
}

# Waits up to $1 seconds for the program to end; sets program_status.
wait_for_program() {
  local seconds=$1
  for _ in $(seq $((seconds * 10))); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$program_pid" 2>/dev/null && fail "tabsync still runs after ${seconds}s"
  program_status=0
  wait "$program_pid" || program_status=$?
  program_pid=""
}

echo "working folder: $tmp"
write_share_ini
write_odbcinst_ini
echo "making the installed release and the update information"
"$make_release" "$tmp/shared/Infrastructure/DB" "$tmp/target/DB"
write_odbc_ini
start_xvfb
echo "X server on $DISPLAY"

mkdir -p "$artefacts"
cd "$tmp/target"
echo "starting $tabsync DB in $tmp/target"
"$tabsync" DB </dev/null >"$tmp/tabsync.out" 2>"$tmp/tabsync.err" &
program_pid=$!

window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$kTitle\$" | head -n 1) ||
  fail "no window titled '$kTitle' within 30s"
echo "question box: window $window"
sleep 1  # let the box paint before the screenshot
import -window root "$artefacts/gtk-update-question.png"
echo "screenshot: $artefacts/gtk-update-question.png"
click_yes "$window"

echo "waiting for tabsync to end"
wait_for_program 120
[[ $program_status -eq 0 ]] || fail "tabsync ended with status $program_status"
log="$tmp/shared/Infrastructure/DB/Stabmerge.log"
[[ -f $log ]] || fail "no log file $log"
grep -q "## END UPDATING" "$log" || fail "$log lacks '## END UPDATING'"
echo "PASS: answered Yes, tabsync ended with status 0 and wrote $log"
