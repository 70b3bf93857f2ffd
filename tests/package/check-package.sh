#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a C application
# against it twice: through pkg-config and through the CMake package.
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
