#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# bounded time from its seed corpus. Usage: run-fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQS_BUILD_TESTS=OFF -DQS_BUILD_FUZZERS=ON >/dev/null
cmake --build "$build" -j2 --target fuzz_response fuzz_uso_response fuzz_text_files fuzz_keys fuzz_hex fuzz_mailbox fuzz_zu_frame
status=0
for target in response uso_response text_files keys hex mailbox zu_frame; do
  work=$(mktemp -d)
  cp "$root/tests/fuzz/corpus/$target/"* "$work/"
  echo "== fuzz_$target: ${seconds}s =="
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=2048 -timeout=10 \
       -print_final_stats=0 "$work" >"$work.log" 2>&1; then
    tail -40 "$work.log"
    status=1
    echo "fuzz_$target: FAILED"
  else
    grep -E '^Done [0-9]+ runs' "$work.log" | tail -1 || true
    echo "fuzz_$target: clean"
  fi
  rm -rf "$work" "$work.log"
done
exit $status
