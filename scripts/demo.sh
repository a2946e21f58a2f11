#!/usr/bin/env bash
# Runs qs in a demo working folder (./demo) prepared from samples/QS_ADD.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
qs="$root/$build/qs"
demo="$root/demo"
mkdir -p "$demo/QS_ADD"
cp -n "$root/samples/QS_ADD/"* "$demo/QS_ADD/" 2>/dev/null || true
cd "$demo"
exec "$qs"
