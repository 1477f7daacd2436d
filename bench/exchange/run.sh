#!/usr/bin/env bash
# Export of 100,000 e-book records and import of the same file into an empty
# database; prints records per second and the sqlite3 shell's .import of the
# same records as reference.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build="${LECTORIA_BUILD_DIR:-$here/build}"
records="${RECORDS:-100000}"
cmake --build "$build" --target bench_exchange lectoria-makedemo >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/lectoria-makedemo" --records "$records" --kind dzts "$work/source.db" >/dev/null
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/bench/exchange/bench_exchange" "$work"
