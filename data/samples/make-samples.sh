#!/usr/bin/env bash
# Regenerates the demo firmware files in this folder with the project's own
# tools and the line key the build was configured with (the demo key unless
# QRB117_LINE_KEY_FILE names another).
#   data/samples/make-samples.sh [BUILD_DIR]     (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target sfl-encode sfl-make-samples -j2 >/dev/null

sources=$(mktemp -d)
trap 'rm -rf "$sources"' EXIT
"$build/tools/sfl-encode/sfl-make-samples" "$here" "$sources"
for name in TN508001_M_V0102.SFL TQX37_V0106.SFL TN508001_S_V0102.SFL; do
  "$build/tools/sfl-encode/sfl-encode" "$sources/$name" "$here/$name"
done
ls -l "$here"/*.SFL
