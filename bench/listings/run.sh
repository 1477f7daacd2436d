#!/usr/bin/env bash
# The e-book listing of 100,000 records: CSV, text and HTML files, the first
# preview page, peak memory, and the sqlite3 shell on the same query.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build="${LECTORIA_BUILD_DIR:-$here/build}"
records="${LISTING_RECORDS:-100000}"
[ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target lectoria-makedemo bench_listings >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/lectoria-makedemo" --records "$records" --kind dzts "$work/www.db" >/dev/null
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/bench/listings/bench_listings" "$work/www.db"
