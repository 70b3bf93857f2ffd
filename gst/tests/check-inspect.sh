#!/usr/bin/env bash
# gst-inspect-1.0 loads the built plugin and describes the element with its
# properties, formats and the plugin's metadata.
set -euo pipefail
plugin_dir=$1
export GST_PLUGIN_PATH=$plugin_dir
export GST_REGISTRY=$2
out=$(gst-inspect-1.0 zorbexsrc)
for want in 'Source/Video/Hardware' 'zorbex' 'device-number' 'color-mode' 'exposure' 'gain' \
            'mirror-horizontal' 'mirror-vertical' 'window-x' 'window-width' 'trigger-mode' \
            'adjustments' 'msb-aligned' 'save-settings' 'stats' 'num-buffers' 'do-timestamp' \
            'GRAY8' 'GRAY16_LE' 'BGRx' 'BGRA64_LE'; do
  grep -q -- "$want" <<<"$out" || { echo "gst-inspect-1.0 output lacks: $want"; echo "$out"; exit 1; }
done
# The camera has no software trigger: the element offers none.
if grep -q -- 'software-trigger' <<<"$out"; then echo "gst-inspect-1.0 output offers software-trigger"; exit 1; fi
# The plugin itself loads without complaint and lists exactly its element.
plugin=$(gst-inspect-1.0 "$plugin_dir/libgstzorbex.so")
grep -q 'zorbexsrc: Zorbex camera source' <<<"$plugin" || { echo "$plugin"; exit 1; }
grep -q 'zorbexdeviceprovider' <<<"$plugin" || { echo "$plugin"; exit 1; }
# The device monitor lists the virtual camera (a camera table of its own).
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
chmod 700 "$run"
monitor=$(XDG_RUNTIME_DIR=$run XDG_CONFIG_HOME=$run timeout 60 gst-device-monitor-1.0 Video/Source)
grep -q 'Zorbex 530RD-NQT camera 0' <<<"$monitor" && grep -q 'device.number = 0' <<<"$monitor" \
  || { echo "gst-device-monitor-1.0 Video/Source:"; echo "$monitor"; exit 1; }
