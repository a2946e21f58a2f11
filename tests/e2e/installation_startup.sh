#!/usr/bin/env bash
# A bench whose Port_ZU switches automatic work on finds qs-zusim on the
# installation port at start-up: the installation is reset (">") and its
# panel is shown at column 80; leaving qs closes it again.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t3\t21\t\nPort_ZU:\t5\t1\t0\t\n' >"$WORK/QS_ADD/common.sch"
start_devsim --link "$WORK/QS_ADD/com3"
"$ZUSIM" --link "$WORK/QS_ADD/com5" --keys "$WORK/zu.keys" --ready-file "$WORK/zusim.ready" >"$WORK/zusim.log" 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10

e2e_start "$QS"
wait_for "<Esc> - Выход."
wait_for "ЭУ7125М"
[ "$(screen | sed -n 20p | cut -c81-)" = "ЭУ7125М" ] || fail "panel: '$(screen | sed -n 20p)'"
wait_file "$WORK/zu.keys" 5 '>'
keys Escape
status=$(wait_exit 15)
[ "$status" = "0" ] || fail "exit status $status"
echo "ok"
