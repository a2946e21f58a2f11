#!/usr/bin/env bash
# A verification stand on the simulators: the master and two benches of
# ./demo-stand in tmux, each bench's device on a line of its own (QS_ADD/com3
# and QS_ADD/com4: two benches cannot share one port) and qs-zusim as the
# reference installation on QS_ADD/com5. The line under the windows says
# which keys to press. Esc at the master (or detaching from tmux) ends the
# demo, and every simulator and window it started goes with it.
#
# The benches take one value a point (no Measure line), so that a run of the
# sample programme takes a minute, not the laboratory's 30 s a point.
#
# QS_DEMO_DIR (the folder), QS_DEMO_SOCKET (the tmux server's name) and
# QS_DEMO_ATTACH=0 (wait for the stand to end instead of showing it) let a
# test drive the same demo.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) bin=$build ;; *) bin=$root/$build ;; esac
demo=${QS_DEMO_DIR:-$root/demo-stand}
sock=${QS_DEMO_SOCKET:-qs-demo-stand-$$}
for p in qs qs-devsim qs-zusim; do
  [ -x "$bin/$p" ] || { echo "$bin/$p is not built: run make demo-stand" >&2; exit 1; }
done
command -v tmux >/dev/null || { echo "the stand demo runs in tmux: apt-get install tmux" >&2; exit 1; }

mkdir -p "$demo/QS_ADD"
cp "$root/samples/QS_ADD/"* "$demo/QS_ADD/"
{
  printf '## Demo stand: bench 1 on QS_ADD/com3, bench 2 on QS_ADD/com4, the installation on QS_ADD/com5.\n'
  printf 'Task_1:\t3\t21\t\nTask_2:\t4\t22\t\nPort_ZU:\t5\t1\t0\t\n'
  grep -v -e '^Task_' -e '^Port_ZU' -e '^Measure' "$root/samples/QS_ADD/common.sch"
} >"$demo/QS_ADD/common.sch"
# The operator's name is offered and the day's conditions are known, so a
# run starts at key 8, a programme and Enter.
[ -f "$demo/operator.txt" ] || printf 'Демонстрация\n' >"$demo/operator.txt"
[ -f "$demo/owner.txt" ] || printf 'Демонстрационный заказчик\n' >"$demo/owner.txt"
printf '%s 21.0 55.0 100.0\n' "$(date +%F)" >"$demo/conditions.txt"

cd "$demo"
rm -f devsim*.ready zusim.ready
sims=()
cleanup() {
  tmux -L "$sock" kill-server 2>/dev/null || true
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
"$bin/qs-devsim" --address 21 --serial 111111 --link QS_ADD/com3 --ready-file devsim1.ready >devsim1.log 2>&1 &
sims+=($!)
"$bin/qs-devsim" --address 22 --serial 222222 --link QS_ADD/com4 --ready-file devsim2.ready >devsim2.log 2>&1 &
sims+=($!)
"$bin/qs-zusim" --link QS_ADD/com5 --errors 0.69,0.3,-0.2 --spread 0.01 --ready-file zusim.ready >zusim.log 2>&1 &
sims+=($!)
for _ in $(seq 50); do [ -f devsim1.ready ] && [ -f devsim2.ready ] && [ -f zusim.ready ] && break; sleep 0.1; done
for f in devsim1 devsim2 zusim; do
  [ -f $f.ready ] || { echo "${f%[12]} did not start:" >&2; cat $f.log >&2; exit 1; }
done

hint='Ведущая (окно 0): 2, затем a. Места (Ctrl-b 1, Ctrl-b 2): 8, 1, Enter, Enter. Выход: Esc на ведущей.'
# The master starts its benches as windows of this tmux server; when it
# ends, the server goes and with it the benches.
unset TMUX
tmux -L "$sock" -f /dev/null new-session -d -s stand -n master -x 100 -y 38 \
  "cd '$demo' && '$bin/qs' m; tmux -L '$sock' kill-server"
# (One option a call: tmux 3.3 ends its server when a second status line's
# format comes in the same call as the line.)
for option in "default-size 100x38" "escape-time 0" "status 2"; do
  tmux -L "$sock" set-option -g $option
done
tmux -L "$sock" set-option -g 'status-format[1]' "$hint"
if [ "${QS_DEMO_ATTACH:-1}" = 1 ]; then
  tmux -L "$sock" attach -t stand || true
else
  while tmux -L "$sock" has-session 2>/dev/null; do sleep 0.5; done
fi
