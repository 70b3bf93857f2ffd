#!/usr/bin/env bash
# The gst-launch-1.0 recipes of the README's GStreamer section, run as
# written on the virtual camera: live ones end with Ctrl-C (SIGINT) after a
# few seconds, the others by themselves.  None may warn or fail (a missing
# queue is a warning), and the files they write must read back: the MP4 as
# 4:2:0 H.264 that any player plays, the PNGs in pngcheck.
set -uo pipefail
readme=$(realpath "$1")
export GST_PLUGIN_PATH=$2
export GST_REGISTRY=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export XDG_CONFIG_HOME="$work/config"
# A camera table of this run's own: the recipes use camera 0, as written,
# beside other programs of this user that use it too.
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
# No display: autovideosink falls back on a sink that shows nothing, and
# says so (its one warning allowed).
unset DISPLAY WAYLAND_DISPLAY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The registry first, so that Ctrl-C reaches pipelines that run already.
gst-inspect-1.0 zorbexsrc > /dev/null || fail "gst-inspect-1.0 zorbexsrc"
mapfile -t recipes < <(sed -n '/^## GStreamer/,/^## [^G]/p' "$readme" | sed -n 's/^    \(gst-launch-1.0 .*\)$/\1/p')
[ "${#recipes[@]}" -ge 4 ] || fail "only ${#recipes[@]} recipes found in $readme"
for recipe in "${recipes[@]}"; do
  if [[ $recipe == *num-buffers=* ]]; then
    timeout 60 bash -c "$recipe" > log 2>&1
    status=$?
  else
    # Ctrl-C once the pipeline has played for 3 s (gst-launch-1.0 handles
    # it only from then on; starting may take long on a loaded machine).
    bash -c "exec $recipe" > log 2>&1 &
    pid=$!
    for _ in $(seq 600); do
      grep -q 'Setting pipeline to PLAYING' log && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    sleep 3
    kill -INT "$pid" 2>/dev/null
    ( sleep 60; kill -KILL "$pid" ) > /dev/null 2>&1 &
    watchdog=$!
    wait "$pid"
    status=$?
    pkill -P "$watchdog" sleep 2>/dev/null; kill "$watchdog" 2>/dev/null
    wait "$watchdog" 2>/dev/null
  fi
  if [ "$status" -ne 0 ] || grep -E '^(WARNING|ERROR)' log | grep -q -v 'GstAutoVideoSink'; then
    fail "$recipe (status $status)"
    cat log
  fi
done

probe=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,pix_fmt,nb_read_frames -of csv=p=0 clip.mp4 2>&1)
IFS=, read -r codec pix frames <<<"$probe"
[ "$codec" = h264 ] && [ "$pix" = yuv420p ] && [ "${frames:-0}" -gt 0 ] || fail "clip.mp4: ffprobe reads '$probe'"
for png in frame.png frame16.png; do
  pngcheck -q "$png" || fail "$png"
done
exit $((failures != 0))
