#!/usr/bin/env bash
# A bench whose window is closed (tmux kill-window: SIGHUP) or that gets
# Ctrl-C in the middle of a verification run ends the run as interrupted
# with the points it showed, before it goes: the report shows both runs
# "прервана" with their one point, neither going on nor lost. So does a
# stand's bench whose window is closed while it waits for the master, and
# its run is ended before the master frees its slot. The second point of
# the programme can never be set (the installation never echoes its
# voltage), so a run is caught between its points every time.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
mkdir -p "$WORK/QS_ADD"
cp "$(dirname "$0")/../../samples/QS_ADD/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t3\t21\t\nPort_ZU:\t5\t1\t0\t\nVer:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common.sch"
printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\nA1_2\t230\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\n' \
  >"$WORK/QS_ADD/prog.txt"
start_devsim --link "$WORK/QS_ADD/com3"
"$ZUSIM" --link "$WORK/QS_ADD/com5" --ready-file "$WORK/zusim.ready" --report-ms 50 --never 1230 >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10

# Starts a run and waits until its first point is shown (and so recorded);
# the bench then tries the second point for ever.
run_to_second_point() {
  e2e_start "$QS"
  wait_for "<8>  - Поверка."
  keys 8
  wait_for " <1>  Ver E2E"
  keys 1
  wait_row '^ 1  220\.00   5\.000   1\.00 ABC .* годен' 30 21
}

# The window closed: SIGHUP to the bench, which ends with the run's end
# written.
run_to_second_point
pane=$(tmux -L "$SOCK" list-panes -t qs -F '#{pane_pid}')
bench=$(pgrep -P "$pane" -x qs) || fail "no qs in the window"
tmux -L "$SOCK" kill-window -t qs
for _ in $(seq 100); do kill -0 "$bench" 2>/dev/null || break; sleep 0.1; done
kill -0 "$bench" 2>/dev/null && fail "qs outlived its window"
check_interrupted "$QS" 1 "its window closed" "прервана (окно закрыто)"

# Ctrl-C: the run ends the same way, and qs with status 130.
run_to_second_point
keys C-c
status=$(wait_exit 10)
[ "$status" = "130" ] || fail "Ctrl-C: exit status $status"
check_interrupted "$QS" 2 "Ctrl-C" "прервана (Ctrl-C)"

# A stand: the master started here starts the bench in a window of its
# own; the bench's window is closed while it waits for the master, who
# keeps failing the second point.
printf 'Ver:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common1.sch"
tmux -L "$SOCK" kill-server 2>/dev/null || true
rm -f "$WORK/exit"
e2e_start "$QS m"
wait_for "Введите колличество ведомых задач" 20
keys 1
wait_for "1.(0x21,COM3): State" 40
keys a
wait_for "Start"
wait_win 1 "<8>  - Поверка." 20
tmux -L "$SOCK" send-keys -t qs:1 8
wait_win 1 "Программы поверки:"
tmux -L "$SOCK" send-keys -t qs:1 1
wait_win 1 " 1  220.00   5.000   1.00 ABC" 60
wait_win 1 "Ведущая задача работает с установкой" 30
bench=$(tmux -L "$SOCK" display -p -t qs:1 '#{pane_pid}')  # (the master starts qs as the window's own process)
[ "$(cat "/proc/$bench/comm" 2>/dev/null)" = "qs" ] || fail "no qs in the bench's window"
tmux -L "$SOCK" kill-window -t qs:1
wait_for "1.Disable" 20
for _ in $(seq 100); do kill -0 "$bench" 2>/dev/null || break; sleep 0.1; done
kill -0 "$bench" 2>/dev/null && fail "the stand's bench outlived its window"
check_interrupted "$QS" 3 "its window closed on a stand" "прервана (окно закрыто)"
(cd "$WORK" && "$QS" report) | grep -qE "потеряна|идёт" && fail "a run left without its end: $(cd "$WORK" && "$QS" report)"
echo "ok"
