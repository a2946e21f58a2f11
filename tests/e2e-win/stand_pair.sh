#!/usr/bin/env bash
# A verification stand of two Windows processes: qs.exe m and qs.exe s1 under
# Wine, each in a console of its own, meeting through the stand's named
# kernel objects (mutex, semaphore, events, the block file). The bench
# registers and shows in the master's task table and runs a two-point
# verification on the installation the master drives. In a second run the
# bench asks before the stand is started and says that it waits for key a,
# then the installation keeps failing a point (the bench says that the
# master works on it); the bench gives up (and waits for the
# busy master's answer, holding the stand's mutex) and its Windows process is
# ended from outside: the master frees its slot and goes on, and a bench
# started again takes the abandoned mutex over and registers in the slot.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
win_init "$1" "$2" "$3"

# The stand's objects carry the program's own names in the prefix: one
# stand journey at a time there.
exec 9>"$WINEPREFIX/qs-stand.lock"
flock 9

dev=$(claim_com)
WIN_CLAIMS+=("$dev")
zu=$(claim_com)
WIN_CLAIMS+=("$zu")
trap 'e2e_cleanup; release_coms' EXIT

mkdir -p "$WORK/QS_ADD"
cp "$(dirname "$0")/../../samples/QS_ADD/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t%s\t21\t\nPort_ZU:\t%s\t1\t0\t\nVer:\t1\t2\t3\tW\tprog.txt\t\n' "$dev" "$zu" >"$WORK/QS_ADD/common.sch"
printf 'Ver:\t1\t2\t3\tW\tprog.txt\t\n' >"$WORK/QS_ADD/common1.sch"
printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\nA1_2\t220\t100\t5\t100\t0.5\tL\t0\t0\t0\tABC\n' >"$WORK/QS_ADD/prog.txt"
start_devsim --serial 00B001 --link "$WINEPREFIX/dosdevices/com$dev"
"$(dirname "$DEVSIM")/qs-zusim" --link "$WINEPREFIX/dosdevices/com$zu" --keys "$WORK/zu.keys" \
  --ready-file "$WORK/zusim.ready" --never 8IP --never-while "$WORK/stuck" >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10

# A bench: qs.exe s1 in a window of its own, its keys taken from $WORK/$1.keys.
start_bench() {
  : >"$WORK/$1.keys"
  tmux -L "$SOCK" new-window -d -n "$1" \
    "cd '$WORK' && WINEDEBUG=-all '$WINE' '$(winpath "$WINKEYS")' '$(winpath "$WORK/$1.keys")' '$(winpath "$QS_EXE")' s1; sleep 600"
}
# The Linux process of this run's qs.exe s1 (Wine shows a Windows process by
# its command line; another run's qs.exe has another path).
bench_process() {
  local want p
  want="$(winpath "$QS_EXE")|s1"
  for p in $(pgrep -f 'qs\.exe s1$'); do
    if [ "$(tr '\0' '|' <"/proc/$p/cmdline" 2>/dev/null | sed 's/|*$//')" = "$want" ]; then
      echo "$p"
      return 0
    fi
  done
  return 1
}
bkeys() {
  local w="$1" k
  shift
  for k in "$@"; do printf '%s\n' "$k" >>"$WORK/$w.keys"; done
}

# The master, without benches of its own starting: the test starts them.
win_start m
wait_for "Введите колличество ведомых задач" 60
wkeys 't:0'
wait_for " <U>  - Разблокировать задачу." 20
start_bench b1
wait_for "1.(0x21,COM$dev): State" 90
wkeys 't:a'
wait_for "Start"
wait_win b1 "<8>  - Поверка." 30
bkeys b1 't:8'
wait_win b1 "Программы поверки:"
bkeys b1 't:1'
wait_win b1 "Поверка завершена." 120
win b1 | grep -qE '^ 2  220.00   5.000   0.50 ABC ' || fail "bench results: $(win b1 | sed -n 21,23p)"
wait_for "1.(0x21,COM$dev): Exit_Adj" 20
for _ in $(seq 100); do [ "$(tail -c 1 "$WORK/zu.keys")" = ">" ] && break; sleep 0.1; done
[ "$(tail -c 1 "$WORK/zu.keys")" = ">" ] || fail "the installation was not reset when the bench left the run"

# The second run: the master works on a point that keeps failing, and the
# bench's operator gives up; its process is then ended from outside.
# The bench asks first: its bottom row says that the stand waits for key a
# at the master, and then that the master works on the installation.
bkeys b1 Enter
wait_win b1 "<8>  - Поверка."
touch "$WORK/stuck"
bkeys b1 't:8'
wait_win b1 "Программы поверки:"
bkeys b1 't:1'
wait_win b1 "Ожидание запуска стенда (клавиша A на ведущей задаче)" 30
wkeys 't:a'
wait_for "( Start )"
wait_for "Error ZU:" 60
wait_win b1 "Ведущая задача работает с установкой" 20
bkeys b1 Esc
sleep 2  # (the bench leaves the run: it waits for the busy master, holding the mutex)
bench=$(bench_process) || fail "no process of the bench"
kill -9 "$bench"
rm -f "$WORK/stuck"
wait_for "1.Disable" 30
start_bench b2
wait_for "1.(0x21,COM$dev): State" 90
wait_win b2 "<8>  - Поверка." 30

# The master ends with Esc, with status 0.
wkeys Esc
status=$(wait_exit 30)
[ "$status" = "0" ] || fail "master exit status $status"
echo "ok"
