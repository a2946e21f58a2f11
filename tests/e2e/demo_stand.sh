#!/usr/bin/env bash
# The stand demo as a newcomer starts it: scripts/demo-stand.sh brings up a
# master and two benches on the simulators in tmux. The master is told to
# start two benches, each bench asks for the first programme, the bench that
# asked first says that it waits for the stand to be started, the master's a
# starts it, both benches finish their run, and Esc at the master ends the
# demo: nothing it started is left running.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
root="$(cd "$(dirname "$0")/../.." && pwd)"
demo="$WORK/stand"
SOCK="qs-demo-e2e-$$"
SOCKS+=("$SOCK")
QS_DEMO_DIR="$demo" QS_DEMO_SOCKET="$SOCK" QS_DEMO_ATTACH=0 \
  bash "$root/scripts/demo-stand.sh" "$(dirname "$QS")" >"$WORK/demo.log" 2>&1 &
script=$!
PIDS+=($script)

# Processes whose working folder is the demo's (the stand, the simulators,
# the tmux server).
inside() {
  local p cwd
  for p in /proc/[0-9]*; do
    cwd=$(readlink "$p/cwd" 2>/dev/null) || continue
    case "$cwd" in "$demo"|"$demo"/*) echo "${p#/proc/} $(tr '\0' ' ' <"$p/cmdline" 2>/dev/null)" ;; esac
  done
}
# Key 8 on a bench, the first programme, and Enter for the operator and the
# owner offered.
start_run() {
  tmux -L "$SOCK" send-keys -t "stand:$1" 8
  wait_win "$1" "Программы поверки:"
  tmux -L "$SOCK" send-keys -t "stand:$1" 1
  wait_win "$1" "Поверитель (Enter - Демонстрация):"
  tmux -L "$SOCK" send-keys -t "stand:$1" Enter
  wait_win "$1" "Владелец (Enter - Демонстрационный заказчик):"
  tmux -L "$SOCK" send-keys -t "stand:$1" Enter
}

# (lib.sh's helpers name the session qs; the demo's is "stand".)
win() { tmux -L "$SOCK" capture-pane -p -t "stand:$1"; }
screen() { win master; }
wait_win master "Введите колличество ведомых задач" 30
tmux -L "$SOCK" send-keys -t stand:master 2
wait_win master "2.(0x22,COM4): State" 40
wait_win QS_S1 "<8>  - Поверка."
wait_win QS_S2 "<8>  - Поверка."
start_run QS_S1
wait_win QS_S1 "Ожидание запуска стенда (клавиша A на ведущей задаче)"
wait_win master "Vrf_Wait_Load_File"
tmux -L "$SOCK" send-keys -t stand:master a
wait_win QS_S1 "Ожидание задач стенда: 2"
start_run QS_S2
wait_win QS_S1 "Поверка завершена. Итог:" 180
wait_win QS_S2 "Поверка завершена. Итог:" 60
win QS_S1 | grep -q "Ожидание" && fail "bench 1 still says it waits: $(win QS_S1 | tail -2)"
wait_win master "1.(0x21,COM3): Exit_Adj"
wait_win master "2.(0x22,COM4): Exit_Adj"

tmux -L "$SOCK" send-keys -t stand:master Escape
for _ in $(seq 200); do kill -0 "$script" 2>/dev/null || break; sleep 0.1; done
kill -0 "$script" 2>/dev/null && fail "the demo did not end on Esc at the master"
for _ in $(seq 50); do [ -z "$(inside)" ] && break; sleep 0.1; done
left=$(inside)
[ -z "$left" ] || fail "left running after the demo: $left"
tmux -L "$SOCK" has-session 2>/dev/null && fail "the demo's tmux server is still there"
echo "ok"
