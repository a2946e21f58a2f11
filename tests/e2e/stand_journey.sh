#!/usr/bin/env bash
# A verification stand as an operator runs it. A slave without a master ends
# with its message. The master (qs m) starts two
# slaves in tmux windows, they register and show in the task table, both run
# a two-point verification programme (key 8) in lockstep on qs-zusim, and
# the installation is reset when both have left the calibration. In a second
# run one bench is killed and the other finishes. A second master is refused.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t3\t21\t\nTask_2:\t4\t22\t\nPort_ZU:\t5\t1\t0\t\nVer:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common.sch"
printf 'Ver:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common1.sch"
printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\nA1_2\t220\t100\t5\t100\t0.5\tL\t0\t0\t0\tABC\n' >"$WORK/QS_ADD/prog.txt"
start_devsim --link "$WORK/QS_ADD/com3"
"$DEVSIM" --address 22 --serial 222222 --link "$WORK/QS_ADD/com4" >/dev/null 2>&1 &
PIDS+=($!)
"$ZUSIM" --link "$WORK/QS_ADD/com5" --keys "$WORK/zu.keys" --ready-file "$WORK/zusim.ready" >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10
sleep 0.3

win() { tmux -L "$SOCK" capture-pane -p -t "qs:$1"; }
# On failure, every window of the stand is shown.
fail() {
  echo "FAIL: $*" >&2
  for w in $(tmux -L "$SOCK" list-windows -t qs -F '#{window_index}' 2>/dev/null); do
    echo "---- window $w ----" >&2
    win "$w" >&2 || true
  done
  exit 1
}
wait_win() {
  local w="$1" text="$2" limit=$(( ${3:-20} * 10 )) i=0
  while [ $i -lt $limit ]; do
    if win "$w" 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  echo "---- window $w ----" >&2
  win "$w" >&2 || true
  fail "'$text' did not appear in window $w"
}

# A slave started before its master gives up after its presence checks.
e2e_start "$QS s1"
wait_for "Ошибка! программа QS_Master не найдена" 20
keys Enter
status=$(wait_exit)
[ "$status" = "0" ] || fail "lonely slave: exit status $status"
tmux -L "$SOCK" kill-server
rm -f "$WORK/exit"

e2e_start "$QS m"
wait_for "Введите колличество ведомых задач"
keys 2
wait_for "2.(0x22,COM4): State" 40
wait_for "1.(0x21,COM3): State"
keys a
wait_for "Start"
wait_win 1 "<8>  - Поверка."
wait_win 2 "<8>  - Поверка."
tmux -L "$SOCK" send-keys -t qs:1 8
wait_win 1 "Программы поверки:"
tmux -L "$SOCK" send-keys -t qs:1 1
wait_for "Vrf_Wait_Load_File: Ver"
tmux -L "$SOCK" send-keys -t qs:2 8
wait_win 2 "Программы поверки:"
tmux -L "$SOCK" send-keys -t qs:2 1
wait_win 1 "Поверка завершена." 120
wait_win 2 "Поверка завершена." 60
win 1 | grep -qE '^ 2  220.00   5.000   0.50 ABC ' || fail "bench 1 results: $(win 1 | sed -n 21,23p)"
wait_for "1.(0x21,COM3): Exit_Adj"
[ "$(tail -c 1 "$WORK/zu.keys")" = ">" ] || fail "the installation was not reset at the end"

# A second run in which one bench is killed: the other goes on to the end.
tmux -L "$SOCK" send-keys -t qs:1 Enter
tmux -L "$SOCK" send-keys -t qs:2 Enter
keys a
wait_for "Start"
tmux -L "$SOCK" send-keys -t qs:1 8
wait_win 1 "Программы поверки:"
tmux -L "$SOCK" send-keys -t qs:1 1
tmux -L "$SOCK" send-keys -t qs:2 8
wait_win 2 "Программы поверки:"
tmux -L "$SOCK" send-keys -t qs:2 1
wait_win 1 " N     U" 40
victim=$(tmux -L "$SOCK" display -p -t qs:2 '#{pane_pid}')
kill -9 "$victim"
if ! (for _ in $(seq 300); do screen | grep -qF "2.Disable" && exit 0; sleep 0.1; done; exit 1); then
  echo "---- window 1 ----" >&2
  win 1 >&2 || true
  ps -o pid,stat,cmd -p "$victim" >&2 || true
  fail "the killed bench ($victim) was not deleted"
fi
wait_win 1 "Поверка завершена." 120

# A second master finds the first one.
tmux -L "$SOCK" new-window -d -n second "cd $WORK && $QS m; sleep 30"
wait_win second "Ошибка! программа QS_Master уже запущена" 10
echo "ok"
