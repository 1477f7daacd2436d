#!/usr/bin/env bash
# A listing and an import of 10,000 e-book records (RECORDS picks another
# number) on SQLite and over SQL Server's wire to the TDS test server; prints
# the times, whether the two listings are the same file, and the requests per
# imported record; then rtt.sh, the import at a round-trip time of 1 ms.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build="${LECTORIA_BUILD_DIR:-$here/build}"
records="${RECORDS:-10000}"
cmake --build "$build" --target bench_sqlserver lectoria-makedemo >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/lectoria-makedemo" --records "$records" --kind dzts "$work/source.db" >/dev/null
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/bench/sqlserver/bench_sqlserver" "$work/source.db" "$work"
bash "$here/bench/sqlserver/rtt.sh"
