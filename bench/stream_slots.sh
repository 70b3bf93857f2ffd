#!/usr/bin/env bash
# All 32 camera slots streaming at once, one zbxcam process each, paced at
# the camera's rate: frames taken, frames lost and CPU per frame over the
# run.  The other form (32 sessions in one process) is BM_Sessions in
# bench_stream_queue.
#
#     bench/stream_slots.sh [SECONDS] [BUILD_DIR]     (default 60, build)
set -euo pipefail
seconds=${1:-60}
build=${2:-build}
zbxcam=$build/tools/zbxcam
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One settings folder and camera table for all: the processes must see
# each other's cameras in use, as on a real machine.
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
slots=$(seq -s, 0 31)
for n in $(seq 0 31); do
  ZBX_VCAM_SLOTS=$slots /usr/bin/time -f '%U %S' -o "$work/cpu-$n" \
    "$zbxcam" stream -c "$n" --seconds "$seconds" --json > "$work/out-$n" 2> "$work/err-$n" &
done
wait
python3 - "$work" <<'PY'
import json, sys, pathlib
work = pathlib.Path(sys.argv[1])
frames = dropped = 0
cpu = 0.0
failed = []
for n in range(32):
    try:
        summary = json.loads((work / f"out-{n}").read_text())
        frames += summary["frames"]
        dropped += summary.get("dropped", 0)
    except (ValueError, KeyError):
        failed.append(n)
    user, system = (work / f"cpu-{n}").read_text().split()[-2:]
    cpu += float(user) + float(system)
print(f"32 processes: {frames} frames, {dropped} lost, "
      f"{cpu / max(frames, 1) * 1e6:.0f} us CPU per frame (whole processes, transfer emulation included)")
if failed:
    print("no summary from slots", failed)
PY
