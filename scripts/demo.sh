#!/usr/bin/env bash
# Runs qs against simulated devices: qs-devsim serves three devices on a
# pseudo-terminal linked as demo/QS_ADD/com3 (Task_1 names port 3), and
# qs-zusim plays the reference installation on demo/QS_ADD/com5 (Port_ZU).
# Stopping qs stops the simulators.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
qs="$root/$build/qs"
devsim="$root/$build/qs-devsim"
zusim="$root/$build/qs-zusim"
demo="$root/demo"
mkdir -p "$demo/QS_ADD"
cp "$root/samples/QS_ADD/"* "$demo/QS_ADD/"
printf '## Demo bench: the simulated line on QS_ADD/com3.\nTask_1:\t3\t21\t\n' >"$demo/QS_ADD/common.sch"
grep -v '^Task_' "$root/samples/QS_ADD/common.sch" >>"$demo/QS_ADD/common.sch"

cd "$demo"
rm -f devsim.ready zusim.ready
"$devsim" --devices 3 --link QS_ADD/com3 --ready-file devsim.ready >devsim.log 2>&1 &
sims=($!)
"$zusim" --link QS_ADD/com5 --errors 0.69,0.3,-0.2 --spread 0.01 --ready-file zusim.ready >zusim.log 2>&1 &
sims+=($!)
trap 'kill "${sims[@]}" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -f devsim.ready ] && [ -f zusim.ready ] && break; sleep 0.1; done
[ -f devsim.ready ] || { echo "qs-devsim did not start:"; cat devsim.log; exit 1; }
[ -f zusim.ready ] || { echo "qs-zusim did not start:"; cat zusim.log; exit 1; }
"$qs"
