#!/usr/bin/env bash
# The import of 10,000 e-book records (RECORDS picks another number) over
# SQL Server's wire at a real round-trip time: the TDS test server and the
# benchmark run in a network namespace of their own, whose loopback delays
# every packet 0.5 ms (netem), so a round trip takes 1 ms. Where the kernel
# has no netem, a relay in the namespace holds the data 0.5 ms each way
# instead. Prints records/s and round trips per record with one record per
# request and in batches, first without the delay (the test server's own
# limit), then with it. Needs root (ip netns); skipped with a message
# otherwise. Traffic stays on the namespace's loopback; the namespace is
# removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build="${LECTORIA_BUILD_DIR:-$here/build}"
records="${RECORDS:-10000}"
oneway="${ONE_WAY_MS:-0.5}"
if [ "$(id -u)" -ne 0 ]; then
  echo "import at a round-trip time: skipped, making a network namespace needs root"
  exit 0
fi
if ! command -v ip >/dev/null || ! command -v tc >/dev/null; then
  echo "import at a round-trip time: skipped, ip and tc (iproute2) are not installed"
  exit 0
fi
cmake --build "$build" --target bench_wire_rtt lectoria-makedemo >/dev/null
work=$(mktemp -d)
ns="lectoria-bench-$$"
cleanup() {
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
"$build/tools/lectoria-makedemo" --records "$records" --kind dzts "$work/source.db" >/dev/null
if ! ip netns add "$ns" 2>/dev/null; then
  echo "import at a round-trip time: skipped, no network namespace could be made"
  exit 0
fi
inns() { ip netns exec "$ns" "$@"; }
inns ip link set lo up
bench="$build/bench/sqlserver/bench_wire_rtt"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
echo "import of $records e-books over FreeTDS to the TDS test server, in the network namespace $ns" \
     "(targets: <= 0.01 round trips per record, >= 20000 records/s at 1 ms)"
inns "$bench" "$work/source.db" "$work" 0 "without a delay"
if inns tc qdisc add dev lo root netem delay "${oneway}ms" 2>/dev/null; then
  inns "$bench" "$work/source.db" "$work" 0 "netem ${oneway} ms each way"
else
  echo "  (this kernel has no netem: a relay in the namespace holds the data ${oneway} ms each way instead)"
  inns "$bench" "$work/source.db" "$work" "$oneway"
fi
