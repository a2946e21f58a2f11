#!/usr/bin/env bash
# With Task_1 naming port 0, qs asks for a channel on row 0; Esc ends it with
# status 0 and the terminal back in its normal (canonical, echoing) mode.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1"

mkdir -p "$WORK/QS_ADD"
printf 'Task_1:\t0\t21\t\n' >"$WORK/QS_ADD/common.sch"
e2e_start "$QS"

wait_for "Введите номер COMx порта или IP:PORT адрес:"
[ "$(row 0)" = "Введите номер COMx порта или IP:PORT адрес:" ] || fail "prompt not alone on row 0: '$(row 0)'"

keys C O M
wait_for "адрес: COM"
keys Escape
status=$(wait_exit)
[ "$status" = "0" ] || fail "exit status $status"
grep -qE '(^| )icanon( |$)' "$WORK/stty" || fail "terminal left non-canonical: $(cat "$WORK/stty")"
grep -qE '(^| )echo( |$)' "$WORK/stty" || fail "terminal left without echo: $(cat "$WORK/stty")"
echo "ok"
