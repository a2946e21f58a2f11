#!/usr/bin/env bash
# Builds the test suite with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it (unit, screen and integration tests).
# Usage: run-asan.sh BUILD_DIR
set -euo pipefail
build=${1:-build-asan}
root=$(cd "$(dirname "$0")/.." && pwd)
flags="-O1 -g -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j2 --target qs_tests
echo "== sanitizer build: unit, screen and integration tests =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 "$build/tests/qs_tests" --gtest_brief=1
