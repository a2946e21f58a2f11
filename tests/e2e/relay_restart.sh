#!/usr/bin/env bash
# The device behind a TCP relay (qs-devsim --tcp) that is killed and started
# again while qs shows live TI values: the failed polls are marked, and the
# values move again once the relay is back, without a restart of qs.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t0\t21\t\n' >"$WORK/QS_ADD/common.sch"
start_devsim --tcp 0
port=$(cat "$WORK/devsim.ready")

e2e_start "$QS"
wait_for "IP:PORT"
keys "127.0.0.1:$port" Enter
wait_for "<Esc> - Выход."
keys F1
wait_row '^1: +[0-9A-F]{4}h' 10 5
# Live values move between looks.
moving() {
  local first
  first=$(row 5)
  for _ in $(seq 10); do
    sleep 0.3
    [ "$(row 5)" != "$first" ] && return 0
  done
  return 1
}
moving || fail "TI values do not move"

# The relay dies: the polls fail and say so.
kill -9 "${PIDS[-1]}"
wait "${PIDS[-1]}" 2>/dev/null || true
wait_row '^.{17}\*' 10 2
stale=$(row 5)
sleep 1
[ "$(row 5)" = "$stale" ] || fail "values changed with no relay"

# It comes back on the same port: qs connects again by itself, without
# writing over the view.
start_devsim --tcp "$port"
wait_row '^[^*]*$' 15 2
moving || fail "TI values do not move after the relay came back"

screen | grep -q "connection to server" && fail "the reconnect wrote over the view"
keys F3
wait_for "<Esc> - Выход."
keys Escape
status=$(wait_exit)
[ "$status" = "0" ] || fail "exit status $status"
echo "ok"
