#!/usr/bin/env bash
# qs.exe whose console window is closed (CTRL_CLOSE_EVENT, sent as Windows
# sends it, with Windows' 5 s to end) or that gets Ctrl+C in the middle of
# a verification run: the run ends as interrupted with the point it showed,
# within the time, and the report shows both runs "прервана", neither going
# on nor lost. The second point of the programme can never be set (the
# installation never echoes its voltage), so the run is caught between its
# points every time.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
win_init "$1" "$2" "$3"

dev=$(claim_com)
WIN_CLAIMS+=("$dev")
zu=$(claim_com)
WIN_CLAIMS+=("$zu")
trap 'e2e_cleanup; release_coms' EXIT

mkdir -p "$WORK/QS_ADD"
cp "$(dirname "$0")/../../samples/QS_ADD/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t%s\t21\t\nPort_ZU:\t%s\t1\t0\t\nVer:\t1\t2\t3\tW\tprog.txt\t\n' "$dev" "$zu" >"$WORK/QS_ADD/common.sch"
printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\nA1_2\t230\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\n' \
  >"$WORK/QS_ADD/prog.txt"
start_devsim --link "$WINEPREFIX/dosdevices/com$dev"
"$(dirname "$DEVSIM")/qs-zusim" --link "$WINEPREFIX/dosdevices/com$zu" --ready-file "$WORK/zusim.ready" \
  --report-ms 50 --never 1230 >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10

# Starts a run and waits until its first point is shown (and so recorded);
# the bench then tries the second point for ever.
run_to_second_point() {
  win_start
  wait_for "<8>  - Поверка." 60
  wkeys 't:8'
  wait_for " <1>  Ver W" 20
  wkeys 't:1'
  wait_row '^ 1  220\.00   5\.000   1\.00 ABC .* годен' 60 21
}

# The console window closed: the program ends by itself within Windows' 5 s
# (the key writer ends it with status 3 otherwise).
run_to_second_point
wkeys Close
status=$(wait_exit 20)
[ "$status" != "3" ] || fail "qs.exe was still running 5 s after its console closed"
check_interrupted "$NATIVE/qs" 1 "its console closed" "прервана (окно закрыто)"
e2e_stop

# Ctrl+C.
run_to_second_point
wkeys Ctrl-C
status=$(wait_exit 20)
[ "$status" != "3" ] || fail "status 3 after Ctrl+C"
check_interrupted "$NATIVE/qs" 2 "Ctrl+C" "прервана (Ctrl-C)"
(cd "$WORK" && "$NATIVE/qs" report) | grep -qE "потеряна|идёт" && fail "a run left without its end: $(cd "$WORK" && "$NATIVE/qs" report)"
echo ok
