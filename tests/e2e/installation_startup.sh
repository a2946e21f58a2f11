#!/usr/bin/env bash
# A bench whose Port_ZU switches automatic work on and finds nothing on the
# installation port says so in the panel's place and offers key 8 to look
# again; once qs-zusim is there, key 8 finds it: the installation is reset
# (">") and its panel is shown at column 80, and the programme list leaves
# the panel whole. Key 8 runs a verification on this bench
# alone: without programmes in the settings, with a programme that does not
# load, with one whose limit field is not a number, with one of 17 points
# (the table starts again after 15 rows, every point is recorded, and each
# row with its state fits beside the installation's panel), and one that the
# operator ends with Esc while the installation keeps failing a step.
# Leaving qs closes the installation.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t3\t21\t\nPort_ZU:\t5\t1\t0\t\n' >"$WORK/QS_ADD/common.sch"
start_devsim --link "$WORK/QS_ADD/com3"

e2e_start "$QS"
wait_for "<8>  - Поверка (ЭУ7125М не обнаружен: искать снова)." 30
[ "$(screen | sed -n 21p | cut -c81-)" = "не обнаружен (COM5)" ] || fail "panel: '$(screen | sed -n 21p)'"
keys 8
wait_for "ЭУ7125М не обнаружен (COM5): проверьте питание установки и кабель." 30
wait_for "Порт установки задаёт строка Port_ZU файла QS_ADD/common.sch."
wait_for "<8>  - Поверка (ЭУ7125М не обнаружен: искать снова)."
"$ZUSIM" --link "$WORK/QS_ADD/com5" --keys "$WORK/zu.keys" --ready-file "$WORK/zusim.ready" --report-ms 50 \
  --never 8IP --never-while "$WORK/stuck" >"$WORK/zusim.log" 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10
keys 8
wait_for "Нет программ поверки (Ver, Ver_Vrf) в настройках." 30
[ "$(screen | sed -n 20p | cut -c81-)" = "ЭУ7125М" ] || fail "panel: '$(screen | sed -n 20p)'"
wait_file "$WORK/zu.keys" 5 '>'

menu_ready() { wait_for "<8>  - Поверка."; }
menu_ready
# A programme whose file is not there.
printf 'Task_1:\t3\t21\t\nPort_ZU:\t5\t1\t0\t\nVer:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common.sch"
keys 8
wait_for " <1>  Ver E2E"
# The list keeps to the left of the panel: its title and its line stay whole.
[ "$(screen | sed -n 20p | cut -c81-)" = "ЭУ7125М" ] || fail "panel under the list: '$(screen | sed -n 20p)'"
[ "$(screen | sed -n 23p | cut -c81-)" = "-----------------" ] || fail "panel line under the list: '$(screen | sed -n 23p)'"
keys 1
wait_for "Ошибка загрузки программы поверки"
menu_ready
# A limit that is not a number refuses the programme, naming its line.
printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0 %%\n' >"$WORK/QS_ADD/prog.txt"
keys 8
wait_for " <1>  Ver E2E"
keys 1
wait_for "Ошибка в строке 1 программы QS_ADD/prog.txt: допуск «1,0 %»: не число"
menu_ready
# Seventeen points: the last three stand at the top of a table started again.
# Every one gives a limit; point 17 is judged on one that nothing passes.
: >"$WORK/QS_ADD/prog.txt"
for n in $(seq 17); do
  limit=0,5
  [ "$n" = 17 ] && limit=0
  printf 'A1_%d\t220\t100\t5\t%d\t1.0\tN\t0\t0\t0\tABC\t%s\n' "$n" $((100 + n)) "$limit" >>"$WORK/QS_ADD/prog.txt"
done
keys 8
wait_for " <1>  Ver E2E"
keys 1
# Another writer holds results.db while points come: the points wait, the
# yellow line says how many, and they are written (the line gone) once the
# file is free again.
wait_file "$WORK/results.db" 20
python3 - "$WORK/results.db" "$WORK/unlock" <<'PY' &
import os, sqlite3, sys, time
db = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=10)
db.execute("BEGIN IMMEDIATE")
open(sys.argv[2] + ".held", "w").write("held")
while not os.path.exists(sys.argv[2]):
    time.sleep(0.1)
db.execute("COMMIT")
PY
PIDS+=($!)
wait_file "$WORK/unlock.held" 20
wait_for "results.db (database is locked): ждут записи точек: 2" 60
touch "$WORK/unlock"
wait_row '^ +ЭУ7125М$' 30 19
wait_for "Поверка завершена." 120
row 22 | grep -qE '^16  220.00   5.800   1.00 ABC ' || fail "row 22: $(row 22)"
row 23 | grep -qE '^17  220.00   5.850   1.00 ABC ' || fail "row 23: $(row 23)"
# Each row ends with its whole state before the panel's column 80.
left80() { LC_ALL=C.UTF-8 sed -E 's/^(.{0,80}).*/\1/'; }
for r in 22 23; do
  row $r | left80 | grep -qE ' (годен|не годен|не изм\.) *$' || fail "row $r is cut: $(row $r)"
done
row 23 | left80 | grep -qE ' не годен *$' || fail "point 17 is not failed: $(row 23)"
[ -z "$(row 24 | cut -c1-76 | tr -d ' ')" ] || fail "row 24 kept a row of the first table: $(row 24)"
(cd "$WORK" && "$QS" report --last 1 --csv points.csv >/dev/null) || fail "no report of the run"
points=$(grep -c ';ABC;' "$WORK/points.csv") || true
[ "$points" = "17" ] || fail "the record holds $points points, not 17"
keys Enter
menu_ready
# Esc while the installation keeps failing the pulse-error step ends the run.
touch "$WORK/stuck"
keys 8
wait_for " <1>  Ver E2E"
keys 1
wait_for "Error ZU:" 60
keys Escape
wait_for "Поверка прервана." 20
[ "$(tail -c 1 "$WORK/zu.keys")" = ">" ] || fail "the installation was not reset after the run was ended"
rm -f "$WORK/stuck"
keys Enter
menu_ready
keys Escape
status=$(wait_exit 15)
[ "$status" = "0" ] || fail "exit status $status"
echo "ok"
