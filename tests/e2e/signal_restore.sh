#!/usr/bin/env bash
# Ctrl+C and SIGTERM while qs waits at a prompt end it with the terminal
# given back in its normal mode.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1"

mkdir -p "$WORK/QS_ADD"
printf 'Task_1:\t0\t21\t\n' >"$WORK/QS_ADD/common.sch"

check_restored() {
  grep -qE '(^| )icanon( |$)' "$WORK/stty" || fail "terminal left non-canonical after $1"
  grep -qE '(^| )echo( |$)' "$WORK/stty" || fail "terminal left without echo after $1"
}

e2e_start "$QS"
wait_for "IP:PORT"
keys C-c
status=$(wait_exit)
[ "$status" = "130" ] || fail "Ctrl+C: exit status $status"
check_restored "Ctrl+C"
tmux -L "$SOCK" kill-server

rm -f "$WORK/exit" "$WORK/stty"
e2e_start "$QS"
wait_for "IP:PORT"
pkill -TERM -f "^$QS\$" || fail "no qs process to signal"
status=$(wait_exit)
[ "$status" = "143" ] || fail "SIGTERM: exit status $status"
check_restored "SIGTERM"
echo "ok"
