#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a C application
# against it twice: through pkg-config and through the CMake package; runs
# the installed zbxcam, which must find the installed library by itself.
set -euo pipefail
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
cc -std=c11 -Wall -Werror "$here/app.c" $(pkg-config --cflags --libs zorbex-sdk) -o "$work/app_pc"

cmake -S "$here" -B "$work/app" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/app" >/dev/null

export LD_LIBRARY_PATH="$work/prefix/lib"
# Keep the run away from the user's own settings.
export XDG_CONFIG_HOME="$work/config"
for app in "$work/app_pc" "$work/app/app"; do
  out=$("$app")
  echo "$out"
  [ "$out" = "version 28640543 handle ok width 1280" ] || { echo "unexpected output from $app"; exit 1; }
done

# zbxcam finds the library beside it: no LD_LIBRARY_PATH, and the tree moved.
if [ -x "$work/prefix/bin/zbxcam" ]; then
  mv "$work/prefix" "$work/moved"
  out=$(env -u LD_LIBRARY_PATH "$work/moved/bin/zbxcam" list)
  echo "$out"
  case "$out" in *"camera 0"*) ;; *) echo "unexpected output from the installed zbxcam"; exit 1 ;; esac
  # Captured first: grep -q would stop reading at its match and, under
  # pipefail, ldd's broken pipe would fail the check now and then.
  libs=$(ldd "$work/moved/bin/zbxcam")
  grep -q "libZorbexSdk_530RD_NQT.* => $work/moved/" <<<"$libs" \
    || { echo "the installed zbxcam does not load the installed library"; echo "$libs"; exit 1; }
fi
