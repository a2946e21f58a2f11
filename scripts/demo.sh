#!/usr/bin/env bash
# Runs qs against simulated devices: qs-devsim serves three devices on a
# pseudo-terminal linked as demo/QS_ADD/com3, and Task_1 names port 3.
# Stopping qs stops the simulator.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
qs="$root/$build/qs"
devsim="$root/$build/qs-devsim"
demo="$root/demo"
mkdir -p "$demo/QS_ADD"
cp "$root/samples/QS_ADD/"* "$demo/QS_ADD/"
printf '## Demo bench: the simulated line on QS_ADD/com3.\nTask_1:\t3\t21\t\n' >"$demo/QS_ADD/common.sch"
grep -v '^Task_' "$root/samples/QS_ADD/common.sch" >>"$demo/QS_ADD/common.sch"

cd "$demo"
rm -f devsim.ready
"$devsim" --devices 3 --link QS_ADD/com3 --ready-file devsim.ready >devsim.log 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -f devsim.ready ] && break; sleep 0.1; done
[ -f devsim.ready ] || { echo "qs-devsim did not start:"; cat devsim.log; exit 1; }
"$qs"
