#!/usr/bin/env bash
# F1 from the meter menu shows live TI values from qs-devsim; F6, a toggle
# and Enter switch a simulated output; F3 goes back to the meter menu.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t4\t21\t\n' >"$WORK/QS_ADD/common.sch"
start_devsim --link "$WORK/QS_ADD/com4" --events "$WORK/events"

e2e_start "$QS"
wait_for "<Esc> - Выход."
wait_for "SN: 123456"
keys F1
wait_for "ТИ"
wait_row '^1: +[0-9A-F]{4}h' 10 5
# Live values: the raw counts move between looks.
first=$(row 5)
moved=
for _ in $(seq 10); do
  sleep 0.3
  [ "$(row 5)" != "$first" ] && moved=1 && break
done
[ -n "$moved" ] || fail "TI values do not move"
row 6 | grep -qE '^ +[0-9]+\.[0-9]{2} ' || fail "no scaled values: '$(row 6)'"

keys F6
# The outputs' states are drawn right before the view reads a key; a key
# typed before that goes to the service menu.
wait_row '^Тек\.сост:  0   0   0 *$' 10 5
keys 2
wait_for "Тек.сост:  0   1   0"
keys Enter
wait_file "$WORK/events" 5 '^tu 21 0002$'

keys F3
wait_for "<Esc> - Выход."
keys Escape
status=$(wait_exit)
[ "$status" = "0" ] || fail "exit status $status"
echo "ok"
