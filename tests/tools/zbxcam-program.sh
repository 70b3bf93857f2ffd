#!/usr/bin/env bash
# The built zbxcam on the virtual camera, checked by other programs: JSON
# read by Python, a piped image by pngcheck, recordings by ffprobe, the
# settings file compared byte for byte after --no-save, exit statuses.
set -uo pipefail
zbxcam=$(realpath "$1")
work=$(mktemp -d)
bg=
cleanup() {
  if [ -n "$bg" ]; then kill "$bg" 2>/dev/null; wait "$bg" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
export XDG_CONFIG_HOME="$work/config"
# The camera table is shared by every process of this user: a camera
# number of our own keeps parallel runs apart.
n=$(( $$ % 31 + 1 ))
cam=(--slots "$n" --camera "$n")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
json() {  # json EXPRESSION: the expression on the JSON object read from stdin must hold
  python3 -c "import json,sys; d=json.load(sys.stdin); sys.exit(0 if ($1) else 1)"
}

# JSON output parses and says what it should.
"$zbxcam" list --json "${cam[@]}" | json "[c['camera'] for c in d['cameras']] == [$n] and not d['cameras'][0]['in_use']" \
  || fail "list --json"
"$zbxcam" info --json "${cam[@]}" | json "d['camera'] == $n and d['width'] == 1280 and d['values']['Gamma'] == 100" \
  || fail "info --json"
"$zbxcam" get --json Gamma MirrorH "${cam[@]}" | json "d == {'Gamma': 100, 'MirrorH': 0}" || fail "get --json"
"$zbxcam" stream --json --seconds 0.5 --unpaced "${cam[@]}" 2>/dev/null | json "d['frames'] > 0 and d['failures'] == {}" \
  || fail "stream --json"

# A recording of a frame count, read back by ffprobe.
"$zbxcam" record clip.avi --frames 5 --json --unpaced "${cam[@]}" 2>/dev/null > record.json
json "d['frames'] >= 5 and d['complete']" < record.json || fail "record --json"
probe() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=width,height,nb_read_frames -of csv=p=0 "$1"; }
frames=$(probe clip.avi | cut -d, -f3)
[ "$(probe clip.avi | cut -d, -f1,2)" = "1280,720" ] && [ "${frames:-0}" -ge 5 ] || fail "record: ffprobe reads $(probe clip.avi)"

# The image on standard output is a whole PNG.
"$zbxcam" snap - --format png "${cam[@]}" > piped.png && pngcheck -q piped.png || fail "snap - | pngcheck"
# A series names its files from the pattern.
"$zbxcam" snap -n 3 --interval 0.1 'shot-%02d.bmp' "${cam[@]}" > /dev/null && [ -s shot-01.bmp ] && [ -s shot-03.bmp ] \
  || fail "snap -n 3 pattern"

# --no-save leaves the settings file as it was, byte for byte.
"$zbxcam" set Gamma=120 MirrorH=1 "${cam[@]}" > /dev/null || fail "set"
settings=config/zorbex-sdk/settings.reg
cp "$settings" before.reg
"$zbxcam" set --no-save Gamma=50 ExposureTime=900 GlobalGain=4 MirrorV=1 AutoIris=2 "${cam[@]}" > /dev/null || fail "set --no-save"
"$zbxcam" snap x.png --no-save --mirror-h off --set BayerGainRed=200 "${cam[@]}" > /dev/null || fail "snap --no-save"
"$zbxcam" reset --no-save "${cam[@]}" > /dev/null || fail "reset --no-save"
cmp -s before.reg "$settings" || fail "--no-save changed the settings file"
"$zbxcam" get Gamma "${cam[@]}" | grep -qx 'Gamma=120' || fail "set did not persist"
"$zbxcam" reset "${cam[@]}" > /dev/null && "$zbxcam" get Gamma MirrorH "${cam[@]}" | tr '\n' ' ' | grep -qx 'Gamma=100 MirrorH=0 ' \
  || fail "reset"

# A camera streamed by another process is listed as in use; Ctrl-C ends a
# recording with a finished file and the camera free again.
"$zbxcam" record live.avi --seconds 0 "${cam[@]}" > /dev/null 2>&1 &
bg=$!
for _ in $(seq 50); do [ -s live.avi ] && break; sleep 0.1; done
"$zbxcam" list --json "${cam[@]}" | json "d['cameras'][0]['in_use']" || fail "list: camera in use"
kill -INT "$bg"; wait "$bg"; status=$?; bg=
[ "$status" -eq 0 ] || fail "record after Ctrl-C: exit $status"
[ "$(probe live.avi | cut -d, -f3)" -ge 1 ] 2>/dev/null || fail "record after Ctrl-C: ffprobe reads $(probe live.avi)"
"$zbxcam" list --json "${cam[@]}" | json "not d['cameras'][0]['in_use']" || fail "camera still in use after Ctrl-C"

# Bad input: usage errors exit 2 with a hint, failures exit 1 with the
# library's error name.
expect() {  # expect STATUS TEXT ARGS...
  local want=$1 text=$2; shift 2
  "$zbxcam" "$@" > out.txt 2> err.txt; local got=$?
  [ "$got" -eq "$want" ] && grep -q -- "$text" err.txt || fail "zbxcam $* gave $got: $(cat err.txt)"
}
expect 2 "help" record clip.mp4
expect 2 "help" record a.avi --seconds 1 --frames 2
expect 2 "help" snap -n 0 x.png
expect 2 "help" snap --interval 1 x.png
expect 2 "help" snap -n 2 - --format png
expect 2 "help" set Gamma
expect 2 "help" get NoSuchValue
expect 1 "ERR_FILE (12)" snap missing/x.png "${cam[@]}"
expect 1 "ERR_FILE (12)" record missing/x.avi "${cam[@]}"
expect 1 "ERR_PARAMETER (9)" set Gamma=999 "${cam[@]}"
expect 1 "ERR_DEVICE_UNAVAILABLE (2)" get --slots none
# No camera: the demonstration leaves no empty folder behind.
expect 1 "ERR_DEVICE_UNAVAILABLE (2)" demo --slots none --out demo-out
[ ! -e demo-out ] || fail "demo --slots none left demo-out behind"

[ "$failures" -eq 0 ] && echo "all zbxcam program checks passed"
exit "$failures"
