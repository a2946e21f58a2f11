#!/usr/bin/env bash
# A verification stand as an operator runs it. A slave without a master ends
# with its message. The master (qs m) starts two
# slaves in tmux windows, they register and show in the task table, both run
# a two-point verification programme (key 8) in lockstep on qs-zusim, and
# the installation is reset when both have left the calibration. In a second
# run the installation keeps failing a step and one bench's window is
# closed meanwhile: its slot is freed at once, and the other finishes once
# the step goes through. In a third run the master is killed in the middle of
# a step: the bench says so and can be left, a bench started then finds no
# master, and the next master runs a verification. A second master is
# refused.
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
"$ZUSIM" --link "$WORK/QS_ADD/com5" --keys "$WORK/zu.keys" --ready-file "$WORK/zusim.ready" \
  --never 8IP --never-while "$WORK/stuck" >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10
sleep 0.3

# On failure, every window of the stand is shown.
fail() {
  echo "FAIL: $*" >&2
  for w in $(tmux -L "$SOCK" list-windows -t qs -F '#{window_index}' 2>/dev/null); do
    echo "---- window $w ----" >&2
    win "$w" >&2 || true
  done
  exit 1
}
# Key 8 on a bench and the first programme of its list.
start_run() {
  tmux -L "$SOCK" send-keys -t "qs:$1" 8
  wait_win "$1" "Программы поверки:"
  tmux -L "$SOCK" send-keys -t "qs:$1" 1
}
# Whether a process has ended (a zombie not yet reaped counts as ended).
gone() { ! ps -o stat= -p "$1" 2>/dev/null | grep -qv Z; }

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
start_run 1
wait_for "Vrf_Wait_Load_File: Ver"
start_run 2
wait_win 1 "Поверка завершена." 120
wait_win 2 "Поверка завершена." 60
win 1 | grep -qE '^ 2  220.00   5.000   0.50 ABC ' || fail "bench 1 results: $(win 1 | sed -n 21,23p)"
wait_for "1.(0x21,COM3): Exit_Adj"
# (The table may show the tasks' exit while the reset is still being keyed.)
for _ in $(seq 100); do [ "$(tail -c 1 "$WORK/zu.keys")" = ">" ] && break; sleep 0.1; done
[ "$(tail -c 1 "$WORK/zu.keys")" = ">" ] || fail "the installation was not reset at the end"

# A second run in which the installation keeps failing the pulse-error step
# (the master works on it and takes no message) and bench 2's window is
# closed: its slot is freed at once, and bench 1 goes on once the step goes
# through.
tmux -L "$SOCK" send-keys -t qs:1 Enter
tmux -L "$SOCK" send-keys -t qs:2 Enter
keys a
wait_for "( Start )"
touch "$WORK/stuck"
start_run 1
start_run 2
wait_for "Error ZU:" 60
victim=$(tmux -L "$SOCK" display -p -t qs:2 '#{pane_pid}')
tmux -L "$SOCK" kill-window -t qs:2
# (The step cannot go through while $WORK/stuck is there: the slot is freed
# while the master works on it.)
wait_for "2.Disable" 10
for _ in $(seq 100); do gone "$victim" && break; sleep 0.1; done
gone "$victim" || fail "the closed bench is still running: $(ps -o pid,stat,etime,cmd -p "$victim" | tail -1)"
rm -f "$WORK/stuck"
wait_win 1 "Поверка завершена." 120

# A third run: the master is killed while it works on a step. The bench
# says that its master is gone, and its operator leaves the run and the bench.
tmux -L "$SOCK" send-keys -t qs:1 Enter
wait_win 1 "<8>  - Поверка."
keys a
wait_for "( Start )"
touch "$WORK/stuck"
start_run 1
wait_for "Error ZU:" 60
master=$(pgrep -P "$(tmux -L "$SOCK" display -p -t qs:0 '#{pane_pid}')" -x qs) || fail "no master process"
kill -9 "$master"
wait_win 1 "Поверка прервана. Программа QS_Master завершилась." 20
tmux -L "$SOCK" send-keys -t qs:1 Enter
wait_win 1 "<8>  - Поверка."
tmux -L "$SOCK" send-keys -t qs:1 8
wait_win 1 "Программа QS_Master завершилась: поверка невозможна." 10
bench=$(tmux -L "$SOCK" display -p -t qs:1 '#{pane_pid}')
tmux -L "$SOCK" send-keys -t qs:1 Escape
for _ in $(seq 300); do gone "$bench" && break; sleep 0.1; done
gone "$bench" || fail "the bench whose master was killed did not end on Esc: $(ps -o pid,stat,etime,cmd -p "$bench" | tail -1)"
rm -f "$WORK/stuck"

# A bench started now finds no master.
tmux -L "$SOCK" new-window -d -n lonely "cd $WORK && $QS s2; sleep 30"
wait_win lonely "Ошибка! программа QS_Master не найдена" 30

# The next master starts cleanly and runs a verification with its bench.
tmux -L "$SOCK" new-window -d -n master2 "cd $WORK && $QS m; sleep 30"
wait_win master2 "Введите колличество ведомых задач"
tmux -L "$SOCK" send-keys -t qs:master2 1
wait_win master2 "1.(0x21,COM3): State" 40
tmux -L "$SOCK" send-keys -t qs:master2 a
wait_win master2 "Start"
wait_win QS_S1 "<8>  - Поверка."
start_run QS_S1
wait_win QS_S1 "Поверка завершена." 120

# A second master finds the first one.
tmux -L "$SOCK" new-window -d -n second "cd $WORK && $QS m; sleep 30"
wait_win second "Ошибка! программа QS_Master уже запущена" 10
echo "ok"
