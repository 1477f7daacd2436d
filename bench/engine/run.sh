#!/usr/bin/env bash
# Report engine: 100,000 detail rows, a group every 50 rows; rows per second
# and peak memory for the fill alone, every page kept (the preview's page
# model), and each file format (CSV and HTML with the detail band only, text
# with every band). Targets: fill + CSV >= 300,000 rows/s; peak < 200 MB.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build="${LECTORIA_BUILD_DIR:-$here/build}"
[ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target lectoria_bench_engine -j 2 >/dev/null
exe="$build/bench/engine/lectoria_bench_engine"
rows="${ROWS:-100000}"
for what in fill csv text html document; do
  "$exe" "$what" "$rows"
done
