#!/usr/bin/env bash
# `zbxcam dialog` as a person runs it, on a private Xvfb: Ctrl-C and SIGTERM
# end an open dialog as Cancel and the command exits 0; the X server killed
# under an open dialog leaves the program exiting 0 within 2 s; without a
# display that answers it says that no dialog could be shown.
set -uo pipefail
zbxcam=$(realpath "$1")
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb or xdotool missing"; exit 77; }
work=$(mktemp -d)
server=
tool=
cleanup() {
  [ -n "$tool" ] && { kill "$tool" 2>/dev/null; wait "$tool" 2>/dev/null; }
  [ -n "$server" ] && { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export XDG_CONFIG_HOME="$work/config" LC_ALL=C
unset WAYLAND_DISPLAY
n=$(( $$ % 31 + 1 ))
cam=(--slots "$n" --camera "$n")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

number=$(( 600 + $$ % 300 ))
start_server() {
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 200); do [ -S "/tmp/.X11-unix/X$number" ] && return 0; sleep 0.05; done
  return 1
}
# Starts `zbxcam dialog WHICH` and waits until its dialog is on screen.
open_dialog() {
  DISPLAY=":$number" "$zbxcam" dialog "$1" "${cam[@]}" > out.txt 2> err.txt &
  tool=$!
  for _ in $(seq 300); do
    DISPLAY=":$number" xdotool search --onlyvisible --name '^(Property|プロパティ|Stream Format)$' >/dev/null 2>&1 && return 0
    kill -0 "$tool" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
# Waits up to SECONDS for the tool to end; its status, or 124 when it did not.
wait_tool() {
  for _ in $(seq $(( $1 * 20 ))); do
    if ! kill -0 "$tool" 2>/dev/null; then wait "$tool"; local s=$?; tool=; return "$s"; fi
    sleep 0.05
  done
  return 124
}

start_server || { echo "Xvfb did not start"; exit 1; }
for signal in INT TERM; do
  for which in analog image camera; do
    open_dialog "$which" || { fail "$which dialog never appeared: $(cat out.txt err.txt)"; continue; }
    kill -"$signal" "$tool"
    wait_tool 5; status=$?
    [ "$status" -eq 0 ] || fail "SIG$signal to zbxcam dialog $which: status $status: $(cat err.txt)"
    grep -q "stopped by the user" out.txt || fail "SIG$signal to zbxcam dialog $which said: $(cat out.txt)"
  done
done

# The X server killed under an open dialog.
open_dialog image || fail "image dialog never appeared: $(cat out.txt err.txt)"
kill -KILL "$server"; wait "$server" 2>/dev/null; server=
wait_tool 2; status=$?
[ "$status" -eq 0 ] || fail "zbxcam dialog after the X server went: status $status (124: still running after 2 s)"

# A display named but not answering.
DISPLAY=":$number" "$zbxcam" dialog analog "${cam[@]}" > out.txt 2> err.txt; status=$?
[ "$status" -eq 0 ] || fail "dialog without a display: status $status: $(cat err.txt)"
grep -q "no dialog could be shown" out.txt || fail "dialog without a display said: $(cat out.txt)"
! grep -q "has closed" out.txt || fail "dialog without a display claims it was shown: $(cat out.txt)"

[ "$failures" -eq 0 ] && echo "all zbxcam dialog checks passed"
exit "$failures"
