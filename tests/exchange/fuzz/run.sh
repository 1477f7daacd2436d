#!/usr/bin/env bash
# Builds the exchange reader's fuzz target with clang's libFuzzer (Debian's
# clang package) and runs it for a bounded time: FUZZ_SECONDS (default 60).
# Not part of the test command; run it by hand or from a scheduled job.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out="${FUZZ_BUILD:-${TMPDIR:-/tmp}/lectoria-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
mkdir -p "$out/corpus"

clang++ -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/src/core" -I"$root/src/exchange" $(pkg-config --cflags Qt6Core) \
  "$here/fuzz_exchange_reader.cpp" \
  "$root/src/exchange/exchangefile.cpp" "$root/src/exchange/exchangekinds.cpp" \
  "$root/src/core/text.cpp" "$root/src/core/gbk.cpp" "$root/src/core/kinds.cpp" \
  "$root/src/core/atomicfile.cpp" "$root/src/core/errors.cpp" "$root/src/core/prompt.cpp" \
  $(pkg-config --libs Qt6Core) -o "$out/fuzz_exchange_reader"

# Seeds: an e-book file as the writer makes it, and one record's values.
printf '\002@@FILE_BEGIN@@\r\n@@RECORD_BEGIN@@\r\n@@T(\xb2\xe1\xca\xfd3) @!\r\n@@12 @!\r\n@@F @!\r\n@@ @!\r\n@@U @!\r\n@@L1\r\nL2 @!\r\n@@RECORD_END@@\r\n@@FILE_END@@\r\n' \
  > "$out/corpus/ebook"
printf '\003T\000-5\000F\r\nG\000\000U\000!a@!b\r\nc\0003' > "$out/corpus/values"

"$out/fuzz_exchange_reader" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$out/corpus"
